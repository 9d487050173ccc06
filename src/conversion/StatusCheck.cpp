#include "conversion/StatusCheck.h"

#include "conversion/DirectTransfer.h"
#include "service/HttpClient.h"
#include "service/Request.h"

namespace quorvel {

QCoro::Task<ConversionTask> StatusCheck::check(QString jobId) {
    // The id is one path segment whatever it holds, so it cannot reach another endpoint.
    const QString path = QStringLiteral("/v1/tollan/convert/") + encodeIdForPath(jobId);
    std::optional<Request> request = createRequest(path, QByteArrayLiteral("GET"));
    if (!request)
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    HttpResponse response;
    if (isDotSegment(jobId)) {
        // The shared session would resolve the dots: this one request goes direct.
        request->target = serviceTarget(path);
        response = co_await sendDirect(*request);
    } else {
        response = co_await send(sharedSession(), *request);
    }
    if (!response.isHttp)
        throw ServiceError(QStringLiteral("Invalid response"), -1);
    if (response.status != 200)
        throw ServiceError(QStringLiteral("Status check failed"), response.status);
    co_return ConversionResponse::decode(response.body).data;
}

} // namespace quorvel
