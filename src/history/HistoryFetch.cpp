#include "history/HistoryFetch.h"

#include "service/HttpClient.h"
#include "service/Log.h"
#include "service/Request.h"

namespace quorvel {

QCoro::Task<std::optional<HistoryOutcome>> HistoryFetch::fetch(std::function<bool()> wanted) {
    const std::optional<Request> request =
        createRequest(QStringLiteral("/v1/tollan/convert/all"), "GET");
    Log::write(QStringLiteral("🔍 开始获取转换历史记录..."));
    if (!request)
        co_return historyRequestFailed(ServiceError(QStringLiteral("Invalid URL"), -1));

    std::optional<HttpResponse> response;
    std::optional<ServiceError> failure;
    try {
        response = co_await send(sharedSession(), *request);
    } catch (const ServiceError &e) {
        failure = e;
    }
    if (wanted && !wanted())
        co_return std::nullopt;
    if (failure)
        co_return historyRequestFailed(*failure);
    co_return interpretHistoryAnswer(response->isHttp, response->status, response->body);
}

} // namespace quorvel
