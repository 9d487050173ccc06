#pragma once

#include "cli/CommandLine.h"
#include "cli/Terminal.h"
#include "conversion/JobPoller.h"
#include "service/Sleep.h"
#include "service/WireRecords.h"

#include <QCoroTask>

#include <memory>
#include <optional>

namespace quorvel {
class AuthManager;
class ConversionTaskModel;
} // namespace quorvel

namespace quorvel::cli {

class Wakeup;

// Runs one command over the core's services (the account, the conversion run, the job
// poller, the history fetch, the download and the retry), without the desktop window's
// view model. Results go to standard output, errors to standard error; the result is the
// exit status. Every polling this runner starts ends with it.
class Commands {
public:
    Commands(Invocation invocation, std::optional<int> pollIntervalMs);
    ~Commands();

    QCoro::Task<int> run();

private:
    QCoro::Task<int> dispatch();
    QCoro::Task<int> login();
    int logout();
    QCoro::Task<int> whoami();
    QCoro::Task<int> balance();
    int operations();
    QCoro::Task<int> convert();
    QCoro::Task<int> status();
    QCoro::Task<int> history();
    QCoro::Task<int> download();
    QCoro::Task<int> retry();

    // Loads the account of the stored token; false (with the error written) when there is
    // no token or the account details could not be loaded.
    QCoro::Task<bool> loadAccount();
    // Fetches the history into the list; the error text when the fetch failed.
    QCoro::Task<std::optional<QString>> fetchHistory();
    // The job with this id in the fetched history, or nothing (with the error written).
    QCoro::Task<std::optional<ConversionTask>> findInHistory(const QString &jobId);
    // Follows one job by the id it was accepted with; its end lands in m_finished.
    QCoro::Task<> follow(QString jobId, PollRules rules);
    // Waits until the polling of every listed job has ended; false (said on standard error)
    // when --timeout passed first.
    QCoro::Task<bool> waitForJobs(QList<ConversionTask> jobs);
    // The job as its polling last saw it (as accepted when it has not ended).
    ConversionTask endedJob(const ConversionTask &accepted) const;
    QString unknownJobText(const QString &jobId, const ServiceError &error) const;

    void printResult(const QString &text);
    void printResult(const QByteArray &bytes);
    void printJobs(const QList<ConversionTask> &tasks);
    void printJob(const ConversionTask &task);
    void printError(const QString &line);

    Invocation m_invocation;
    int m_pollIntervalMs;
    ProgressDisplay m_progress;
    std::unique_ptr<AuthManager> m_auth;
    std::unique_ptr<ConversionTaskModel> m_tasks; // the fetched history
    std::unique_ptr<Wakeup> m_wakeup;             // a polling ended, or the deadline passed
    // Jobs whose polling ended, by the id they were followed with.
    QHash<QString, PollResult> m_finished;
    CancelTokenPtr m_lifetime = makeCancelToken();
};

// Whether the command talks to the service (and so needs a usable origin).
bool needsService(Command command);
// Creates the directory when missing; the error text when it cannot be written into.
std::optional<QString> prepareDirectory(const QString &path);

} // namespace quorvel::cli
