#include "conversion/PDFViewModel.h"

#include "conversion/OperationCatalogue.h"
#include "history/FilteredTaskModel.h"
#include "service/Log.h"

#include <QFileInfo>

#include <cmath>

namespace quorvel {

PDFViewModel::PDFViewModel(QObject *parent)
    : QObject(parent)
    , m_tasks(new ConversionTaskModel(this))
    , m_filtered(new FilteredTaskModel(m_tasks, this))
{
}

PDFViewModel::~PDFViewModel()
{
    // Wakes every sleeping polling task and refresh loop so they end now.
    m_lifetime->cancel();
    if (m_refreshTask)
        m_refreshTask->cancel();
}

QVariantList PDFViewModel::uploadedFilesValue() const
{
    QVariantList out;
    for (const FileUploadData &f : m_uploadedFiles)
        out.append(QVariant::fromValue(f));
    return out;
}

QList<ConversionTask> PDFViewModel::filteredTasks() const { return m_filtered->tasks(); }

void PDFViewModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    m_filtered->setSearchText(text);
    Q_EMIT searchTextChanged();
}

void PDFViewModel::setSelectedFilter(TaskFilter filter)
{
    if (filter == m_selectedFilter)
        return;
    m_selectedFilter = filter;
    m_filtered->setFilter(filter);
    Q_EMIT selectedFilterChanged();
}

QVariant PDFViewModel::selectedTaskValue() const
{
    return m_selectedTask ? QVariant::fromValue(*m_selectedTask) : QVariant();
}

void PDFViewModel::setShowTaskDetail(bool show)
{
    if (show == m_showTaskDetail)
        return;
    m_showTaskDetail = show;
    Q_EMIT showTaskDetailChanged();
}

void PDFViewModel::setAutoRefreshEnabled(bool enabled)
{
    if (enabled == m_autoRefreshEnabled)
        return;
    m_autoRefreshEnabled = enabled;
    Q_EMIT autoRefreshEnabledChanged();
}

void PDFViewModel::selectTask(const QVariant &task)
{
    m_selectedTask = task.value<ConversionTask>();
    Q_EMIT selectedTaskChanged();
    setShowTaskDetail(true);
}

void PDFViewModel::setProcessingState(const ProcessingState &state)
{
    m_processingState = state;
    Q_EMIT processingStateChanged();
}

void PDFViewModel::setUploadProgress(double value)
{
    m_uploadProgress = value;
    Q_EMIT uploadProgressChanged();
}

void PDFViewModel::setActualUploadProgress(double value)
{
    m_actualUploadProgress = value;
    Q_EMIT actualUploadProgressChanged();
}

void PDFViewModel::setUploadedFiles(QList<FileUploadData> files)
{
    m_uploadedFiles = std::move(files);
    Q_EMIT uploadedFilesChanged();
}

void PDFViewModel::setIsLoadingHistory(bool loading)
{
    m_isLoadingHistory = loading;
    Q_EMIT isLoadingHistoryChanged();
}

void PDFViewModel::setLastRefreshTime(const QString &text)
{
    m_lastRefreshTime = text;
    Q_EMIT lastRefreshTimeChanged();
}

void PDFViewModel::endPolling(const QString &jobId, const ConversionTask &lastSeen)
{
    Q_EMIT taskPollingFinished(lastSeen);
    Q_EMIT jobPollingFinished(jobId, lastSeen);
}

void PDFViewModel::publishTasks(QList<ConversionTask> tasks) { m_tasks->setTasks(std::move(tasks)); }

void PDFViewModel::reset()
{
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

void PDFViewModel::startAnimation(double target)
{
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

void PDFViewModel::animateProgress(double target) { startAnimation(target); }

int PDFViewModel::simulationSteps(qint64 fileSize)
{
    return int(qBound<qint64>(qint64(10), fileSize / 100000, qint64(50)));
}

QCoro::Task<> PDFViewModel::uploadProgressSimulation(qint64 fileSize, CancelTokenPtr stop)
{
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

void PDFViewModel::addPickedFiles(const QList<QUrl> &files)
{
    if (files.isEmpty())
        return;
    m_selectedFiles.append(files);
    Q_EMIT selectedFilesChanged();
}

void PDFViewModel::pickerFailed(const QString &description)
{
    Log::write(QStringLiteral("Error selecting files: ") + description);
}

bool PDFViewModel::canDrop(const QList<QUrl> &urls, const QString &operationName) const
{
    for (const QUrl &url : urls)
        if (url.isLocalFile() &&
            OperationCatalogue::isContentTypeAllowed(operationName, url.toLocalFile()))
            return true;
    return false;
}

bool PDFViewModel::dropFiles(const QList<QUrl> &urls, const QString &operationName)
{
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

} // namespace quorvel
