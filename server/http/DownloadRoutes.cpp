#include "Routes.h"

#include "Records.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace quorvel::server {

namespace {

QString mimeFor(const QString &ext) {
    if (ext == QLatin1String("pdf"))
        return QStringLiteral("application/pdf");
    if (ext == QLatin1String("docx"))
        return QStringLiteral(
            "application/vnd.openxmlformats-officedocument.wordprocessingml.document");
    if (ext == QLatin1String("pptx"))
        return QStringLiteral(
            "application/vnd.openxmlformats-officedocument.presentationml.presentation");
    if (ext == QLatin1String("zip"))
        return QStringLiteral("application/zip");
    if (ext == QLatin1String("md"))
        return QStringLiteral("text/markdown; charset=utf-8");
    return QStringLiteral("application/octet-stream");
}

} // namespace

void DownloadRoutes::add(httplib::Server &svr) {
    svr.Get("/api/v2/docx",
            [this](const httplib::Request &req, httplib::Response &res) { download(req, res); });
}

void DownloadRoutes::download(const httplib::Request &req, httplib::Response &res) {
    const auto user = authenticate(m_s.accounts, req, res);
    if (!user)
        return;
    const auto job = m_s.store.job(user->id, qstr(req.get_param_value("md5_id")));
    if (!job || job->state != JobState::Completed || job->resultFile.isEmpty()) {
        reply(res, 404,
              job ? QStringLiteral("the job has no result yet") : QStringLiteral("no such job"));
        return;
    }
    const QString path = m_s.runner.resultsDir() + QLatin1Char('/') + job->resultFile;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reply(res, 404, QStringLiteral("the result is no longer stored"));
        return;
    }
    const auto size = std::size_t(::lseek(fd, 0, SEEK_END));
    const QString ext = QFileInfo(job->resultFile).suffix();
    res.set_header("Content-Disposition",
                   str(QStringLiteral("attachment; filename=\"result.%1\"").arg(ext)));
    res.set_content_provider(
        size, str(mimeFor(ext)),
        [fd](size_t offset, size_t length, httplib::DataSink &sink) {
            char buf[64 * 1024];
            const ssize_t n = ::pread(fd, buf, std::min(length, sizeof buf), off_t(offset));
            if (n <= 0)
                return false;
            return sink.write(buf, size_t(n));
        },
        [fd](bool) { ::close(fd); });
}

} // namespace quorvel::server
