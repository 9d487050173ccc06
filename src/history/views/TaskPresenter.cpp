#include "TaskPresenter.h"

#include "history/ConversionTaskModel.h"
#include "service/JobStatus.h"
#include "service/ServiceError.h"
#include "service/Sleep.h"

#include <chrono>

namespace quorvel {

TaskPresenter::TaskPresenter(QObject *parent)
    : QObject(parent) {}

TaskPresenter::~TaskPresenter() {
    m_lifetime->cancel();
}

void TaskPresenter::setTask(const QVariant &task) {
    const ConversionTask next = task.value<ConversionTask>();
    if (sameJob(next, m_task))
        return;
    if (next.id != m_task.id) {
        // The card shows another job now (a search gave its row another one): what was under
        // way for the previous job no longer shows here.
        m_lifetime->cancel();
        m_lifetime = makeCancelToken();
        m_isDownloading = m_isRetrying = m_showError = false;
        m_errorMessage.clear();
        m_retryTask.reset();
    }
    m_task = next;
    Q_EMIT changed();
}

void TaskPresenter::setViewModel(HistorySource *viewModel) {
    if (viewModel == m_viewModel)
        return;
    if (m_viewModel)
        disconnect(m_viewModel->conversionTaskModel(), nullptr, this, nullptr);
    m_viewModel = viewModel;
    if (viewModel) {
        // The list's entry of a retried job decides how long "Retrying" stays.
        connect(viewModel->conversionTaskModel(), &ConversionTaskModel::tasksChanged, this, [this] {
            if (m_retryTask)
                Q_EMIT changed();
        });
    }
    Q_EMIT viewModelChanged();
    Q_EMIT changed();
}

bool TaskPresenter::retrying() const {
    if (!m_retryTask)
        return m_isRetrying;
    return TaskLook::isRetrying(m_isRetrying, m_retryTask,
                                m_viewModel ? m_viewModel->conversionTasks()
                                            : QList<ConversionTask>());
}

void TaskPresenter::setShowError(bool show) {
    if (show == m_showError)
        return;
    m_showError = show;
    Q_EMIT changed();
}

void TaskPresenter::fail(const QString &message) {
    m_errorMessage = message;
    m_showError = true;
    Q_EMIT changed();
}

void TaskPresenter::download() {
    if (!m_isDownloading && m_viewModel)
        runDownload(false);
}

void TaskPresenter::preview() {
    if (!m_isDownloading && m_viewModel)
        runDownload(true);
}

QCoro::Task<> TaskPresenter::runDownload(bool thenPreview) {
    QPointer<TaskPresenter> self(this);
    const CancelTokenPtr job = m_lifetime;
    m_isDownloading = true;
    Q_EMIT changed();
    QString path;
    std::optional<ServiceError> error;
    try {
        path = co_await m_viewModel->downloadFile(m_task);
    } catch (const ServiceError &e) {
        error = e;
    }
    if (!self)
        co_return;
    if (job->isCancelled()) {
        // Saved while the card moved on to another job: still shown in its folder.
        if (!error && !thenPreview)
            Q_EMIT downloaded(path);
        co_return;
    }
    m_isDownloading = false;
    Q_EMIT changed();
    if (error) {
        fail(QStringLiteral("Download failed: ") + error->description());
        co_return;
    }
    if (thenPreview)
        Q_EMIT previewReady(QUrl::fromLocalFile(path));
    else
        Q_EMIT downloaded(path);
}

void TaskPresenter::retry() {
    if (m_isRetrying || !m_viewModel)
        return;
    m_isRetrying = true;
    Q_EMIT changed();
    runRetry();
}

QCoro::Task<> TaskPresenter::runRetry() {
    QPointer<TaskPresenter> self(this);
    QPointer<HistorySource> viewModel(m_viewModel);
    const CancelTokenPtr lifetime = m_lifetime;
    m_retryTask = m_task;
    // The connection ends right after the call, before this frame can go.
    QString refusal;
    const auto refused =
        connect(viewModel, &HistorySource::retryFailed, this,
                [&refusal, id = m_task.id](const QString &taskId, const QString &description) {
                    if (taskId == id)
                        refusal = description;
                });
    co_await viewModel->retryConversion(m_task);
    QObject::disconnect(refused);
    if (!self || !viewModel || lifetime != m_lifetime)
        co_return;
    if (!refusal.isEmpty()) {
        m_isRetrying = false;
        m_retryTask.reset();
        fail(QStringLiteral("Retry failed: ") + refusal);
        co_return;
    }
    const bool waited = co_await sleepFor(std::chrono::milliseconds(retryWaitMs), lifetime);
    if (!self || lifetime != m_lifetime)
        co_return;
    m_isRetrying = false;
    if (!waited) {
        m_retryTask.reset();
        fail(QStringLiteral("Retry failed: ") +
             ServiceError(QStringLiteral("CancellationError"), 1).description());
        co_return;
    }
    Q_EMIT changed();
}

} // namespace quorvel
