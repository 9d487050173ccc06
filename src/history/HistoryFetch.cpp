#include "conversion/PDFViewModel.h"
#include "history/HistoryParser.h"
#include "service/HttpClient.h"
#include "service/Log.h"
#include "service/Request.h"

#include <QTime>

namespace quorvel {

namespace {

// Clears the loading flag if the fetch ends without publishing: whatever ends it (an
// unexpected exception, the coroutine being torn down), the page never spins forever.
class LoadingGuard {
public:
    explicit LoadingGuard(PDFViewModel *model)
        : m_model(model) {}
    ~LoadingGuard() {
        if (m_armed && m_model)
            m_model->setIsLoadingHistory(false);
    }
    void disarm() { m_armed = false; }
    LoadingGuard(const LoadingGuard &) = delete;
    LoadingGuard &operator=(const LoadingGuard &) = delete;

private:
    QPointer<PDFViewModel> m_model;
    bool m_armed = true;
};

} // namespace

void PDFViewModel::publishHistory(QList<ConversionTask> tasks, const QString &lineAfterPublish) {
    publishTasks(std::move(tasks));
    setIsLoadingHistory(false);
    if (!lineAfterPublish.isEmpty())
        Log::write(lineAfterPublish);
}

QCoro::Task<> PDFViewModel::fetchConversionHistory() {
    QPointer<PDFViewModel> self(this);
    setIsLoadingHistory(true);
    LoadingGuard guard(this);

    const std::optional<Request> request =
        createRequest(QStringLiteral("/v1/tollan/convert/all"), "GET");
    Log::write(QStringLiteral("🔍 开始获取转换历史记录..."));

    HistoryOutcome outcome;
    if (!request) {
        outcome = historyRequestFailed(ServiceError(QStringLiteral("Invalid URL"), -1));
    } else {
        std::optional<HttpResponse> response;
        std::optional<ServiceError> failure;
        try {
            response = co_await send(sharedSession(), *request);
        } catch (const ServiceError &e) {
            failure = e;
        }
        if (!self)
            co_return; // the page that asked is gone; nothing left to publish into
        outcome = failure
                      ? historyRequestFailed(*failure)
                      : interpretHistoryAnswer(response->isHttp, response->status, response->body);
    }
    guard.disarm();
    publishHistory(std::move(outcome.tasks), outcome.lineAfterPublish);
    if (outcome.failure)
        Q_EMIT historyFetchFailed(outcome.failure->description(), outcome.failure->code());
}

QCoro::Task<> PDFViewModel::refreshHistory() {
    QPointer<PDFViewModel> self(this);
    co_await fetchConversionHistory();
    if (!self)
        co_return;
    // Stamped whatever the fetch's outcome.
    setLastRefreshTime(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
}

} // namespace quorvel
