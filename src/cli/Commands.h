#pragma once

#include "cli/CommandLine.h"
#include "cli/Terminal.h"
#include "service/WireRecords.h"

#include <QCoroTask>

#include <memory>
#include <optional>

namespace quorvel {
class AuthManager;
class PDFViewModel;
} // namespace quorvel

namespace quorvel::cli {

// Runs one command over the core's AuthManager and PDFViewModel. Results go to standard
// output, errors to standard error; the result is the exit status. The objects live as
// long as this runner, so no task of theirs outlives what it points to.
class Commands
{
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

    PDFViewModel &viewModel();
    // Loads the account of the stored token; false (with the error written) when there is
    // no token or the account details could not be loaded.
    QCoro::Task<bool> loadAccount();
    // Fetches the history into the view model; the error text when the fetch failed.
    QCoro::Task<std::optional<QString>> fetchHistory();
    // The job with this id in the fetched history, or nothing (with the error written).
    QCoro::Task<std::optional<ConversionTask>> findInHistory(const QString &jobId);
    // Waits until the polling of every listed job has ended; the jobs as they ended.
    QCoro::Task<QList<ConversionTask>> waitForJobs(QList<ConversionTask> jobs);

    void printResult(const QString &text);
    void printResult(const QByteArray &bytes);
    void printJobs(const QList<ConversionTask> &tasks);
    void printJob(const ConversionTask &task);
    void printError(const QString &line);

    Invocation m_invocation;
    std::optional<int> m_pollIntervalMs;
    ProgressDisplay m_progress;
    std::unique_ptr<AuthManager> m_auth;
    std::unique_ptr<PDFViewModel> m_viewModel;
    // Jobs whose polling ended, by id, as the view model reported them.
    QHash<QString, ConversionTask> m_finished;
    // Set when --timeout ended a wait: the line that says so.
    QString m_gaveUp;
};

// Whether the command talks to the service (and so needs a usable origin).
bool needsService(Command command);
// Creates the directory when missing; the error text when it cannot be written into.
std::optional<QString> prepareDirectory(const QString &path);

} // namespace quorvel::cli
