#pragma once

#include <QObject>

namespace quorvel {

// A job's status as the service numbers it. Records keep the number (an unknown value
// stays what the service sent); code that decides on a status names it.
class JobStatusInfo {
    Q_GADGET
public:
    enum class JobStatus : qint64 { Converting = 0, Completed = 1, Failed = 2 };
    Q_ENUM(JobStatus)
};
using JobStatus = JobStatusInfo::JobStatus;

constexpr qint64 statusNumber(JobStatus status) {
    return qint64(status);
}
constexpr bool hasStatus(qint64 number, JobStatus status) {
    return number == qint64(status);
}
// Completed or failed: the service will not change the job any more.
constexpr bool isFinished(qint64 number) {
    return hasStatus(number, JobStatus::Completed) || hasStatus(number, JobStatus::Failed);
}

} // namespace quorvel
