#include "cli/Commands.h"

#include "cli/CommandText.h"
#include "cli/Output.h"
#include "cli/Wakeup.h"
#include "conversion/ConversionRun.h"
#include "conversion/Downloader.h"
#include "conversion/StatusCheck.h"
#include "history/ConversionTaskModel.h"
#include "history/FilteredTaskModel.h"
#include "history/HistoryFetch.h"
#include "history/RetryRequest.h"
#include "service/AuthManager.h"
#include "service/BalanceFigures.h"
#include "service/JobStatus.h"
#include "service/LogCategories.h"
#include "service/ServiceError.h"
#include "service/Sleep.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <QCoroSignal>

#include <coroutine>
#include <utility>

namespace quorvel::cli {
namespace {

const QString kNotSignedIn =
    QStringLiteral("Not signed in; sign in with 'quorvel-cli login EMAIL' first");

} // namespace

bool needsService(Command command) {
    switch (command) {
    case Command::Help:
    case Command::Version:
    case Command::Operations:
    case Command::Logout:
        return false;
    default:
        return true;
    }
}

std::optional<QString> prepareDirectory(const QString &path) {
    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        return QStringLiteral("cannot save into '%1': it is not a directory").arg(path);
    if (!info.exists() && !QDir().mkpath(path))
        return QStringLiteral("cannot create the directory '%1'").arg(path);
    if (!QFileInfo(path).isWritable())
        return QStringLiteral("cannot save into '%1': permission denied").arg(path);
    return std::nullopt;
}

Commands::Commands(Invocation invocation, std::optional<int> pollIntervalMs)
    : m_invocation(std::move(invocation))
    , m_pollIntervalMs(pollIntervalMs.value_or(kPollIntervalMs))
    , m_progress(isTerminal(stderr))
    , m_tasks(std::make_unique<ConversionTaskModel>())
    , m_wakeup(std::make_unique<Wakeup>()) {
    // The desktop app's diagnostic lines: on standard error, unchanged, when asked for;
    // otherwise nowhere (and not even built), so standard output carries only results.
    if (m_invocation.trace) {
        Log::setSink([this](const QString &line) {
            m_progress.clear();
            writeTo(stderr, line + u'\n');
        });
    } else {
        Log::setSink({});
    }
}

Commands::~Commands() {
    m_progress.clear();
    // Every polling still running ends now, before the account goes.
    m_lifetime->cancel();
    m_auth.reset();
    Log::setSink({});
}

void Commands::printResult(const QString &text) {
    printResult(text.toUtf8());
}

void Commands::printResult(const QByteArray &bytes) {
    m_progress.clear();
    writeTo(stdout, bytes);
}

void Commands::printError(const QString &line) {
    m_progress.clear();
    writeTo(stderr, line + u'\n');
}

void Commands::printJobs(const QList<ConversionTask> &tasks) {
    if (m_invocation.json)
        printResult(jsonDocument(jobArray(tasks)));
    else
        printResult(jobTable(tasks));
}

void Commands::printJob(const ConversionTask &task) {
    if (m_invocation.json)
        printResult(jsonDocument(task.toJson()));
    else
        printResult(jobTable({task}));
}

QCoro::Task<int> Commands::run() {
    try {
        co_return co_await dispatch();
    } catch (const std::exception &e) {
        printError(errorText(e));
        co_return 1;
    }
}

QCoro::Task<int> Commands::dispatch() {
    switch (m_invocation.command) {
    case Command::Login:
        co_return co_await login();
    case Command::Logout:
        co_return logout();
    case Command::Whoami:
        co_return co_await whoami();
    case Command::Balance:
        co_return co_await balance();
    case Command::Operations:
        co_return operations();
    case Command::Convert:
        co_return co_await convert();
    case Command::Status:
        co_return co_await status();
    case Command::History:
        co_return co_await history();
    case Command::Download:
        co_return co_await download();
    case Command::Retry:
        co_return co_await retry();
    case Command::Help:
    case Command::Version:
        break;
    }
    co_return 0;
}

// --- account ---

QCoro::Task<int> Commands::login() {
    std::optional<QString> password;
    if (!m_invocation.passwordStdin && isTerminal(stdin))
        password = readPasswordFromTerminal(QStringLiteral("Password: "));
    else
        password = readLineFromStandardInput();
    if (!password) {
        printError(QStringLiteral("No password given: standard input ended before a line"));
        co_return 1;
    }
    if (password->isEmpty()) {
        printError(QStringLiteral("The password must not be empty"));
        co_return 1;
    }

    // No start-up fetch: a stored token's account would race the new sign-in's.
    m_auth = std::make_unique<AuthManager>(AuthManager::StartupFetch::None);
    try {
        co_await m_auth->login(m_invocation.email, *password);
    } catch (const ServiceError &e) {
        printError(loginFailureMessage(e));
        co_return 1;
    }
    const QString email = m_auth->currentUser() ? m_auth->currentUser()->email : m_invocation.email;
    if (m_invocation.json)
        printResult(jsonDocument(QJsonObject{{QStringLiteral("email"), email}}));
    else
        printResult(QStringLiteral("Signed in as %1\n").arg(cellText(email)));
    if (m_auth->error())
        printError(QStringLiteral("Signed in, but the account details could not be loaded: ") +
                   *m_auth->error());
    co_return 0;
}

int Commands::logout() {
    m_auth = std::make_unique<AuthManager>(AuthManager::StartupFetch::None);
    m_auth->logout();
    if (!m_invocation.json)
        printResult(QStringLiteral("Signed out\n"));
    return 0;
}

QCoro::Task<bool> Commands::loadAccount() {
    // Creation loads the stored token's account, as the desktop app does at start.
    m_auth = std::make_unique<AuthManager>();
    if (!m_auth->isLoggedIn()) {
        printError(kNotSignedIn);
        co_return false;
    }
    if (m_auth->restoreRunning())
        co_await qCoro(m_auth.get(), &AuthManager::restoreFinished);
    if (!m_auth->userInfo()) {
        printError(m_auth->error().value_or(QStringLiteral("The account details are missing")));
        co_return false;
    }
    co_return true;
}

QCoro::Task<int> Commands::whoami() {
    if (!co_await loadAccount())
        co_return 1;
    const UserInfoData &info = *m_auth->userInfo();
    if (m_invocation.json)
        printResult(jsonDocument(info.toJson()));
    else
        printResult(whoamiText(info));
    co_return 0;
}

QCoro::Task<int> Commands::balance() {
    if (!co_await loadAccount())
        co_return 1;
    const BalanceFigures figures = BalanceFigures::from(m_auth->userInfo(), m_auth->pageBalance());
    // Only a lifetime membership's face needs no page balance.
    const bool needsPages = m_invocation.json || figures.face != BalanceFigures::Face::Lifetime;
    if (needsPages && !m_auth->pageBalance()) {
        printError(m_auth->error().value_or(QStringLiteral("The page balance is missing")));
        co_return 1;
    }
    if (m_invocation.json)
        printResult(jsonDocument(m_auth->pageBalance()->toJson()));
    else
        printResult(balanceText(figures));
    co_return 0;
}

int Commands::operations() {
    if (m_invocation.json)
        printResult(jsonDocument(operationsArray()));
    else
        printResult(operationsTable());
    return 0;
}

QCoro::Task<int> Commands::status() {
    try {
        const ConversionTask task = co_await StatusCheck::check(m_invocation.jobId);
        printJob(task);
    } catch (const ServiceError &e) {
        printError(e.description());
        co_return 1;
    }
    co_return 0;
}

// --- history ---

QCoro::Task<std::optional<QString>> Commands::fetchHistory() {
    m_progress.startSpinner(QStringLiteral("Loading history"));
    const CancelTokenPtr lifetime = m_lifetime;
    // Named, not a temporary of the co_await: GCC 12 may destroy such a temporary twice.
    std::function<bool()> wanted = [lifetime] { return !lifetime->isCancelled(); };
    std::optional<HistoryOutcome> outcome = co_await HistoryFetch::fetch(std::move(wanted));
    if (!outcome)
        co_return QString();
    m_progress.clear();
    m_tasks->setTasks(std::move(outcome->tasks));
    if (!outcome->lineAfterPublish.isEmpty())
        Log::write(lcHistory(), outcome->lineAfterPublish);
    // A failed fetch lists nothing, like an account without jobs; a script must not
    // mistake a refused or broken request for "no jobs".
    if (!outcome->failure)
        co_return std::nullopt;
    if (outcome->failure->code() == 401)
        co_return QStringLiteral("The service refused the sign-in (status 401); "
                                 "sign in with 'quorvel-cli login EMAIL'");
    co_return outcome->failure->description();
}

QCoro::Task<int> Commands::history() {
    FilteredTaskModel filtered(m_tasks.get());
    filtered.setFilter(m_invocation.filter);
    filtered.setSearchText(m_invocation.search);
    if (const auto failure = co_await fetchHistory()) {
        printError(*failure);
        co_return 1;
    }
    const QList<ConversionTask> tasks = filtered.tasks();
    if (!m_invocation.json && tasks.isEmpty())
        printResult(m_invocation.search.isEmpty() ? QStringLiteral("No conversion tasks yet\n")
                                                  : QStringLiteral("No matching tasks found\n"));
    else
        printJobs(tasks);
    co_return 0;
}

QCoro::Task<std::optional<ConversionTask>> Commands::findInHistory(const QString &jobId) {
    if (const auto failure = co_await fetchHistory()) {
        printError(*failure);
        co_return std::nullopt;
    }
    const qsizetype row = m_tasks->indexOfId(jobId);
    if (row < 0) {
        printError(QStringLiteral("No job with ID '%1' in the history").arg(cellText(jobId)));
        co_return std::nullopt;
    }
    co_return m_tasks->tasks().at(row);
}

QCoro::Task<int> Commands::download() {
    const auto job = co_await findInHistory(m_invocation.jobId);
    if (!job)
        co_return 1;
    if (!hasStatus(job->status, JobStatus::Completed)) {
        printError(QStringLiteral("Job '%1' is %2; only a completed job has a result")
                       .arg(cellText(job->id), statusWord(job->status)));
        co_return 1;
    }
    QString directory;
    if (!m_invocation.toDir.isEmpty()) {
        if (const auto problem = prepareDirectory(m_invocation.toDir)) {
            printError(*problem);
            co_return 1;
        }
        directory = QDir(m_invocation.toDir).absolutePath();
    }
    QString path;
    try {
        m_progress.startSpinner(QStringLiteral("Downloading"));
        path = co_await Downloader::download(*job, directory);
    } catch (const std::exception &e) {
        printError(QStringLiteral("Download failed: ") + errorText(e));
        co_return 1;
    }
    if (m_invocation.json)
        printResult(jsonDocument(savedJob(*job, path)));
    else
        printResult(path + u'\n');
    co_return 0;
}

} // namespace quorvel::cli
