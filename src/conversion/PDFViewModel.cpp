#include "conversion/PDFViewModel.h"

#include "conversion/ConversionRequest.h"
#include "conversion/ConversionRun.h"
#include "conversion/Downloader.h"
#include "conversion/OperationCatalogue.h"
#include "conversion/StatusCheck.h"
#include "history/FilteredTaskModel.h"
#include "service/BackgroundWork.h"
#include "service/JobStatus.h"
#include "service/LogCategories.h"

#include <cmath>

namespace quorvel {

PDFViewModel::PDFViewModel(QObject *parent)
    : HistorySource(parent)
    , m_tasks(new ConversionTaskModel(this))
    , m_filtered(new FilteredTaskModel(m_tasks, this))
    , m_selected(new ConversionTaskModel(this))
    , m_autoRefresh(new AutoRefresh(this)) {}

PDFViewModel::~PDFViewModel() {
    // Wakes every sleeping polling task and the refresh loop so they end now.
    m_lifetime->cancel();
    m_autoRefresh->stop();
}

QVariantList PDFViewModel::uploadedFilesValue() const {
    QVariantList out;
    for (const FileUploadData &f : m_uploadedFiles)
        out.append(QVariant::fromValue(f));
    return out;
}

QList<ConversionTask> PDFViewModel::filteredTasks() const {
    return m_filtered->tasks();
}

void PDFViewModel::setSearchText(const QString &text) {
    if (text == m_searchText)
        return;
    m_searchText = text;
    m_filtered->setSearchText(text);
    Q_EMIT searchTextChanged();
}

void PDFViewModel::setSelectedFilter(TaskFilter filter) {
    if (filter == m_selectedFilter)
        return;
    m_selectedFilter = filter;
    m_filtered->setFilter(filter);
    Q_EMIT selectedFilterChanged();
}

QVariant PDFViewModel::selectedTaskValue() const {
    return m_selectedTask ? QVariant::fromValue(*m_selectedTask) : QVariant();
}

void PDFViewModel::setShowTaskDetail(bool show) {
    if (show == m_showTaskDetail)
        return;
    m_showTaskDetail = show;
    Q_EMIT showTaskDetailChanged();
}

void PDFViewModel::setAutoRefreshEnabled(bool enabled) {
    if (enabled == m_autoRefreshEnabled)
        return;
    m_autoRefreshEnabled = enabled;
    Q_EMIT autoRefreshEnabledChanged();
}

void PDFViewModel::selectTask(const QVariant &task) {
    m_selectedTask = task.value<ConversionTask>();
    m_selected->setTasks({*m_selectedTask});
    Q_EMIT selectedTaskChanged();
    setShowTaskDetail(true);
}

void PDFViewModel::setProcessingState(const ProcessingState &state) {
    m_processingState = state;
    Q_EMIT processingStateChanged();
}

void PDFViewModel::setUploadProgress(double value) {
    m_uploadProgress = value;
    Q_EMIT uploadProgressChanged();
}

void PDFViewModel::setActualUploadProgress(double value) {
    m_actualUploadProgress = value;
    Q_EMIT actualUploadProgressChanged();
}

void PDFViewModel::setUploadedFiles(QList<FileUploadData> files) {
    m_uploadedFiles = std::move(files);
    Q_EMIT uploadedFilesChanged();
}

void PDFViewModel::setIsLoadingHistory(bool loading) {
    m_isLoadingHistory = loading;
    Q_EMIT isLoadingHistoryChanged();
}

void PDFViewModel::setLastRefreshTime(const QString &text) {
    m_lastRefreshTime = text;
    Q_EMIT lastRefreshTimeChanged();
}

void PDFViewModel::publishTasks(QList<ConversionTask> tasks) {
    m_tasks->setTasks(std::move(tasks));
}

void PDFViewModel::reset() {
    m_selectedFiles.clear();
    Q_EMIT selectedFilesChanged();
    m_processedFiles.clear();
    Q_EMIT processedFilesChanged();
    setProcessingState(ProcessingState::idle());
    m_password.clear();
    Q_EMIT passwordChanged();
    setUploadProgress(0);
    setActualUploadProgress(0);
    setUploadedFiles({});
    if (m_progressTimer)
        m_progressTimer->stop();
}

void PDFViewModel::startAnimation(double target) {
    if (m_progressTimer) {
        m_progressTimer->stop();
        m_progressTimer->deleteLater();
    }
    // The timer is a child of this object: it cannot outlive it.
    auto *timer = new QTimer(this);
    m_progressTimer = timer;
    const double start = m_uploadProgress;
    const int steps = qMax(1, animationSteps);
    auto counter = std::make_shared<int>(0);
    connect(timer, &QTimer::timeout, this, [this, timer, start, target, steps, counter] {
        ++*counter;
        const double t = double(*counter) / steps;
        const double eased = t < 0.5 ? 4 * t * t * t : 1 - std::pow(2 - 2 * t, 3) / 2;
        if (*counter >= steps) {
            timer->stop();
            setUploadProgress(target);
            return;
        }
        setUploadProgress(start + (target - start) * eased);
    });
    timer->start(animationTickMs);
}

void PDFViewModel::animateProgress(double target) {
    startAnimation(target);
}

int PDFViewModel::simulationSteps(qint64 fileSize) {
    return int(qBound<qint64>(qint64(10), fileSize / 100000, qint64(50)));
}

QCoro::Task<> PDFViewModel::uploadProgressSimulation(qint64 fileSize, CancelTokenPtr stop) {
    QPointer<PDFViewModel> self(this);
    const CancelTokenPtr lifetime = m_lifetime;
    const int steps = simulationSteps(fileSize);
    for (int i = 1;; ++i) {
        if (stop && stop->isCancelled())
            co_return;
        const double target = double(i) / (steps + 5) * 0.95;
        setActualUploadProgress(target);
        startAnimation(target);
        const double r = m_random.generateDouble() * 0.1;
        const double seconds = (double(fileSize) / 1'000'000.0) * r + 0.1;
        co_await sleepFor(std::chrono::milliseconds(qint64(seconds * 1000 * simulationWaitScale)),
                          lifetime, stop);
        if (!self)
            co_return;
        if (m_actualUploadProgress >= 0.99 || i >= steps)
            co_return;
    }
}

void PDFViewModel::addPickedFiles(const QList<QUrl> &files) {
    if (files.isEmpty())
        return;
    m_selectedFiles.append(files);
    Q_EMIT selectedFilesChanged();
}

void PDFViewModel::removeSelectedFile(int index) {
    if (index < 0 || index >= m_selectedFiles.size())
        return;
    m_selectedFiles.removeAt(index);
    Q_EMIT selectedFilesChanged();
}

void PDFViewModel::addProcessedFile(const QUrl &file) {
    m_processedFiles.append(file);
    Q_EMIT processedFilesChanged();
}

void PDFViewModel::pickerFailed(const QString &description) {
    Log::write(lcConversion(), QStringLiteral("Error selecting files: ") + description);
}

bool PDFViewModel::canDrop(const QList<QUrl> &urls, const QString &operationName) const {
    for (const QUrl &url : urls)
        if (url.isLocalFile() &&
            OperationCatalogue::isContentTypeAllowed(operationName, url.toLocalFile()))
            return true;
    return false;
}

bool PDFViewModel::dropFiles(const QList<QUrl> &urls, const QString &operationName) {
    if (!canDrop(urls, operationName))
        return false;
    QList<QUrl> accepted;
    for (const QUrl &url : urls)
        if (url.isLocalFile() &&
            OperationCatalogue::isContentTypeAllowed(operationName, url.toLocalFile()))
            accepted.append(url);
    addPickedFiles(accepted);
    return true;
}

// --- conversion: the services, with the window's state around them ---

UploadHooks PDFViewModel::uploadHooks() {
    QPointer<PDFViewModel> self(this);
    UploadHooks hooks;
    hooks.transferStarting = [self](qint64 fileSize, CancelTokenPtr transferEnded) {
        if (!self)
            return;
        self->setActualUploadProgress(0);
        self->setUploadProgress(0);
        // The simulation ends with the transfer, however it ends: a failed upload's
        // simulation must not move the bar after the error has zeroed it.
        self->uploadProgressSimulation(fileSize, std::move(transferEnded));
    };
    hooks.transferred = [self] {
        if (!self)
            return false;
        self->setActualUploadProgress(1);
        self->animateProgress(1);
        return true;
    };
    return hooks;
}

ConversionRun PDFViewModel::conversionRun() {
    QPointer<PDFViewModel> self(this);
    ConversionRunHooks hooks;
    hooks.alive = [self] { return !self.isNull(); };
    hooks.stateChanged = [self](const ProcessingState &state) {
        if (self)
            self->setProcessingState(state);
    };
    hooks.uploadsStarting = [self] {
        self->setUploadProgress(0);
        self->setActualUploadProgress(0);
    };
    hooks.uploadHooks = [self] { return self ? self->uploadHooks() : UploadHooks{}; };
    hooks.fileUploaded = [self](const FileUploadData &record, qsizetype index, double progress) {
        self->setUploadedFiles(self->m_uploadedFiles + QList<FileUploadData>{record});
        self->setActualUploadProgress(progress);
        // The last file's target is set once all are up.
        if (index < self->m_selectedFiles.size() - 1)
            self->animateProgress(progress);
    };
    hooks.uploadsDone = [self](const QList<FileUploadData> &records) {
        self->setUploadedFiles(records);
        self->setActualUploadProgress(1);
        self->animateProgress(1);
    };
    hooks.uploadFailed = [self] {
        self->setUploadProgress(0);
        self->setActualUploadProgress(0);
        if (self->m_progressTimer)
            self->m_progressTimer->stop();
    };
    hooks.jobAccepted = [self](const ConversionTask &task) {
        self->m_tasks->insertFront(task);
        // Runs on by itself until the job ends or this object goes away.
        self->pollTask(task.id);
    };
    return ConversionRun(std::move(hooks));
}

QCoro::Task<> PDFViewModel::processFiles(QString operationName) {
    ConversionRun run = conversionRun();
    co_await run.process(operationName, m_selectedFiles);
}

QCoro::Task<> PDFViewModel::startConversion(QString operationName, FileUploadData upload) {
    QPointer<PDFViewModel> self(this);
    ConversionRun run = conversionRun();
    const bool accepted = co_await run.requestJob(operationName, upload);
    if (self && accepted)
        setProcessingState(ProcessingState::completed());
}

QCoro::Task<ConversionTask> PDFViewModel::checkTaskStatus(QString taskId) {
    return StatusCheck::check(std::move(taskId));
}

QCoro::Task<FileUploadData> PDFViewModel::uploadFile(QUrl file) {
    return Uploader::upload(std::move(file), uploadHooks());
}

QCoro::Task<ConversionTask> PDFViewModel::convertToPDF(QString operationName,
                                                       FileUploadData upload) {
    return ConversionRequest::send(std::move(operationName), std::move(upload));
}

QCoro::Task<QString> PDFViewModel::downloadFile(ConversionTask task, QString directory) {
    // Results are the person's documents: kept where the desktop keeps downloads, beside
    // (never over) an earlier file of the same name.
    if (directory.isEmpty())
        directory = Downloader::downloadFolder();
    return Downloader::download(std::move(task), std::move(directory), downloadLimits,
                                ExistingFile::KeepBoth);
}

// --- job polling ---

void PDFViewModel::pollTask(const QString &taskId) {
    followJob(taskId, PollRules::newJob(pollIntervalMs), false);
}

QCoro::Task<> PDFViewModel::followJob(QString jobId, PollRules rules, bool retried) {
    QPointer<PDFViewModel> self(this);
    // Named, not a temporary of the co_await: GCC 12 may destroy such a temporary twice.
    JobPoller::Seen seen = [self, retried](const ConversionTask &task) {
        if (!self)
            return;
        if (retried) {
            self->applyRetryStatus(task);
            return;
        }
        // Replaced even when nothing differs.
        const qsizetype row = self->m_tasks->indexOfId(task.id);
        if (row >= 0)
            self->m_tasks->replaceAt(row, task);
    };
    const PollResult result =
        co_await JobPoller::follow(jobId, std::move(rules), m_lifetime, std::move(seen));
    if (!self || result.end == PollResult::End::Cancelled)
        co_return;
    if (result.end == PollResult::End::UnknownJob)
        setProcessingState(ProcessingState::error(result.error->description()));
    co_await fetchConversionHistory();
    if (!self)
        co_return;
    endPolling(jobId, result.lastSeen);
    if (self && !retried)
        Q_EMIT runJobFinished(result.lastSeen);
}

void PDFViewModel::setAuthManager(AuthManager *manager) {
    if (manager == m_authManager)
        return;
    m_authManager = manager;
    Q_EMIT authManagerChanged();
}

void PDFViewModel::endPolling(const QString &jobId, const ConversionTask &lastSeen) {
    // A completed job has been charged: the balance on screen is out of date.
    if (m_authManager && hasStatus(lastSeen.status, JobStatus::Completed))
        m_authManager->fetchPageBalance();
    Q_EMIT taskPollingFinished(lastSeen);
    Q_EMIT jobPollingFinished(jobId, lastSeen);
}

} // namespace quorvel
