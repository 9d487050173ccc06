#include "history/RetryRequest.h"

#include "service/HttpClient.h"
#include "service/LogCategories.h"
#include "service/Request.h"

namespace quorvel {

namespace {

QCoro::Task<ConversionTask> requestRetry(ConversionTask task) {
    std::optional<Request> request = createRequest(QStringLiteral("/v1/tollan/convert"), "POST");
    if (!request)
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    applyStoredToken(*request);
    const QByteArray body = RetryRequest::body(task).encode();
    Log::write(lcHistory(), QStringLiteral("📦 重试请求数据: ") +
                                Log::utf8OrFallback(body, QStringLiteral("无法编码")));
    request->body = body;
    request->setHeader("Content-Type", "application/json");

    const HttpResponse response = co_await send(sharedSession(), *request);
    if (!response.isHttp)
        throw ServiceError(QStringLiteral("Invalid response"), -1);
    const QString bodyText =
        Log::utf8OrFallback(response.body, QStringLiteral("无法解析的响应数据"));
    Log::write(lcHistory(), QStringLiteral("🔄 重试转换响应状态码: %1").arg(response.status));
    Log::write(lcHistory(), QStringLiteral("📥 重试转换响应内容: ") + bodyText);
    if (response.status != 200)
        throw ServiceError(QStringLiteral("Retry conversion failed with status %1: %2")
                               .arg(QString::number(response.status), bodyText),
                           response.status);
    co_return ConversionResponse::decode(response.body).data;
}

} // namespace

ConvertRequest RetryRequest::body(const ConversionTask &task) {
    ConvertRequest body;
    body.source_file_md5 = task.sourceFileMd5;
    body.typ = task.typ.toUpper();
    body.source_file_path = task.sourceFilePath;
    body.source_file_typ = task.sourceFileTyp;
    body.page_number = task.pageNumber;
    body.status = 0;
    body.file_name = task.fileName + QStringLiteral("【retry】");
    return body;
}

QCoro::Task<ConversionTask> RetryRequest::send(ConversionTask task) {
    Log::write(lcHistory(), QStringLiteral("🔄 重试转换任务: ") + task.id);
    std::optional<ServiceError> failure;
    try {
        co_return co_await requestRetry(task);
    } catch (const ServiceError &e) {
        failure = e;
    } catch (const std::exception &e) {
        failure = ServiceError(QString::fromUtf8(e.what()), -1);
    }
    Log::write(lcHistory(), QStringLiteral("❌ 重试转换错误: ") + failure->description());
    throw *failure;
}

} // namespace quorvel
