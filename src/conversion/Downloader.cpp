#include "conversion/Downloader.h"

#include "conversion/DirectTransfer.h"
#include "conversion/OperationCatalogue.h"
#include "conversion/ResultName.h"
#include "service/HttpClient.h"
#include "service/Log.h"
#include "service/Request.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quorvel {

namespace {

ServiceError writeError(const QString &detail) {
    // The URL-loading domain's "cannot create file": what a failed save reports.
    return ServiceError::transportCode(-3000, QStringLiteral("The result could not be written: ") +
                                                  detail);
}

} // namespace

QCoro::Task<QString> Downloader::download(ConversionTask task, QString directory) {
    Log::write(QStringLiteral("task>>>>>>>>>>>>>>: ") + task.render());
    Log::write(QStringLiteral("🔄 开始下载转换后文件: ") + task.id);
    Log::write(QStringLiteral("📄 文件名: ") + task.fileName);

    // The id is a query value whatever it holds: it cannot add parameters or a fragment.
    const QString path = QStringLiteral("/v2/docx?md5_id=") + encodeIdForPath(task.id);
    const auto url = serviceUrl(path);
    if (!url)
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    Request request;
    request.request.setUrl(*url);
    request.method = QByteArrayLiteral("GET");
    request.timeoutMs = 60'000;
    request.setHeader("cid", "1");
    if (isDotSegment(task.id))
        request.target = serviceTarget(path);
    applyStoredToken(request);

    const QString name = ResultName::safe(ResultName::forTask(task));
    const QString folder = directory.isEmpty() ? QDir::tempPath() : directory;
    const QString destination = QDir(folder).filePath(name);

    // The body goes into a hidden temporary file beside the destination and is renamed
    // into place only when all of it arrived: a failure leaves no partial file and an
    // earlier file of the same name intact. The rename replaces atomically, and replaces
    // a link planted under the destination's name rather than writing through it. The
    // file is not forced to disk first: a result can always be downloaded again, and a
    // sync per download would halve its speed.
    auto part = std::make_shared<QTemporaryFile>(
        QDir(folder).filePath(QStringLiteral(".quorvel-XXXXXX.part")));
    if (!part->open())
        throw writeError(part->errorString());
    auto discard = qScopeGuard([part] { part->remove(); });

    DirectOptions options;
    options.sink = [part](const QByteArray &piece) { return part->write(piece) == piece.size(); };
    const HttpResponse response = co_await sendDirect(request, options);
    if (!response.isHttp)
        throw ServiceError(QStringLiteral("Invalid response"), -1);
    Log::write(QStringLiteral("📥 下载响应状态码: %1").arg(response.status));
    if (response.status != 200)
        throw ServiceError(QStringLiteral("Download failed"), response.status);

    Log::write(QStringLiteral("task>>>>>>>>>>>>>>: ") + task.typ);
    Log::write(QStringLiteral("task>>>>>>>>>>>>>>: ") + task.typ.toUpper());
    Log::write(QStringLiteral("fileExtension>>>>>>>>>>>>> ") +
               OperationCatalogue::resultExtension(task.typ.toUpper()));
    Log::write(QStringLiteral("fileName>>>>>>>>>>>>> ") + name);

    if (!part->flush())
        throw writeError(part->errorString());
    // Same directory, so one rename(2): the destination is either the old file or the
    // whole new one, never a mix.
    if (std::rename(QFile::encodeName(part->fileName()).constData(),
                    QFile::encodeName(destination).constData()) != 0)
        throw writeError(QString::fromLocal8Bit(std::strerror(errno)));
    part->setAutoRemove(false);
    discard.dismiss();
    Log::write(QStringLiteral("✅ 文件下载成功: ") + destination);
    co_return destination;
}

} // namespace quorvel
