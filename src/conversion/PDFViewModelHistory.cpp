#include "conversion/PDFViewModel.h"

#include "history/HistoryFetch.h"
#include "history/RetryRequest.h"
#include "service/BackgroundWork.h"
#include "service/LogCategories.h"

#include <QScopeGuard>
#include <QTime>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

// The view model's history half: the fetch, the refresh loop and the retry of a job.
namespace quorvel {

// --- history ---

void PDFViewModel::publishHistory(TaskListPlan plan, const QString &lineAfterPublish) {
    m_tasks->apply(std::move(plan));
    setIsLoadingHistory(false);
    if (!lineAfterPublish.isEmpty())
        Log::write(lcHistory(), lineAfterPublish);
}

QCoro::Task<> PDFViewModel::fetchConversionHistory() {
    QPointer<PDFViewModel> self(this);
    setIsLoadingHistory(true);
    // Clears the loading flag if the fetch ends without publishing: whatever ends it (an
    // unexpected exception, the coroutine being torn down), the page never spins forever.
    auto loading = qScopeGuard([self] {
        if (self)
            self->setIsLoadingHistory(false);
    });
    // When the page that asked is gone, there is nothing left to publish into.
    // Named, not a temporary of the co_await: GCC 12 may destroy such a temporary twice.
    std::function<bool()> wanted = [self] { return !self.isNull(); };
    std::optional<HistoryOutcome> outcome = co_await HistoryFetch::fetch(std::move(wanted));
    if (!self || !outcome)
        co_return;
    // Comparing a large answer with the shown list also takes longer than a frame: a worker
    // plans the change, the GUI thread only applies it.
    // Handed over, not copied out of the future (whose copy would be freed here).
    auto plan = std::make_shared<TaskListPlan>();
    // Named, not a temporary of the co_await: GCC 12 may destroy such a temporary twice.
    QFuture<void> planned = QtConcurrent::run(
        &backgroundPool(), [plan, old = m_tasks->tasks(), next = std::move(outcome->tasks),
                            revision = m_tasks->revision()]() mutable {
            giveWayToTheWindow();
            *plan = ConversionTaskModel::plan(std::move(old), std::move(next), revision, true);
        });
    co_await planned;
    if (!self)
        co_return;
    loading.dismiss();
    publishHistory(std::move(*plan), outcome->lineAfterPublish);
    if (outcome->failure)
        Q_EMIT historyFetchFailed(outcome->failure->description(), outcome->failure->code());
}

QCoro::Task<> PDFViewModel::refreshHistory() {
    QPointer<PDFViewModel> self(this);
    co_await fetchConversionHistory();
    if (!self)
        co_return;
    // Stamped whatever the fetch's outcome.
    setLastRefreshTime(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
}

void PDFViewModel::startAutoRefresh() {
    m_autoRefresh->intervalMs = refreshIntervalMs;
    m_autoRefresh->start([this] { return refreshHistory(); },
                         [this] { return m_autoRefreshEnabled; });
}

void PDFViewModel::stopAutoRefresh() {
    m_autoRefresh->stop();
}

// --- retry ---

QCoro::Task<> PDFViewModel::retryConversion(ConversionTask task) {
    QPointer<PDFViewModel> self(this);
    setProcessingState(ProcessingState::processing());
    std::optional<ConversionTask> created;
    try {
        created = co_await RetryRequest::send(task);
    } catch (const ServiceError &e) {
        if (self) {
            setProcessingState(ProcessingState::error(e.description()));
            Q_EMIT retryFailed(task.id, e.description());
        }
        co_return;
    }
    if (!self)
        co_return;
    const qsizetype row = m_tasks->indexOfId(created->id);
    if (row >= 0)
        m_tasks->replaceAt(row, *created);
    else
        m_tasks->insertFront(*created);
    setProcessingState(ProcessingState::completed());
    // Observers redraw even when the list compares equal (jobs compare by id alone).
    m_tasks->notifyChanged();
    followJob(created->id, PollRules::retriedJob(retryPollIntervalMs, retryMaxAttempts), true);
}

void PDFViewModel::applyRetryStatus(const ConversionTask &task) {
    const qsizetype row = m_tasks->indexOfId(task.id);
    if (row < 0 || m_tasks->tasks().at(row).status == task.status)
        return;
    m_tasks->replaceAt(row, task);
    m_tasks->notifyChanged();
    Log::write(lcHistory(), QStringLiteral("🔄 重试任务 - UI已更新"));
}

} // namespace quorvel
