#include "history/HistoryFetch.h"

#include "service/BackgroundWork.h"
#include "service/HttpClient.h"
#include "service/LogCategories.h"
#include "service/Request.h"

#include <QtConcurrent/QtConcurrentRun>

#include <memory>

#include <QCoroFuture>

namespace quorvel {

QCoro::Task<std::optional<HistoryOutcome>> HistoryFetch::fetch(std::function<bool()> wanted) {
    std::optional<Request> request = createRequest(QStringLiteral("/v1/tollan/convert/all"), "GET");
    if (request)
        request->applyLimits(answerLimits(AnswerKind::History));
    Log::write(lcHistory(), QStringLiteral("🔍 开始获取转换历史记录..."));
    if (!request)
        co_return historyRequestFailed(ServiceError(QStringLiteral("Invalid URL"), -1));

    std::optional<HttpResponse> response;
    std::optional<ServiceError> failure;
    try {
        // A large history arrives in thousands of pieces: received on the GUI thread, they
        // would queue up into stalls of a tenth of a second.
        response = co_await sendInBackground(*request);
    } catch (const ServiceError &e) {
        failure = e;
    }
    if (wanted && !wanted())
        co_return std::nullopt;
    if (failure)
        co_return historyRequestFailed(*failure);
    // A large history takes far longer to read than a frame lasts: it is read on a worker
    // thread while the window goes on drawing. Its lines are written from there, in order,
    // and all before the caller publishes the list.
    // The result is handed over, not copied: a future keeps a copy of its result, and the
    // last copy of a large list must not be freed on the GUI thread.
    auto outcome = std::make_shared<std::optional<HistoryOutcome>>();
    // Named, not a temporary of the co_await: GCC 12 may destroy such a temporary twice.
    QFuture<void> parsed = QtConcurrent::run(&backgroundPool(), [outcome, isHttp = response->isHttp,
                                                                 status = response->status,
                                                                 body = std::move(response->body)] {
        giveWayToTheWindow();
        *outcome = interpretHistoryAnswer(isHttp, status, body);
    });
    co_await parsed;
    co_return std::move(*outcome);
}

} // namespace quorvel
