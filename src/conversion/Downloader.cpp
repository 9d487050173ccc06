#include "conversion/Downloader.h"

#include "conversion/DirectTransfer.h"
#include "conversion/OperationCatalogue.h"
#include "conversion/ResultName.h"
#include "service/HttpClient.h"
#include "service/LogCategories.h"
#include "service/Request.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace quorvel {

namespace {

ServiceError writeError(const QString &detail) {
    // The URL-loading domain's "cannot create file": what a failed save reports.
    return ServiceError::transportCode(-3000, QStringLiteral("The result could not be written: ") +
                                                  detail);
}

// The longest file name the folder's file system takes, in bytes.
int nameLimit(const QString &folder) {
    constexpr long kCommon = 255;
    const long limit = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return int(limit > 0 ? qMin(limit, 4096L) : kCommon);
}

// Moves the finished file to `destination`, or with KeepBoth to the first free numbered name
// beside it; the name it took. Taking a name is one system call that fails when the name
// exists (no look-then-write gap another program could fill). File systems without such a
// call (some network and FAT mounts) get a look first.
QString place(const QString &from, const QString &destination, ExistingFile existing,
              int maxNameBytes) {
    const QByteArray source = QFile::encodeName(from);
    if (existing == ExistingFile::Replace) {
        if (std::rename(source.constData(), QFile::encodeName(destination).constData()) != 0)
            throw writeError(QString::fromLocal8Bit(std::strerror(errno)));
        return destination;
    }
    const QFileInfo target(destination);
    // Past this many copies of one name something is wrong with the folder, not the names.
    constexpr int kCopies = 9999;
    for (int copy = 1; copy <= kCopies; ++copy) {
        const QString candidate =
            target.dir().filePath(ResultName::numbered(target.fileName(), copy, maxNameBytes));
        const QByteArray name = QFile::encodeName(candidate);
        if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, name.constData(),
                        RENAME_NOREPLACE) == 0)
            return candidate;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
            throw writeError(QString::fromLocal8Bit(std::strerror(errno)));
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink())
            continue;
        if (std::rename(source.constData(), name.constData()) != 0)
            throw writeError(QString::fromLocal8Bit(std::strerror(errno)));
        return candidate;
    }
    throw writeError(QStringLiteral("%1 files with this name already exist.").arg(kCopies));
}

QString dataSize(qint64 bytes) {
    return QLocale::c().formattedDataSize(bytes);
}

// Counts what is written against the limits. The folder's free space is looked at
// before anything is written and again at least every kRecheck bytes: other programs
// write to the same disk meanwhile.
class Budget {
public:
    Budget(const QString &folder, DownloadLimits limits)
        : m_folder(folder)
        , m_storage(folder)
        , m_limits(limits) {}

    // The announced length of the whole result (-1 when unknown), before any of it.
    std::optional<ServiceError> expect(qint64 length) {
        if (length > m_limits.maxBytes)
            return tooLarge();
        if (length > 0 && room() < length)
            return noSpace();
        return std::nullopt;
    }

    // Before writing `bytes` more; admit(0) checks the free space alone.
    std::optional<ServiceError> admit(qint64 bytes) {
        if (m_written + bytes > m_limits.maxBytes)
            return tooLarge();
        if (bytes > m_unchecked) {
            const qint64 left = room();
            if (left < bytes)
                return noSpace();
            m_unchecked = qMin(left, qMax(bytes, kRecheck));
        }
        m_unchecked -= bytes;
        m_written += bytes;
        return std::nullopt;
    }

private:
    static constexpr qint64 kRecheck = 16 << 20;

    // Free space above the margin. A folder whose disk cannot be read counts as
    // roomy: a write that fails still reports itself.
    qint64 room() {
        m_storage.refresh();
        if (!m_storage.isValid() || !m_storage.isReady())
            return std::numeric_limits<qint64>::max();
        return m_storage.bytesAvailable() - m_limits.freeSpaceMargin;
    }

    ServiceError tooLarge() const {
        // The URL-loading domain's "data length exceeds maximum".
        return ServiceError::transportCode(
            -1103, QStringLiteral("The result is larger than the download limit of %1.")
                       .arg(dataSize(m_limits.maxBytes)));
    }

    ServiceError noSpace() const {
        // The URL-loading domain's "cannot write to file".
        return ServiceError::transportCode(
            -3003,
            QStringLiteral("Not enough free space in %1: the result would leave less "
                           "than %2 free.")
                .arg(QDir::toNativeSeparators(m_folder), dataSize(m_limits.freeSpaceMargin)));
    }

    QString m_folder;
    QStorageInfo m_storage;
    DownloadLimits m_limits;
    qint64 m_written = 0;
    // Bytes that may still be written before the disk is looked at again; -1 makes
    // the first admit() look.
    qint64 m_unchecked = -1;
};

} // namespace

QString Downloader::downloadFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    // A folder that cannot be made fails the download itself, with the reason.
    QDir().mkpath(folder);
    return folder;
}

QCoro::Task<QString> Downloader::download(ConversionTask task, QString directory,
                                          DownloadLimits limits, ExistingFile existing) {
    Log::write(lcDownload(), QStringLiteral("task>>>>>>>>>>>>>>: ") + task.render());
    Log::write(lcDownload(), QStringLiteral("🔄 开始下载转换后文件: ") + task.id);
    Log::write(lcDownload(), QStringLiteral("📄 文件名: ") + task.fileName);

    // The id is a query value whatever it holds: it cannot add parameters or a fragment.
    const QString path = QStringLiteral("/v2/docx?md5_id=") + encodeIdForPath(task.id);
    const auto url = serviceUrl(path);
    if (!url)
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    Request request;
    request.request.setUrl(*url);
    request.method = QByteArrayLiteral("GET");
    request.timeoutMs = limits.idleMs;
    request.minProgressBytes = limits.minBytesPerIdle;
    request.setHeader("cid", "1");
    if (isDotSegment(task.id))
        request.target = serviceTarget(path);
    applyStoredToken(request);

    const QString folder = directory.isEmpty() ? QDir::tempPath() : directory;
    const int maxNameBytes = nameLimit(folder);
    const QString name =
        ResultName::fitted(ResultName::safe(ResultName::forTask(task)), maxNameBytes);
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
    auto budget = std::make_shared<Budget>(folder, limits);
    if (auto error = budget->admit(0))
        throw *error;

    DirectOptions options;
    options.expect = [budget](qint64 length) { return budget->expect(length); };
    options.sink = [part, budget](const QByteArray &piece) -> std::optional<ServiceError> {
        if (auto error = budget->admit(piece.size()))
            return error;
        if (part->write(piece) != piece.size())
            return writeError(part->errorString());
        return std::nullopt;
    };
    const HttpResponse response = co_await sendDirect(request, options);
    if (!response.isHttp)
        throw ServiceError(QStringLiteral("Invalid response"), -1);
    Log::write(lcDownload(), QStringLiteral("📥 下载响应状态码: %1").arg(response.status));
    if (response.status != 200)
        throw ServiceError(QStringLiteral("Download failed"), response.status);

    Log::write(lcDownload(), QStringLiteral("task>>>>>>>>>>>>>>: ") + task.typ);
    Log::write(lcDownload(), QStringLiteral("task>>>>>>>>>>>>>>: ") + task.typ.toUpper());
    Log::write(lcDownload(), QStringLiteral("fileExtension>>>>>>>>>>>>> ") +
                                 OperationCatalogue::resultExtension(task.typ.toUpper()));
    Log::write(lcDownload(), QStringLiteral("fileName>>>>>>>>>>>>> ") + name);

    if (!part->flush())
        throw writeError(part->errorString());
    // Same directory, so one rename(2): the destination is either the old file or the
    // whole new one, never a mix.
    const QString saved = place(part->fileName(), destination, existing, maxNameBytes);
    part->setAutoRemove(false);
    discard.dismiss();
    Log::write(lcDownload(), QStringLiteral("✅ 文件下载成功: ") + saved);
    co_return saved;
}

} // namespace quorvel
