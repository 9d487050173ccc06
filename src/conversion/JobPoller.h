#pragma once

#include "service/ServiceError.h"
#include "service/Sleep.h"
#include "service/WireRecords.h"

#include <QList>
#include <QString>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace quorvel {

// The product's pace: a check every 3 seconds; a retried job at most 100 times.
constexpr int kPollIntervalMs = 3000;
constexpr int kRetryMaxAttempts = 100;

// When a polling stops, and the lines it writes on the way: a new job is followed until
// it finishes, a retried one at most a number of times; either ends on a job the
// service does not know.
struct PollRules {
    std::chrono::milliseconds interval{3000};
    int maxAttempts = 0; // 0: no limit
    QList<qint64> endingStatuses;
    QList<qint64> unknownJobCodes{404};

    QString startedLine;
    QString (*checkingLine)(const QString &jobId, int attempt) = nullptr;
    QString (*failedLine)(const ServiceError &error) = nullptr;
    QString statusLinePrefix;
    QString completedLine;   // on status completed; empty: none
    QString endedLine;       // on any ending status; empty: none
    QString gaveUpLine;      // when the attempts are used up
    QString interruptedLine; // when a wait is cut short; empty: none

    // A job just accepted: every interval until it is completed or failed.
    static PollRules newJob(int intervalMs);
    // A retried job: the same, at most `maxAttempts` checks.
    static PollRules retriedJob(int intervalMs, int maxAttempts);
};

struct PollResult {
    enum class End { Finished, UnknownJob, GaveUp, Cancelled };
    End end = End::Cancelled;
    // The last record the service answered (the asked id alone before any answer).
    ConversionTask lastSeen;
    std::optional<ServiceError> error; // UnknownJob: the status check's error
};

// Follows one job by its status checks. The wait between checks is measured from the end
// of the previous check; `lifetime` cancelled ends the polling at once.
class JobPoller {
public:
    using Seen = std::function<void(const ConversionTask &)>;
    // `seen` receives each record the service answered, before the polling decides.
    static QCoro::Task<PollResult> follow(QString jobId, PollRules rules, CancelTokenPtr lifetime,
                                          Seen seen = {});
};

} // namespace quorvel
