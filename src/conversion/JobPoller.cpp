#include "conversion/JobPoller.h"

#include "conversion/StatusCheck.h"
#include "service/JobStatus.h"
#include "service/LogCategories.h"

namespace quorvel {

PollRules PollRules::newJob(int intervalMs) {
    PollRules r;
    r.interval = std::chrono::milliseconds(intervalMs);
    r.endingStatuses = {statusNumber(JobStatus::Completed), statusNumber(JobStatus::Failed)};
    r.startedLine = QStringLiteral("startConversion - 开始轮询任务状态");
    r.checkingLine = [](const QString &jobId, int) {
        return QStringLiteral("startConversion - 检查任务状态: ") + jobId;
    };
    r.failedLine = [](const ServiceError &) {
        return QStringLiteral("startConversion - 获取任务状态失败");
    };
    r.statusLinePrefix = QStringLiteral("startConversion - 获取到更新的任务状态: ");
    r.completedLine = QStringLiteral("startConversion - 任务已完成");
    return r;
}

PollRules PollRules::retriedJob(int intervalMs, int maxAttempts) {
    PollRules r;
    r.interval = std::chrono::milliseconds(intervalMs);
    r.maxAttempts = maxAttempts;
    r.endingStatuses = {statusNumber(JobStatus::Completed), statusNumber(JobStatus::Failed)};
    r.startedLine = QStringLiteral("🔄 重试任务 - 开始轮询任务状态");
    r.checkingLine = [](const QString &jobId, int attempt) {
        return QStringLiteral("🔄 重试任务 - 检查任务状态: %1, 第 %2 次尝试")
            .arg(jobId, QString::number(attempt));
    };
    r.failedLine = [](const ServiceError &error) {
        return QStringLiteral("🔄 重试任务 - 获取任务状态失败: ") + error.description();
    };
    r.statusLinePrefix = QStringLiteral("🔄 重试任务 - 获取到更新的任务状态: ");
    r.endedLine = QStringLiteral("🔄 重试任务 - 任务已结束(完成或失败)，停止轮询");
    r.gaveUpLine = QStringLiteral("🔄 重试任务 - 达到最大尝试次数，停止轮询");
    // What an interrupted wait reports: the task was cancelled.
    r.interruptedLine = QStringLiteral("🔄 重试任务 - 轮询期间出错: ") +
                        ServiceError(QStringLiteral("CancellationError"), 1).description();
    return r;
}

QCoro::Task<PollResult> JobPoller::follow(QString jobId, PollRules rules, CancelTokenPtr lifetime,
                                          Seen seen) {
    PollResult result;
    result.lastSeen.id = jobId;
    Log::write(lcConversion(), rules.startedLine);
    for (int attempt = 0;;) {
        if (!co_await sleepFor(rules.interval, lifetime)) {
            if (!rules.interruptedLine.isEmpty())
                Log::write(lcConversion(), rules.interruptedLine);
            co_return result; // cancelled
        }
        Log::write(lcConversion(), rules.checkingLine(jobId, attempt + 1));
        std::optional<ConversionTask> current;
        std::optional<ServiceError> failure;
        try {
            current = co_await StatusCheck::check(jobId);
        } catch (const ServiceError &e) {
            failure = e;
        } catch (const std::exception &e) {
            failure = ServiceError(QString::fromUtf8(e.what()), -1); // a failed check too
        }
        if (lifetime->isCancelled())
            co_return result;
        if (failure) {
            Log::write(lcConversion(), rules.failedLine(*failure));
            // The service does not know the job: asking again cannot change that.
            if (failure->family() == ServiceError::Family::Service &&
                rules.unknownJobCodes.contains(failure->code())) {
                result.end = PollResult::End::UnknownJob;
                result.error = failure;
                co_return result;
            }
        } else {
            Log::write(lcConversion(), rules.statusLinePrefix + QString::number(current->status));
            if (seen)
                seen(*current);
            result.lastSeen = *current;
            if (rules.endingStatuses.contains(current->status)) {
                if (hasStatus(current->status, JobStatus::Completed) &&
                    !rules.completedLine.isEmpty())
                    Log::write(lcConversion(), rules.completedLine);
                if (!rules.endedLine.isEmpty())
                    Log::write(lcConversion(), rules.endedLine);
                result.end = PollResult::End::Finished;
                co_return result;
            }
        }
        ++attempt;
        if (rules.maxAttempts > 0 && attempt >= rules.maxAttempts) {
            Log::write(lcConversion(), rules.gaveUpLine);
            result.end = PollResult::End::GaveUp;
            co_return result;
        }
    }
}

} // namespace quorvel
