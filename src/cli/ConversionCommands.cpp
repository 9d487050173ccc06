// The commands that convert: convert, retry, and the following of their jobs.

#include "cli/CommandText.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Wakeup.h"
#include "conversion/ConversionRun.h"
#include "conversion/Downloader.h"
#include "history/RetryRequest.h"
#include "service/JobStatus.h"

#include <QDir>
#include <QJsonArray>
#include <QTimer>

namespace quorvel::cli {

// --- conversion ---

QCoro::Task<> Commands::follow(QString jobId, PollRules rules) {
    const CancelTokenPtr lifetime = m_lifetime;
    PollResult result = co_await JobPoller::follow(jobId, std::move(rules), lifetime);
    if (result.end == PollResult::End::Cancelled)
        co_return;
    // The desktop app reloads the history when a polling ends; so does a traced run.
    co_await fetchHistory();
    if (lifetime->isCancelled())
        co_return;
    m_finished.insert(jobId, std::move(result));
    m_wakeup->notify();
}

QCoro::Task<bool> Commands::waitForJobs(QList<ConversionTask> jobs) {
    QTimer deadline;
    deadline.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(&deadline, &QTimer::timeout, [&] {
        timedOut = true;
        m_wakeup->notify();
    });
    if (m_invocation.timeoutSeconds)
        deadline.start(std::chrono::seconds(*m_invocation.timeoutSeconds));
    // Followed by the id each job was accepted with, whatever id the answers carry.
    const auto pending = [&] {
        qsizetype n = 0;
        for (const ConversionTask &job : std::as_const(jobs))
            if (!m_finished.contains(job.id))
                ++n;
        return n;
    };
    while (const qsizetype n = pending()) {
        const QString count = plural(n, QStringLiteral("job"), QStringLiteral("jobs"));
        if (timedOut) {
            m_progress.clear();
            printError(QStringLiteral("Gave up waiting for %1 after %2 s")
                           .arg(count)
                           .arg(*m_invocation.timeoutSeconds));
            co_return false;
        }
        m_progress.startSpinner(QStringLiteral("Waiting for %1").arg(count));
        co_await *m_wakeup;
    }
    m_progress.clear();
    co_return true;
}

ConversionTask Commands::endedJob(const ConversionTask &accepted) const {
    const auto it = m_finished.constFind(accepted.id);
    return it == m_finished.constEnd() ? accepted : it->lastSeen;
}

QCoro::Task<int> Commands::convert() {
    QList<QUrl> files;
    for (const QString &path : std::as_const(m_invocation.files)) {
        if (const auto problem = unreadableFile(path)) {
            printError(*problem);
            co_return 1;
        }
        files.append(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    }
    QString downloadDir;
    if (!m_invocation.downloadDir.isEmpty()) {
        if (const auto problem = prepareDirectory(m_invocation.downloadDir)) {
            printError(*problem);
            co_return 1;
        }
        downloadDir = QDir(m_invocation.downloadDir).absolutePath();
    }

    // The jobs in the order they were accepted, which is the files' order; each is
    // followed from the moment it is accepted.
    QList<ConversionTask> accepted;
    ProcessingState state;
    ConversionRunHooks hooks;
    hooks.stateChanged = [&state](const ProcessingState &s) { state = s; };
    hooks.uploadsStarting = [this] { m_progress.showProgress(0, QStringLiteral("Uploading")); };
    hooks.fileUploaded = [this](const FileUploadData &, qsizetype, double progress) {
        m_progress.showProgress(progress, QStringLiteral("Uploading"));
    };
    hooks.jobAccepted = [this, &accepted](const ConversionTask &task) {
        accepted.append(task);
        follow(task.id, PollRules::newJob(m_pollIntervalMs));
    };
    ConversionRun run(std::move(hooks));
    co_await run.process(m_invocation.operation, files);
    if (!state.isError() && !accepted.isEmpty())
        m_progress.showProgress(1, QStringLiteral("Uploaded"));
    m_progress.clear();

    const bool runFailed = state.isError() || accepted.isEmpty();
    if (!m_invocation.wait) {
        if (!accepted.isEmpty())
            printJobs(accepted);
        if (runFailed)
            printError(state.isError() ? state.message()
                                       : QStringLiteral("The service accepted no job"));
        co_return runFailed ? 1 : 0;
    }

    // Jobs accepted before a refused request are still followed: nothing is lost.
    const bool allEnded = co_await waitForJobs(accepted);
    QList<ConversionTask> ended;
    QJsonArray jsonJobs;
    QStringList saved;
    QStringList problems;
    qsizetype failedJobs = 0;
    for (const ConversionTask &job : std::as_const(accepted)) {
        const ConversionTask last = endedJob(job);
        ended.append(last);
        const auto result = m_finished.constFind(job.id);
        if (result != m_finished.constEnd() && result->end == PollResult::End::UnknownJob)
            problems << unknownJobText(job.id, *result->error);
        if (hasStatus(last.status, JobStatus::Failed))
            ++failedJobs;
        if (!hasStatus(last.status, JobStatus::Completed) || downloadDir.isEmpty()) {
            jsonJobs.append(last.toJson());
            continue;
        }
        try {
            const QString path = co_await Downloader::download(last, downloadDir);
            saved << path;
            jsonJobs.append(savedJob(last, path));
        } catch (const std::exception &e) {
            problems << QStringLiteral("Download failed: ") + errorText(e);
            jsonJobs.append(last.toJson());
        }
    }
    if (m_invocation.json) {
        printResult(jsonDocument(jsonJobs));
    } else {
        QString text = ended.isEmpty() ? QString() : jobTable(ended);
        for (const QString &path : std::as_const(saved))
            text += QStringLiteral("Saved %1\n").arg(path);
        printResult(text);
    }
    if (state.isError())
        printError(state.message());
    else if (accepted.isEmpty())
        printError(QStringLiteral("The service accepted no job"));
    for (const QString &line : std::as_const(problems))
        printError(line);
    if (failedJobs > 0)
        printError(
            failedJobs == ended.size() && ended.size() == 1
                ? QStringLiteral("The job ended failed")
                : QStringLiteral("%1 of %2 ended failed")
                      .arg(failedJobs)
                      .arg(plural(ended.size(), QStringLiteral("job"), QStringLiteral("jobs"))));
    co_return (runFailed || !allEnded || failedJobs > 0 || !problems.isEmpty()) ? 1 : 0;
}

QCoro::Task<int> Commands::retry() {
    const auto job = co_await findInHistory(m_invocation.jobId);
    if (!job)
        co_return 1;
    if (!hasStatus(job->status, JobStatus::Failed)) {
        printError(QStringLiteral("Job '%1' is %2; only a failed job can be retried")
                       .arg(cellText(job->id), statusWord(job->status)));
        co_return 1;
    }

    ConversionTask newJob;
    try {
        newJob = co_await RetryRequest::send(*job);
    } catch (const ServiceError &e) {
        printError(e.description());
        co_return 1;
    }
    if (!m_invocation.wait) {
        printJob(newJob);
        co_return 0;
    }
    follow(newJob.id, PollRules::retriedJob(m_pollIntervalMs, kRetryMaxAttempts));
    // Named, not braced in the call: GCC 12 cannot keep an initializer list in a coroutine.
    QList<ConversionTask> followed;
    followed.append(newJob);
    const bool waited = co_await waitForJobs(followed);
    const ConversionTask ended = endedJob(newJob);
    printJob(ended);
    if (!waited)
        co_return 1;
    const PollResult &result = m_finished[newJob.id];
    if (result.end == PollResult::End::UnknownJob) {
        printError(unknownJobText(newJob.id, *result.error));
        co_return 1;
    }
    if (hasStatus(ended.status, JobStatus::Completed))
        co_return 0;
    printError(hasStatus(ended.status, JobStatus::Failed)
                   ? QStringLiteral("The job ended failed") +
                         (ended.failReason.isEmpty()
                              ? QString()
                              : QStringLiteral(": ") + cellText(ended.failReason))
                   : QStringLiteral("Gave up waiting for job '%1' after %2 checks")
                         .arg(cellText(ended.id))
                         .arg(kRetryMaxAttempts));
    co_return 1;
}

QString Commands::unknownJobText(const QString &jobId, const ServiceError &error) const {
    return QStringLiteral("The service does not know job '%1': %2")
        .arg(cellText(jobId), error.description());
}

} // namespace quorvel::cli
