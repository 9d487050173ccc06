#pragma once

#include <QObject>
#include <QString>

namespace quorvel {

// The status filter of the history page; each case's raw value is its chip title.
class TaskFilterInfo {
    Q_GADGET
public:
    enum class TaskFilter : quint8 { All, Completed, Converting, Failed };
    Q_ENUM(TaskFilter)
};
using TaskFilter = TaskFilterInfo::TaskFilter;

QString rawValue(TaskFilter filter);
std::optional<TaskFilter> taskFilterFromRawValue(const QString &raw);
// The cases in chip order.
QList<TaskFilter> allTaskFilters();
// Whether a job with this status is kept: 0 converting, 1 completed, 2 failed.
bool keeps(TaskFilter filter, qint64 status);

} // namespace quorvel
