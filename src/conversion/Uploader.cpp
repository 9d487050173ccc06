#include "conversion/Uploader.h"

#include "conversion/DirectTransfer.h"
#include "conversion/MultipartBody.h"
#include "conversion/RecordFallback.h"
#include "service/HttpClient.h"
#include "service/LocalFile.h"
#include "service/LogCategories.h"
#include "service/Request.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

#include <memory>

namespace quorvel {

namespace {

const QString kArrows = QStringLiteral(">>>>>>>>>>>>>>>>>>>>>>>>>>..");

QString bytesText(qint64 n) {
    return QStringLiteral("%1 bytes").arg(n);
}

struct OpenedFile {
    std::unique_ptr<QFile> file;
    QString error;
    bool missing = false;
};

FileUploadData extractUpload(const QJsonObject &data) {
    using namespace conversion;
    FileUploadData d;
    d.file_name = stringOr(data, QStringLiteral("file_name"));
    d.source_file_path = stringOr(data, QStringLiteral("source_file_path"));
    d.source_file_typ = stringOr(data, QStringLiteral("source_file_typ"));
    d.source_file_md5 = stringOr(data, QStringLiteral("source_file_md5"));
    d.page_number = integerOr(data, QStringLiteral("page_number"));
    d.status = integerOr(data, QStringLiteral("status"));
    return d;
}

} // namespace

QCoro::Task<FileUploadData> Uploader::upload(QUrl file, UploadHooks hooks) {
    // Nothing is sent unless the whole file can be read from where it was chosen.
    if (!file.isLocalFile())
        throw ServiceError(QStringLiteral("Permission denied"), -1);
    const QString path = file.toLocalFile();
    // Opened on a worker: a file on a slow or hung disk must not stop the window.
    auto opening = std::make_shared<OpenedFile>();
    // Named, not a temporary of the co_await: GCC 12 may destroy such a temporary twice.
    QFuture<void> opened = QtConcurrent::run([path, opening] {
        if (!QFileInfo::exists(path)) {
            opening->missing = true;
            return;
        }
        opening->file = openRegularFile(path, &opening->error);
    });
    co_await opened;
    if (opening->missing)
        throw ServiceError(QStringLiteral("File not found"), -1);
    // A folder, a named pipe or a file without read permission fails here, with the reason.
    if (!opening->file)
        throw ServiceError(QStringLiteral("Failed to read file: ") + opening->error, -1);

    const QString boundary = conversion::upperUuid();
    const auto body = std::make_unique<MultipartBody>(std::move(opening->file),
                                                      QFileInfo(path).fileName(), boundary);
    if (!body->open(QIODevice::ReadOnly))
        throw ServiceError(QStringLiteral("Failed to read file: ") + body->errorString(), -1);

    Log::write(lcConversion(), kArrows + QStringLiteral("1111"));
    Log::write(lcConversion(), kArrows + QStringLiteral("222222"));

    std::optional<Request> request =
        createRequest(QStringLiteral("/v2/uploadfilepdf"), QByteArrayLiteral("POST"));
    if (!request)
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    Log::write(lcConversion(), kArrows + QStringLiteral("333333 request: ") +
                                   request->url().toString(QUrl::FullyEncoded));
    request->setHeader("Content-Type", "multipart/form-data; boundary=" + boundary.toUtf8());
    // The transfer lasts as long as the file takes to send: instead of a total deadline,
    // each inactivity period must move some 1 KiB/s.
    request->totalLimitMs = 0;
    request->minProgressBytes = qint64(request->timeoutMs / 1000) << 10;
    request->request.setHeader(QNetworkRequest::ContentLengthHeader, body->size());

    Log::write(lcConversion(), kArrows + QStringLiteral("444444 data: ") + bytesText(0));
    Log::write(lcConversion(), kArrows + QStringLiteral("555555 data: ") + bytesText(body->size()));

    // One transfer: its completion is the progress milestone and its answer the result.
    Log::write(lcConversion(), QStringLiteral("uploadFile.......: ") +
                                   QStringLiteral("UploadTask <%1> { POST %2, %3 }")
                                       .arg(boundary, request->url().toString(QUrl::FullyEncoded),
                                            bytesText(body->size())));
    const CancelTokenPtr transferEnded = makeCancelToken();
    const auto endTransfer = qScopeGuard([transferEnded] { transferEnded->cancel(); });
    if (hooks.transferStarting)
        hooks.transferStarting(body->fileSize(), transferEnded);

    const HttpResponse response = co_await sendDirect(*request, {body.get(), {}, {}});
    if (hooks.transferred && !hooks.transferred())
        throw ServiceError::transportCode(-999, QStringLiteral("cancelled"));

    if (!response.isHttp)
        throw ServiceError(QStringLiteral("Invalid response"), -1);
    Log::write(lcConversion(),
               QStringLiteral("uploadFile httpResponse.......: ") + response.description());
    if (response.status != 200)
        throw ServiceError(QStringLiteral("Upload failed"), response.status);

    Log::write(lcConversion(), QStringLiteral("===== 上传响应字符串 ====="));
    Log::write(lcConversion(),
               Log::utf8OrFallback(response.body, QStringLiteral("无法解析的响应数据")));
    Log::write(lcConversion(), QStringLiteral("========================"));

    if (const auto parsed = json::tryParse(response.body))
        Log::write(lcConversion(),
                   QStringLiteral("上传响应解析为JSON: ") + conversion::renderJson(*parsed));

    const FileUploadData record = conversion::decodeOrRebuild<FileUploadData>(
        response.body,
        {QStringLiteral("成功解码为FileUploadResponse"), QStringLiteral("❌ JSON解码错误: "),
         QStringLiteral("❌ 错误详情: "), QStringLiteral("尝试手动提取data: "),
         QStringLiteral("手动构建的FileUploadData: ")},
        [](const QByteArray &bytes) { return FileUploadResponse::decode(bytes).data; },
        extractUpload);
    // An answer whose record names nothing: the file went up, but nothing can be converted.
    if (record == FileUploadData{})
        throw ServiceError(QStringLiteral("The service's answer held no upload record"), -1);
    co_return record;
}

} // namespace quorvel
