#include "Routes.h"

#include "FileCheck.h"
#include "Multipart.h"
#include "Records.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <sys/statvfs.h>

namespace quorvel::server {

void UploadRoutes::add(httplib::Server &svr) {
    svr.Post("/api/v2/uploadfilepdf",
             [this](const httplib::Request &req, httplib::Response &res,
                    const httplib::ContentReader &reader) { upload(req, res, reader); });
}

QString UploadRoutes::tmpDir() const {
    // Beside the uploads, so that the finished file is renamed into place; on
    // a shared folder each service has its own, named after its data folder,
    // and clears only that one.
    if (m_s.config.storageDir.isEmpty() || m_s.config.storageDir == m_s.config.dataDir)
        return m_s.config.dataDir + QStringLiteral("/tmp");
    const QByteArray self = (QSysInfo::machineHostName() + m_s.config.dataDir).toUtf8();
    return m_s.config.storageDir + QStringLiteral("/tmp/") +
           QString::fromLatin1(
               QCryptographicHash::hash(self, QCryptographicHash::Sha256).toHex().left(16));
}

std::int64_t UploadRoutes::drainLimit() const {
    return std::min<std::int64_t>(m_s.config.maxUploadBytes * 4 + 1024 * 1024, std::int64_t(2)
                                                                                   << 30);
}

void UploadRoutes::upload(const httplib::Request &req, httplib::Response &res,
                          const httplib::ContentReader &reader) {
    const auto user = authenticate(m_s.accounts, req, res);
    if (!user) {
        res.set_header("Connection", "close");
        return;
    }
    const std::string boundary = multipartBoundary(req.get_header_value("Content-Type"));
    if (boundary.empty()) {
        replyAndClose(res, 400,
                      QStringLiteral("expected a multipart/form-data body with a boundary"));
        return;
    }
    // The library picks its own multipart parser by the Content-Type header;
    // ours streams to disk and accepts what our client sends (a leading CR LF,
    // escaped file names), so the library is shown a plain body instead.
    auto &mutableHeaders = const_cast<httplib::Request &>(req).headers;
    const auto [first, last] = mutableHeaders.equal_range("Content-Type");
    for (auto it = first; it != last; ++it)
        it->second = "application/octet-stream";
    const std::int64_t overhead = 64 * 1024;
    const QString tooLargeMsg = QStringLiteral("the upload exceeds the limit of %1 MiB")
                                    .arg(m_s.config.maxUploadBytes / (1024 * 1024));
    if (req.has_header("Content-Length")) {
        const auto length =
            std::strtoll(req.get_header_value("Content-Length").c_str(), nullptr, 10);
        if (length > m_s.config.maxUploadBytes + overhead) {
            // Most clients read the answer only after sending everything, so
            // a moderately oversized body is read and dropped (never stored)
            // to let them see the 413; a huge one just gets the connection closed.
            if (length <= drainLimit())
                reader([](const char *, size_t) { return true; });
            replyAndClose(res, 413, tooLargeMsg);
            return;
        }
        struct statvfs fs;
        const QString volume =
            m_s.config.storageDir.isEmpty() ? m_s.config.dataDir : m_s.config.storageDir;
        if (::statvfs(QFile::encodeName(volume).constData(), &fs) == 0) {
            const auto freeBytes = std::int64_t(fs.f_bavail) * std::int64_t(fs.f_frsize);
            if (freeBytes < length + std::int64_t(256) * 1024 * 1024) {
                replyAndClose(res, 507, QStringLiteral("the service is out of storage space"));
                return;
            }
        }
    }

    QDir().mkpath(tmpDir());
    const QString tmpPath = tmpDir() + QLatin1Char('/') + newId() + QStringLiteral(".part");
    QFile file(tmpPath);
    if (!file.open(QIODevice::WriteOnly)) {
        replyAndClose(res, 500, QStringLiteral("the upload could not be stored"));
        return;
    }
    struct Cleanup {
        QString path;
        bool keep = false;
        ~Cleanup() {
            if (!keep)
                QFile::remove(path);
        }
    } cleanup{tmpPath};

    QCryptographicHash md5(QCryptographicHash::Md5);
    std::int64_t bytes = 0;
    bool inFile = false, haveFile = false, tooLarge = false, writeFailed = false;
    QString fileName;
    MultipartReader mp(boundary, {
                                     [&](const MultipartReader::Part &part) {
                                         inFile = part.name == "file" && !haveFile;
                                         if (inFile)
                                             fileName = QString::fromUtf8(part.fileName);
                                         return true;
                                     },
                                     [&](const char *data, std::size_t n) {
                                         if (!inFile)
                                             return true;
                                         bytes += std::int64_t(n);
                                         if (bytes > m_s.config.maxUploadBytes) {
                                             // Keep reading (and dropping) up to the drain
                                             // limit, so the client sees the answer.
                                             tooLarge = true;
                                             return bytes <= drainLimit();
                                         }
                                         if (tooLarge)
                                             return true;
                                         md5.addData(QByteArrayView(data, qsizetype(n)));
                                         if (file.write(data, qint64(n)) != qint64(n)) {
                                             writeFailed = true;
                                             return false;
                                         }
                                         return true;
                                     },
                                     [&] {
                                         if (inFile)
                                             haveFile = true;
                                         inFile = false;
                                         return true;
                                     },
                                 });
    const bool readOk = reader([&](const char *data, size_t n) { return mp.feed(data, n); });
    // The last bytes reach the disk only now; a full disk shows here.
    if (!file.flush())
        writeFailed = true;
    file.close();
    if (file.error() != QFileDevice::NoError)
        writeFailed = true;
    if (tooLarge) {
        replyAndClose(res, 413, tooLargeMsg);
        return;
    }
    if (writeFailed) {
        replyAndClose(res, 507, QStringLiteral("the upload could not be written to storage"));
        return;
    }
    if (!readOk || !mp.complete()) {
        replyAndClose(
            res, 400,
            QStringLiteral("the multipart body is incomplete or malformed%1")
                .arg(mp.error().empty() ? QString() : QStringLiteral(": ") + qstr(mp.error())));
        return;
    }
    if (!haveFile) {
        reply(res, 400, QStringLiteral("the form has no part named \"file\""));
        return;
    }

    const QString displayName = safeDisplayName(fileName);
    const QString digest = QString::fromLatin1(md5.result().toHex());
    // The client sends every file twice; the second copy reuses the first,
    // whose bytes (the same checksum) have passed the checks already.
    if (const auto same = m_s.store.sameUpload(user->id, digest, displayName)) {
        reply(res, 200, QStringLiteral("ok"), uploadJson(*same));
        return;
    }

    const FileCheck check = checkUpload(tmpPath, displayName);
    if (check.verdict != FileCheck::Verdict::Ok) {
        reply(res, check.verdict == FileCheck::Verdict::Unsupported ? 415 : 422, check.reason);
        return;
    }

    UploadRecord up;
    up.userId = user->id;
    up.fileName = displayName;
    up.typ = check.typ;
    up.md5 = digest;
    up.size = bytes;
    up.pageNumber = check.pages;
    up.encrypted = check.encrypted;
    up.id = newId();
    QDir().mkpath(m_s.runner.uploadsDir());
    const QString stored = m_s.runner.uploadsDir() + QLatin1Char('/') + up.id;
    if (!QFile::rename(tmpPath, stored)) {
        reply(res, 500, QStringLiteral("the upload could not be stored"));
        return;
    }
    cleanup.path = stored; // until its record is written
    try {
        m_s.store.addUpload(up);
    } catch (const DatabaseError &e) {
        if (std::string(e.what()).find("full") == std::string::npos)
            throw;
        reply(res, 507, QStringLiteral("the service is out of storage space"));
        return;
    }
    cleanup.keep = true;
    reply(res, 200, QStringLiteral("ok"), uploadJson(up));
}

} // namespace quorvel::server
