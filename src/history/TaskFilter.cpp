#include "history/TaskFilter.h"

#include "service/JobStatus.h"

namespace quorvel {

QString rawValue(TaskFilter filter) {
    switch (filter) {
    case TaskFilter::All:
        return QStringLiteral("All");
    case TaskFilter::Completed:
        return QStringLiteral("Completed");
    case TaskFilter::Converting:
        return QStringLiteral("Converting");
    case TaskFilter::Failed:
        return QStringLiteral("Failed");
    }
    return {};
}

std::optional<TaskFilter> taskFilterFromRawValue(const QString &raw) {
    for (TaskFilter f : allTaskFilters())
        if (rawValue(f) == raw)
            return f;
    return std::nullopt;
}

QList<TaskFilter> allTaskFilters() {
    return {TaskFilter::All, TaskFilter::Completed, TaskFilter::Converting, TaskFilter::Failed};
}

bool keeps(TaskFilter filter, qint64 status) {
    switch (filter) {
    case TaskFilter::All:
        return true;
    case TaskFilter::Completed:
        return hasStatus(status, JobStatus::Completed);
    case TaskFilter::Converting:
        return hasStatus(status, JobStatus::Converting);
    case TaskFilter::Failed:
        return hasStatus(status, JobStatus::Failed);
    }
    return false;
}

} // namespace quorvel
