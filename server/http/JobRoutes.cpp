#include "Routes.h"

#include "HttpConnections.h"
#include "Records.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace quorvel::server {

void JobRoutes::add(httplib::Server &svr) {
    svr.Post("/api/v1/tollan/convert",
             [this](const httplib::Request &req, httplib::Response &res) { convert(req, res); });
    svr.Get("/api/v1/tollan/convert/all",
            [this](const httplib::Request &req, httplib::Response &res) { history(req, res); });
    svr.Get(R"(/api/v1/tollan/convert/([^/]+))",
            [this](const httplib::Request &req, httplib::Response &res) { status(req, res); });
}

void JobRoutes::convert(const httplib::Request &req, httplib::Response &res) {
    const auto user = authenticate(m_s.accounts, req, res, true);
    if (!user)
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body));
    if (!doc.isObject()) {
        reply(res, 400, QStringLiteral("the body must be a JSON object"));
        return;
    }
    const QJsonObject body = doc.object();
    const QString typ = body.value(QStringLiteral("typ")).toString();
    const auto op = findOperation(typ);
    if (!op) {
        reply(res, 400, QStringLiteral("unknown conversion type \"%1\"").arg(typ.left(40)));
        return;
    }

    // The upload by its key, or (a job listed by a history that lost its key) by checksum.
    std::optional<UploadRecord> up;
    const QString key = uploadIdFromKey(body.value(QStringLiteral("source_file_path")).toString());
    if (!key.isEmpty())
        up = m_s.store.upload(user->id, key);
    const QString md5 = body.value(QStringLiteral("source_file_md5")).toString();
    if (!up && !md5.isEmpty())
        up = m_s.store.latestUploadWithMd5(user->id, md5.toLower());
    if (!up) {
        reply(res, 404, QStringLiteral("no uploaded file matches this request; upload it first"));
        return;
    }
    if (!op->sourceTypes.contains(up->typ)) {
        reply(res, 400,
              QStringLiteral("%1 converts %2 files, and this file is %3")
                  .arg(op->code, op->sourceTypes.join(QLatin1Char('/')), up->typ));
        return;
    }

    JobRecord job;
    job.id = newId();
    job.userId = user->id;
    job.uploadId = up->id;
    job.typ = op->code;
    const QString requestedName = body.value(QStringLiteral("file_name")).toString();
    job.fileName =
        requestedName.trimmed().isEmpty() ? up->fileName : safeDisplayName(requestedName);
    job.pageNumber = up->pageNumber;
    job.sourceFileTyp = up->typ;
    job.resultFileTyp = op->resultType;
    job.sourceFileMd5 = up->md5;
    job.state = JobState::Queued;
    job.createdAt = nowText();
    const Store::Admission a = m_s.store.queueJob(*user, job);
    if (!a.queued) {
        res.status = 402;
        const QString why = a.lifetime
                                ? QStringLiteral("Daily page allowance used up: this file needs %1 "
                                                 "page(s), %2 remain today.")
                                : QStringLiteral("Not enough pages: this file needs %1 page(s), "
                                                 "%2 remain in the account.");
        res.set_content(str(why.arg(a.need).arg(std::max<qint64>(a.left, 0))),
                        "text/plain; charset=utf-8");
        return;
    }
    JobState::changed(user->id, job.id);
    m_s.runner.notify();
    reply(res, 200, QStringLiteral("ok"), jobJson(job));
}

void JobRoutes::status(const httplib::Request &req, httplib::Response &res) {
    const auto user = authenticate(m_s.accounts, req, res);
    if (!user)
        return;
    const std::string id = req.matches[1].str();
    const quint64 generation = JobState::generation();
    // Jobs also change in other services sharing the database: ask it every time.
    const bool cacheable = !m_s.store.shared();
    if (cacheable) {
        std::lock_guard lock(m_statusMutex);
        const auto it = m_statusCache.find(id);
        if (it != m_statusCache.end() && it->second.generation == generation &&
            it->second.userId == user->id) {
            res.set_content(it->second.body, "application/json");
            return;
        }
    }
    const auto job = m_s.store.job(user->id, qstr(id));
    if (!job) {
        reply(res, 404, QStringLiteral("no such job"));
        return;
    }
    std::string body = envelope(0, QStringLiteral("ok"), jobJson(*job)).toStdString();
    if (cacheable) {
        std::lock_guard lock(m_statusMutex);
        if (m_statusCache.size() > 10000)
            m_statusCache.clear();
        m_statusCache[id] = Cached{generation, user->id, body};
    }
    res.set_content(std::move(body), "application/json");
}

void JobRoutes::history(const httplib::Request &req, httplib::Response &res) {
    const auto user = authenticate(m_s.accounts, req, res);
    if (!user)
        return;
    reply(res,
          m_history.answer(user->id, compression::acceptsGzip(HttpConnections::acceptEncoding()),
                           HttpConnections::receivedNs()));
}

} // namespace quorvel::server
