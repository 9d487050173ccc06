#include "conversion/ConversionRequest.h"

#include "conversion/OperationCatalogue.h"
#include "conversion/RecordFallback.h"
#include "service/HttpClient.h"
#include "service/JobStatus.h"
#include "service/LogCategories.h"
#include "service/Request.h"

namespace quorvel {

namespace {

// The type code, with the line saying which rule formed it.
QString typeCodeWithLog(const QString &operationName) {
    const QString code = OperationCatalogue::conversionTypeCode(operationName);
    const Operations::CodeRule rule = OperationCatalogue::codeRule(operationName);
    if (rule == Operations::CodeRule::Fixed)
        Log::write(lcConversion(), QStringLiteral("convertToPDF - ") + operationName +
                                       QStringLiteral("特殊处理: ") + code);
    else if (rule == Operations::CodeRule::Reverse)
        Log::write(lcConversion(), QStringLiteral("convertToPDF - 反向转换: ") + code);
    else
        Log::write(lcConversion(), QStringLiteral("convertToPDF - 正向转换: ") + code);
    return code;
}

// The job as far as the client knows it, when the answer's record does not decode.
ConversionTask buildTask(const QJsonObject &data, const QString &code,
                         const FileUploadData &upload) {
    using namespace conversion;
    ConversionTask t;
    t.id = json::idText(data.value(QStringLiteral("id"))).value_or(upperUuid());
    t.userId = stringOr(data, QStringLiteral("user_id"));
    t.typ = code;
    t.fileName = upload.file_name;
    t.pageNumber = upload.page_number;
    t.sourceFilePath = upload.source_file_path;
    t.sourceFileTyp = upload.source_file_typ;
    t.resultFileTyp = Operations::resultFileType(code);
    t.sourceFileMd5 = upload.source_file_md5;
    t.status = statusNumber(JobStatus::Converting);
    t.createAt = currentDateText();
    return t;
}

} // namespace

QCoro::Task<ConversionTask> ConversionRequest::send(QString operationName, FileUploadData upload) {
    Log::write(lcConversion(), QStringLiteral("convertToPDF - 开始，操作: ") + operationName);
    // A record that names nothing was never uploaded: there is nothing to convert.
    if (upload == FileUploadData{}) {
        Log::write(lcConversion(), QStringLiteral("convertToPDF - 错误：没有找到上传的文件数据"));
        throw ServiceError(QStringLiteral("No file selected"), -1);
    }
    Log::write(lcConversion(), QStringLiteral("🔄 开始转换: ") + operationName);
    Log::write(lcConversion(), QStringLiteral("📄 文件: ") + upload.file_name +
                                   QStringLiteral(", 页数: ") +
                                   QString::number(upload.page_number));

    std::optional<Request> request =
        createRequest(QStringLiteral("/v1/tollan/convert"), QByteArrayLiteral("POST"));
    if (!request)
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    applyStoredToken(*request);

    Log::write(lcConversion(), QStringLiteral("convertToPDF - 操作: ") + operationName);
    const QString code = typeCodeWithLog(operationName);
    Log::write(lcConversion(), QStringLiteral("📋 使用页数: %1").arg(upload.page_number));

    ConvertRequest body;
    body.source_file_md5 = upload.source_file_md5;
    body.typ = code;
    body.source_file_path = upload.source_file_path;
    body.source_file_typ = upload.source_file_typ;
    body.page_number = upload.page_number;
    body.status = 0;
    body.file_name = upload.file_name;
    Log::write(lcConversion(), QStringLiteral("📤 请求数据: ") + body.render());
    const QByteArray bytes = body.encode();
    Log::write(lcConversion(), QStringLiteral("📦 JSON数据: ") +
                                   Log::utf8OrFallback(bytes, QStringLiteral("无法编码")));

    request->body = bytes;
    request->setHeader("Content-Type", "application/json");
    Log::write(lcConversion(), QStringLiteral("convertToPDF - 发送转换请求"));

    HttpResponse response;
    try {
        response = co_await quorvel::send(sharedSession(), *request);
    } catch (const ServiceError &error) {
        Log::write(lcConversion(), QStringLiteral("❌ 转换错误: ") + error.description());
        throw;
    }
    if (!response.isHttp) {
        Log::write(lcConversion(), QStringLiteral("convertToPDF - 无效的响应类型"));
        throw ServiceError(QStringLiteral("Invalid response"), -1);
    }
    Log::write(lcConversion(), QStringLiteral("🔄 转换响应状态码: %1").arg(response.status));
    const QString text = Log::utf8OrFallback(response.body, QStringLiteral("无法解析的响应数据"));
    Log::write(lcConversion(), QStringLiteral("📥 转换响应内容: ") + text);
    if (response.status != 200) {
        Log::write(lcConversion(),
                   QStringLiteral("convertToPDF - 转换失败，状态码: %1").arg(response.status));
        throw ServiceError(QStringLiteral("Conversion failed with status ") +
                               QString::number(response.status) + QStringLiteral(": ") + text,
                           response.status);
    }
    if (const auto parsed = json::tryParse(response.body))
        Log::write(lcConversion(),
                   QStringLiteral("转换响应JSON结构: ") + conversion::renderJson(*parsed));

    co_return conversion::decodeOrRebuild<ConversionTask>(
        response.body,
        {QStringLiteral("convertToPDF - 转换成功，返回任务"),
         QStringLiteral("convertToPDF - JSON解码错误: "),
         QStringLiteral("convertToPDF - 错误详情: "), QStringLiteral("尝试手动提取转换任务数据: "),
         QStringLiteral("手动创建的转换任务: ")},
        [](const QByteArray &bytes) { return ConversionResponse::decode(bytes).data; },
        [&](const QJsonObject &data) { return buildTask(data, code, upload); });
}

} // namespace quorvel
