#include "cli/Commands.h"

#include "cli/Output.h"
#include "conversion/PDFViewModel.h"
#include "service/AuthManager.h"
#include "service/BalanceFigures.h"
#include "service/Log.h"
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

QString plural(qsizetype n, const QString &one, const QString &many)
{
    return QString::number(n) + u' ' + (n == 1 ? one : many);
}

// Why a file cannot be uploaded, checked before anything is sent so nothing is lost.
std::optional<QString> unreadableFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("cannot read '%1': no such file").arg(path);
    if (info.isDir())
        return QStringLiteral("cannot read '%1': it is a directory").arg(path);
    if (!info.isReadable())
        return QStringLiteral("cannot read '%1': permission denied").arg(path);
    return std::nullopt;
}

// Lets a coroutine wait for "something changed" from signals that may fire several times
// in a row. The waiter resumes from the event loop, never inside the emitting code, and a
// notification while nobody waits is kept, so none is lost. (Awaiting such a signal
// directly can deliver a second queued emission to an awaiter that is already gone.)
class Wakeup
{
public:
    ~Wakeup() { *m_alive = false; }

    void notify()
    {
        m_pending = true;
        if (!m_waiter)
            return;
        const std::coroutine_handle<> waiter = std::exchange(m_waiter, {});
        QTimer::singleShot(0, [waiter, alive = m_alive] {
            if (*alive)
                waiter.resume();
        });
    }

    auto operator co_await()
    {
        struct Awaiter
        {
            Wakeup &wakeup;
            bool await_ready() const noexcept { return wakeup.m_pending; }
            void await_suspend(std::coroutine_handle<> handle) noexcept
            {
                wakeup.m_waiter = handle;
            }
            void await_resume() noexcept { wakeup.m_pending = false; }
        };
        return Awaiter{*this};
    }

private:
    bool m_pending = false;
    std::coroutine_handle<> m_waiter;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

QString errorText(const std::exception &e)
{
    if (const auto *service = dynamic_cast<const ServiceError *>(&e))
        return service->description();
    return QString::fromLocal8Bit(e.what());
}

} // namespace

bool needsService(Command command)
{
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

std::optional<QString> prepareDirectory(const QString &path)
{
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
    , m_pollIntervalMs(pollIntervalMs)
    , m_progress(isTerminal(stderr))
{
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

Commands::~Commands()
{
    m_progress.clear();
    // The view model first: its polling tasks end before the account goes.
    m_viewModel.reset();
    m_auth.reset();
    Log::setSink({});
}

void Commands::printResult(const QString &text)
{
    printResult(text.toUtf8());
}

void Commands::printResult(const QByteArray &bytes)
{
    m_progress.clear();
    writeTo(stdout, bytes);
}

void Commands::printError(const QString &line)
{
    m_progress.clear();
    writeTo(stderr, line + u'\n');
}

void Commands::printJobs(const QList<ConversionTask> &tasks)
{
    if (m_invocation.json)
        printResult(jsonDocument(jobArray(tasks)));
    else
        printResult(jobTable(tasks));
}

void Commands::printJob(const ConversionTask &task)
{
    if (m_invocation.json)
        printResult(jsonDocument(task.toJson()));
    else
        printResult(jobTable({task}));
}

PDFViewModel &Commands::viewModel()
{
    if (!m_viewModel) {
        m_viewModel = std::make_unique<PDFViewModel>();
        if (m_pollIntervalMs) {
            m_viewModel->pollIntervalMs = *m_pollIntervalMs;
            m_viewModel->retryPollIntervalMs = *m_pollIntervalMs;
        }
        // Keyed by the id the polling asked about: an answer may carry another one.
        QObject::connect(m_viewModel.get(), &PDFViewModel::jobPollingFinished, m_viewModel.get(),
                         [this](const QString &jobId, const ConversionTask &task) {
                             m_finished.insert(jobId, task);
                         });
    }
    return *m_viewModel;
}

QCoro::Task<int> Commands::run()
{
    try {
        co_return co_await dispatch();
    } catch (const std::exception &e) {
        printError(errorText(e));
        co_return 1;
    }
}

QCoro::Task<int> Commands::dispatch()
{
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

QCoro::Task<int> Commands::login()
{
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

int Commands::logout()
{
    m_auth = std::make_unique<AuthManager>(AuthManager::StartupFetch::None);
    m_auth->logout();
    if (!m_invocation.json)
        printResult(QStringLiteral("Signed out\n"));
    return 0;
}

QCoro::Task<bool> Commands::loadAccount()
{
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

QCoro::Task<int> Commands::whoami()
{
    if (!co_await loadAccount())
        co_return 1;
    const UserInfoData &info = *m_auth->userInfo();
    if (m_invocation.json)
        printResult(jsonDocument(info.toJson()));
    else
        printResult(whoamiText(info));
    co_return 0;
}

QCoro::Task<int> Commands::balance()
{
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

int Commands::operations()
{
    if (m_invocation.json)
        printResult(jsonDocument(operationsArray()));
    else
        printResult(operationsTable());
    return 0;
}

// --- conversion ---

QCoro::Task<QList<ConversionTask>> Commands::waitForJobs(QList<ConversionTask> jobs)
{
    PDFViewModel &vm = viewModel();
    Wakeup wakeup;
    const auto finished = QObject::connect(&vm, &PDFViewModel::jobPollingFinished, &vm,
                                           [&wakeup] { wakeup.notify(); });
    QTimer deadline;
    deadline.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(&deadline, &QTimer::timeout, &vm, [&] {
        timedOut = true;
        wakeup.notify();
    });
    if (m_invocation.timeoutSeconds)
        deadline.start(std::chrono::seconds(*m_invocation.timeoutSeconds));
    const auto loading = QObject::connect(&vm, &PDFViewModel::isLoadingHistoryChanged, &vm,
                                          [&wakeup] { wakeup.notify(); });
    const auto pending = [&] {
        qsizetype n = 0;
        for (const ConversionTask &job : std::as_const(jobs))
            if (!m_finished.contains(job.id))
                ++n;
        return n;
    };
    while (const qsizetype n = pending()) {
        if (timedOut) {
            m_gaveUp = QStringLiteral("Gave up waiting for %1 after %2 s")
                           .arg(plural(n, QStringLiteral("job"), QStringLiteral("jobs")))
                           .arg(*m_invocation.timeoutSeconds);
            break;
        }
        m_progress.startSpinner(QStringLiteral("Waiting for %1")
                                    .arg(plural(n, QStringLiteral("job"), QStringLiteral("jobs"))));
        co_await wakeup;
    }
    // A finished polling reloads the history; the run ends after that reload.
    while (vm.isLoadingHistory() && !timedOut)
        co_await wakeup;
    QObject::disconnect(finished);
    QObject::disconnect(loading);
    m_progress.clear();
    QList<ConversionTask> ended;
    for (const ConversionTask &job : std::as_const(jobs))
        ended.append(m_finished.value(job.id, job));
    co_return ended;
}

QCoro::Task<int> Commands::convert()
{
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

    PDFViewModel &vm = viewModel();
    vm.addPickedFiles(files);

    // Every job the run starts is inserted into the list; collect them as they come.
    QList<ConversionTask> accepted;
    ConversionTaskModel *model = vm.conversionTaskModel();
    const auto inserted =
        QObject::connect(model, &QAbstractItemModel::rowsInserted, model,
                         [&accepted, model](const QModelIndex &, int first, int last) {
                             for (int row = first; row <= last; ++row)
                                 accepted.append(model->tasks().at(row));
                         });
    const auto progress =
        QObject::connect(&vm, &PDFViewModel::uploadProgressChanged, &vm, [this, &vm] {
            m_progress.showProgress(vm.uploadProgress(), QStringLiteral("Uploading"));
        });
    co_await vm.processFiles(m_invocation.operation);
    QObject::disconnect(inserted);
    QObject::disconnect(progress);
    // The eased animation towards the end would outlive the run; show where it lands.
    if (!vm.processingState().isError())
        m_progress.showProgress(vm.actualUploadProgress(), QStringLiteral("Uploaded"));
    m_progress.clear();

    const ProcessingState state = vm.processingState();
    const bool runFailed = state.isError() || accepted.isEmpty();
    // The jobs are listed in the order they were accepted, which is the files' order.
    if (!m_invocation.wait) {
        if (!accepted.isEmpty())
            printJobs(accepted);
        if (runFailed)
            printError(state.isError() ? state.message()
                                       : QStringLiteral("The service accepted no job"));
        co_return runFailed ? 1 : 0;
    }

    // Jobs accepted before a refused request are still followed: nothing is lost.
    const QList<ConversionTask> ended = co_await waitForJobs(accepted);
    // A job the service stopped knowing ends the wait in the error state.
    const ProcessingState after = vm.processingState();
    QJsonArray jsonJobs;
    QStringList saved;
    QStringList downloadErrors;
    qsizetype failedJobs = 0;
    for (const ConversionTask &job : ended) {
        if (job.status == 2)
            ++failedJobs;
        if (job.status != 1 || downloadDir.isEmpty()) {
            jsonJobs.append(job.toJson());
            continue;
        }
        try {
            const QString path = co_await vm.downloadFile(job, downloadDir);
            saved << path;
            jsonJobs.append(savedJob(job, path));
        } catch (const std::exception &e) {
            downloadErrors << QStringLiteral("Download failed: ") + errorText(e);
            jsonJobs.append(job.toJson());
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
    if (after.isError())
        printError(after.message());
    else if (accepted.isEmpty())
        printError(QStringLiteral("The service accepted no job"));
    if (!m_gaveUp.isEmpty())
        printError(m_gaveUp);
    for (const QString &line : std::as_const(downloadErrors))
        printError(line);
    if (failedJobs > 0)
        printError(
            failedJobs == ended.size() && ended.size() == 1
                ? QStringLiteral("The job ended failed")
                : QStringLiteral("%1 of %2 ended failed")
                      .arg(failedJobs)
                      .arg(plural(ended.size(), QStringLiteral("job"), QStringLiteral("jobs"))));
    const bool unfinished = after.isError() || !m_gaveUp.isEmpty();
    co_return (runFailed || unfinished || failedJobs > 0 || !downloadErrors.isEmpty()) ? 1 : 0;
}

QCoro::Task<int> Commands::status()
{
    try {
        const ConversionTask task = co_await viewModel().checkTaskStatus(m_invocation.jobId);
        printJob(task);
    } catch (const ServiceError &e) {
        printError(e.description());
        co_return 1;
    }
    co_return 0;
}

// --- history ---

QCoro::Task<std::optional<QString>> Commands::fetchHistory()
{
    PDFViewModel &vm = viewModel();
    // A failed fetch lists nothing, like an account without jobs; a script must not
    // mistake a refused or broken request for "no jobs".
    std::optional<QString> failure;
    const auto failed = QObject::connect(
        &vm, &PDFViewModel::historyFetchFailed, &vm,
        [&failure](const QString &description, qint64 code) {
            failure = code == 401 ? QStringLiteral("The service refused the sign-in (status 401); "
                                                   "sign in with 'quorvel-cli login EMAIL'")
                                  : description;
        });
    m_progress.startSpinner(QStringLiteral("Loading history"));
    co_await vm.fetchConversionHistory();
    m_progress.clear();
    QObject::disconnect(failed);
    co_return failure;
}

QCoro::Task<int> Commands::history()
{
    PDFViewModel &vm = viewModel();
    vm.setSelectedFilter(m_invocation.filter);
    vm.setSearchText(m_invocation.search);
    if (const auto failure = co_await fetchHistory()) {
        printError(*failure);
        co_return 1;
    }
    const QList<ConversionTask> tasks = vm.filteredTasks();
    if (!m_invocation.json && tasks.isEmpty())
        printResult(m_invocation.search.isEmpty() ? QStringLiteral("No conversion tasks yet\n")
                                                  : QStringLiteral("No matching tasks found\n"));
    else
        printJobs(tasks);
    co_return 0;
}

QCoro::Task<std::optional<ConversionTask>> Commands::findInHistory(const QString &jobId)
{
    if (const auto failure = co_await fetchHistory()) {
        printError(*failure);
        co_return std::nullopt;
    }
    PDFViewModel &vm = viewModel();
    const qsizetype row = vm.conversionTaskModel()->indexOfId(jobId);
    if (row < 0) {
        printError(QStringLiteral("No job with ID '%1' in the history").arg(cellText(jobId)));
        co_return std::nullopt;
    }
    co_return vm.conversionTasks().at(row);
}

QCoro::Task<int> Commands::download()
{
    const auto job = co_await findInHistory(m_invocation.jobId);
    if (!job)
        co_return 1;
    if (job->status != 1) {
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
        path = co_await viewModel().downloadFile(*job, directory);
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

QCoro::Task<int> Commands::retry()
{
    const auto job = co_await findInHistory(m_invocation.jobId);
    if (!job)
        co_return 1;
    if (job->status != 2) {
        printError(QStringLiteral("Job '%1' is %2; only a failed job can be retried")
                       .arg(cellText(job->id), statusWord(job->status)));
        co_return 1;
    }

    // The new job is inserted at the top, or replaces the entry with its id.
    PDFViewModel &vm = viewModel();
    ConversionTaskModel *model = vm.conversionTaskModel();
    std::optional<ConversionTask> newJob;
    const auto inserted = QObject::connect(model, &QAbstractItemModel::rowsInserted, model,
                                           [&newJob, model](const QModelIndex &, int first, int) {
                                               newJob = model->tasks().at(first);
                                           });
    const auto replaced = QObject::connect(
        model, &QAbstractItemModel::dataChanged, model,
        [&newJob, model](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
            if (topLeft.row() == bottomRight.row() && !newJob)
                newJob = model->tasks().at(topLeft.row());
        });
    co_await vm.retryConversion(*job);
    QObject::disconnect(inserted);
    QObject::disconnect(replaced);

    const ProcessingState state = vm.processingState();
    if (state.isError()) {
        printError(state.message());
        co_return 1;
    }
    if (!newJob) {
        printError(QStringLiteral("The service accepted the retry but listed no job"));
        co_return 1;
    }
    if (!m_invocation.wait) {
        printJob(*newJob);
        co_return 0;
    }
    QList<ConversionTask> followed;
    followed.append(*newJob);
    const ConversionTask ended = (co_await waitForJobs(followed)).value(0);
    printJob(ended);
    if (!m_gaveUp.isEmpty() || vm.processingState().isError()) {
        printError(m_gaveUp.isEmpty() ? vm.processingState().message() : m_gaveUp);
        co_return 1;
    }
    if (ended.status == 1)
        co_return 0;
    printError(ended.status == 2 ? QStringLiteral("The job ended failed")
                                 : QStringLiteral("Gave up waiting for job '%1' after %2 checks")
                                       .arg(cellText(ended.id))
                                       .arg(vm.retryMaxAttempts));
    co_return 1;
}

} // namespace quorvel::cli
