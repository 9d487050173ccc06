// Download of one job's result into a directory (the temporary directory by default).

#include "conversion/OperationCatalogue.h"
#include "conversion/PDFViewModel.h"
#include "conversion/ResultName.h"
#include "service/HttpClient.h"
#include "service/Log.h"
#include "service/Request.h"

#include <QDir>
#include <QSaveFile>

namespace quorvel {

namespace {

ServiceError writeError(const QString &detail)
{
    // The URL-loading domain's "cannot create file": what a failed save reports.
    return ServiceError::transportCode(-3000, QStringLiteral("The result could not be written: ") +
                                                  detail);
}

} // namespace

QCoro::Task<QString> PDFViewModel::downloadFile(ConversionTask task, QString directory)
{
    Log::write(QStringLiteral("task>>>>>>>>>>>>>>: ") + task.render());
    Log::write(QStringLiteral("🔄 开始下载转换后文件: ") + task.id);
    Log::write(QStringLiteral("📄 文件名: ") + task.fileName);

    // The id is a query value whatever it holds: it cannot add parameters or a fragment.
    const auto url = serviceUrl(QStringLiteral("/v2/docx?md5_id=") +
                                QString::fromLatin1(QUrl::toPercentEncoding(task.id)));
    if (!url)
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    Request request;
    request.request.setUrl(*url);
    request.method = QByteArrayLiteral("GET");
    request.timeoutMs = 60'000;
    request.setHeader("cid", "1");
    applyStoredToken(request);

    const QString name = ResultName::safe(ResultName::forTask(task));
    const QString folder = directory.isEmpty() ? QDir::tempPath() : directory;
    const QString destination = QDir(folder).filePath(name);

    // The body goes into a temporary file beside the destination, renamed into place
    // only when all of it arrived: a failure leaves no partial file and an earlier
    // file of the same name intact.
    auto file = std::make_shared<QSaveFile>(destination);
    if (!file->open(QIODevice::WriteOnly))
        throw writeError(file->errorString());

    SendOptions options;
    options.bodySink = [file](const QByteArray &chunk) {
        return file->write(chunk) == chunk.size();
    };
    HttpResponse response;
    try {
        response = co_await send(sharedSession(), request, options);
    } catch (...) {
        file->cancelWriting();
        throw;
    }
    if (!response.isHttp) {
        file->cancelWriting();
        throw ServiceError(QStringLiteral("Invalid response"), -1);
    }
    Log::write(QStringLiteral("📥 下载响应状态码: %1").arg(response.status));
    if (response.status != 200) {
        file->cancelWriting();
        throw ServiceError(QStringLiteral("Download failed"), response.status);
    }

    Log::write(QStringLiteral("task>>>>>>>>>>>>>>: ") + task.typ);
    Log::write(QStringLiteral("task>>>>>>>>>>>>>>: ") + task.typ.toUpper());
    Log::write(QStringLiteral("fileExtension>>>>>>>>>>>>> ") +
               OperationCatalogue::resultExtension(task.typ.toUpper()));
    Log::write(QStringLiteral("fileName>>>>>>>>>>>>> ") + name);

    if (!file->commit())
        throw writeError(file->errorString());
    Log::write(QStringLiteral("✅ 文件下载成功: ") + destination);
    co_return destination;
}

} // namespace quorvel
