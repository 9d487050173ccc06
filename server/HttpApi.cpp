#include "HttpApi.h"

#include "HttpConnections.h"

#include "FileCheck.h"
#include "Multipart.h"
#include "PdfText.h"
#include "Records.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QUuid>

#include <httplib.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <unordered_map>

namespace quorvel::server {

namespace {

thread_local std::chrono::steady_clock::time_point t_requestStart;

// The access log's timestamp, formatted once a second per thread.
const char *logTime() {
    thread_local std::time_t shown = -1;
    thread_local char text[40];
    const std::time_t now = std::time(nullptr);
    if (now != shown) {
        std::tm tm{};
        ::gmtime_r(&now, &tm);
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &tm);
        shown = now;
    }
    return text;
}
thread_local QString t_requestUser;

// Request data in the access log: anything but printable ASCII, and the quote
// and backslash that delimit it, as \xHH, so no request can forge a line or
// send escapes to the terminal reading the log.
std::string logSafe(const std::string &s) {
    std::string out;
    out.reserve(s.size());
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string str(const QString &s) {
    return s.toStdString();
}
QString qstr(const std::string &s) {
    return QString::fromStdString(s);
}

QString newId() {
    return QUuid::createUuid().toString(QUuid::Id128);
}

void reply(httplib::Response &res, int status, const QString &msg,
           const QJsonValue &data = QJsonValue::Null) {
    res.status = status;
    res.set_content(envelope(status == 200 ? 0 : status, msg, data).toStdString(),
                    "application/json");
}

// The body was not (fully) read: the connection cannot carry another request.
void replyAndClose(httplib::Response &res, int status, const QString &msg) {
    reply(res, status, msg);
    res.set_header("Connection", "close");
}

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

JobRecord jobFrom(const Rows &q) {
    JobRecord j;
    j.id = q.value(0).toString();
    j.userId = q.value(1).toLongLong();
    j.uploadId = q.value(2).toString();
    j.typ = q.value(3).toString();
    j.fileName = q.value(4).toString();
    j.pageNumber = q.value(5).toLongLong();
    j.sourceFileTyp = q.value(6).toString();
    j.resultFileTyp = q.value(7).toString();
    j.sourceFileMd5 = q.value(8).toString();
    j.state = q.value(9).toString();
    j.resultFile = q.value(10).toString();
    j.failure = q.value(11).toString();
    j.createdAt = q.value(12).toString();
    return j;
}

const char *kJobColumns =
    "SELECT id, user_id, upload_id, typ, file_name, page_number, source_file_typ, "
    "result_file_typ, source_file_md5, state, result_file, failure, created_at FROM jobs ";

UploadRecord uploadFrom(const Rows &q) {
    UploadRecord u;
    u.id = q.value(0).toString();
    u.userId = q.value(1).toLongLong();
    u.fileName = q.value(2).toString();
    u.typ = q.value(3).toString();
    u.md5 = q.value(4).toString();
    u.size = q.value(5).toLongLong();
    u.pageNumber = q.value(6).toLongLong();
    u.encrypted = q.value(7).toBool();
    return u;
}

const char *kUploadColumns =
    "SELECT id, user_id, file_name, typ, md5, size, page_number, encrypted FROM uploads ";

} // namespace

struct HttpApi::Impl {
    const Database &db;
    Accounts &accounts;
    JobRunner &runner;
    Config config;
    HttpConnections svr;
    int port = -1;

    Impl(const Database &d, Accounts &a, JobRunner &r, Config c)
        : db(d)
        , accounts(a)
        , runner(r)
        , config(std::move(c))
        , svr(limits(config)) {}

    static HttpConnections::Limits limits(const Config &config) {
        HttpConnections::Limits l;
        l.workers = std::max(8, config.httpThreads);
        l.headerTimeout = config.headerTimeout;
        return l;
    }

    QString tmpDir() const { return config.dataDir + QStringLiteral("/tmp"); }
    std::int64_t drainLimit() const {
        return std::min<std::int64_t>(config.maxUploadBytes * 4 + 1024 * 1024, std::int64_t(2)
                                                                                   << 30);
    }

    // The caller's account. Only handlers that read pages or membership ask for
    // the full record; the others need the id alone and skip the database.
    std::optional<UserRecord> authenticate(const httplib::Request &req, httplib::Response &res,
                                           bool fullRecord = false) {
        const std::string header = req.get_header_value("Authorization");
        static const std::string prefix = "Bearer ";
        std::optional<UserRecord> user;
        if (header.compare(0, prefix.size(), prefix) == 0) {
            if (const auto who = accounts.authenticate(qstr(header.substr(prefix.size())))) {
                if (fullRecord) {
                    user = accounts.user(who->id);
                } else {
                    user = UserRecord{};
                    user->id = who->id;
                    user->email = who->email;
                }
            }
        }
        if (!user) {
            reply(res, 401, QStringLiteral("not signed in, or the session has expired"));
            return std::nullopt;
        }
        t_requestUser = user->email;
        return user;
    }

    void routes() {
        svr.Get("/healthz", [](const httplib::Request &, httplib::Response &res) {
            reply(res, 200, QStringLiteral("ok"),
                  QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}});
        });
        svr.Post("/api/v1/tollan/auth/login",
                 [this](const httplib::Request &req, httplib::Response &res) { login(req, res); });
        svr.Get("/api/v1/tollan/auth/me",
                [this](const httplib::Request &req, httplib::Response &res) { me(req, res); });
        svr.Get(
            "/api/v1/tollan/convertapi/page_balance",
            [this](const httplib::Request &req, httplib::Response &res) { pageBalance(req, res); });
        svr.Post("/api/v2/uploadfilepdf",
                 [this](const httplib::Request &req, httplib::Response &res,
                        const httplib::ContentReader &reader) { upload(req, res, reader); });
        svr.Post("/api/v1/tollan/convert", [this](const httplib::Request &req,
                                                  httplib::Response &res) { convert(req, res); });
        svr.Get("/api/v1/tollan/convert/all",
                [this](const httplib::Request &req, httplib::Response &res) { history(req, res); });
        svr.Get(R"(/api/v1/tollan/convert/([^/]+))",
                [this](const httplib::Request &req, httplib::Response &res) { status(req, res); });
        svr.Get("/api/v2/docx", [this](const httplib::Request &req, httplib::Response &res) {
            download(req, res);
        });
    }

    void login(const httplib::Request &req, httplib::Response &res) {
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body));
        const QJsonValue email = doc.object().value(QStringLiteral("email"));
        const QJsonValue password = doc.object().value(QStringLiteral("password"));
        if (!doc.isObject() || !email.isString() || !password.isString()) {
            reply(res, 400,
                  QStringLiteral(
                      "the body must be a JSON object with \"email\" and \"password\" texts"));
            return;
        }
        const auto r = accounts.login(email.toString(), password.toString());
        switch (r.outcome) {
        case Accounts::LoginResult::Outcome::Ok:
            t_requestUser = email.toString();
            reply(res, 200, QStringLiteral("ok"), QJsonObject{{QStringLiteral("token"), r.token}});
            return;
        case Accounts::LoginResult::Outcome::Refused:
            reply(res, 401, QStringLiteral("invalid e-mail or password"));
            return;
        case Accounts::LoginResult::Outcome::Throttled:
            reply(res, 429,
                  QStringLiteral("too many failed sign-ins; try again in %1 s")
                      .arg(r.retryAfterSeconds));
            res.set_header("Retry-After", std::to_string(r.retryAfterSeconds));
            return;
        case Accounts::LoginResult::Outcome::Busy:
            reply(res, 503,
                  QStringLiteral("too many sign-ins at once; try again in %1 s")
                      .arg(r.retryAfterSeconds));
            res.set_header("Retry-After", std::to_string(r.retryAfterSeconds));
            return;
        }
    }

    void me(const httplib::Request &req, httplib::Response &res) {
        const auto user = authenticate(req, res, true);
        if (!user)
            return;
        const Balance b = accounts.balance(*user);
        const bool lifetime = user->lifetimeDaily > 0;
        const qint64 remain = std::max<qint64>(0, b.totalPages - b.consumedPages);
        reply(res, 200, QStringLiteral("ok"),
              QJsonObject{
                  {QStringLiteral("email"), user->email},
                  {QStringLiteral("is_lifetimedeal_member"), lifetime},
                  {QStringLiteral("lifetime_member_description"),
                   lifetime ? QStringLiteral("Lifetime membership: %1 pages a day")
                                  .arg(user->lifetimeDaily)
                            : QStringLiteral("No lifetime membership")},
                  {QStringLiteral("page_balcance_description"),
                   QStringLiteral("%1 of %2 pages remain").arg(remain).arg(b.totalPages)},
                  {QStringLiteral("lft_daily_usage"), lifetime ? b.dailyUsage : 0},
                  {QStringLiteral("lft_daily_total"), user->lifetimeDaily},
              });
    }

    void pageBalance(const httplib::Request &req, httplib::Response &res) {
        const auto user = authenticate(req, res, true);
        if (!user)
            return;
        const Balance b = accounts.balance(*user);
        reply(res, 200, QStringLiteral("ok"),
              QJsonObject{{QStringLiteral("total_pages"), b.totalPages},
                          {QStringLiteral("consumed_pages"), b.consumedPages}});
    }

    void upload(const httplib::Request &req, httplib::Response &res,
                const httplib::ContentReader &reader) {
        const auto user = authenticate(req, res);
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
                                        .arg(config.maxUploadBytes / (1024 * 1024));
        if (req.has_header("Content-Length")) {
            const auto length =
                std::strtoll(req.get_header_value("Content-Length").c_str(), nullptr, 10);
            if (length > config.maxUploadBytes + overhead) {
                // Most clients read the answer only after sending everything, so
                // a moderately oversized body is read and dropped (never stored)
                // to let them see the 413; a huge one just gets the connection closed.
                if (length <= drainLimit())
                    reader([](const char *, size_t) { return true; });
                replyAndClose(res, 413, tooLargeMsg);
                return;
            }
            struct statvfs fs;
            if (::statvfs(QFile::encodeName(config.dataDir).constData(), &fs) == 0) {
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
                                             if (bytes > config.maxUploadBytes) {
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
        {
            Rows same =
                db.exec(QString::fromLatin1(kUploadColumns) +
                            QStringLiteral("WHERE user_id=? AND md5=? AND file_name=? LIMIT 1"),
                        {user->id, digest, displayName});
            if (same.next()) {
                reply(res, 200, QStringLiteral("ok"), uploadJson(uploadFrom(same)));
                return;
            }
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
        QDir().mkpath(runner.uploadsDir());
        const QString stored = runner.uploadsDir() + QLatin1Char('/') + up.id;
        if (!QFile::rename(tmpPath, stored)) {
            reply(res, 500, QStringLiteral("the upload could not be stored"));
            return;
        }
        cleanup.path = stored; // until its record is written
        try {
            db.exec(QStringLiteral("INSERT INTO uploads(id, user_id, file_name, typ, md5, size, "
                                   "page_number, encrypted, "
                                   "created_at) VALUES(?,?,?,?,?,?,?,?,?)"),
                    {up.id, up.userId, up.fileName, up.typ, up.md5, up.size, up.pageNumber,
                     up.encrypted ? 1 : 0, Database::nowText()});
        } catch (const DatabaseError &e) {
            if (std::string(e.what()).find("full") == std::string::npos)
                throw;
            reply(res, 507, QStringLiteral("the service is out of storage space"));
            return;
        }
        cleanup.keep = true;
        reply(res, 200, QStringLiteral("ok"), uploadJson(up));
    }

    void convert(const httplib::Request &req, httplib::Response &res) {
        const auto user = authenticate(req, res, true);
        if (!user)
            return;
        QJsonParseError err{};
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &err);
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

        Transaction tx(db);
        std::optional<UploadRecord> up;
        const QString key =
            uploadIdFromKey(body.value(QStringLiteral("source_file_path")).toString());
        if (!key.isEmpty()) {
            Rows q = db.exec(QString::fromLatin1(kUploadColumns) +
                                 QStringLiteral("WHERE id=? AND user_id=?"),
                             {key, user->id});
            if (q.next())
                up = uploadFrom(q);
        }
        const QString md5 = body.value(QStringLiteral("source_file_md5")).toString();
        if (!up && !md5.isEmpty()) {
            Rows q = db.exec(
                QString::fromLatin1(kUploadColumns) +
                    QStringLiteral("WHERE user_id=? AND md5=? ORDER BY created_at DESC LIMIT 1"),
                {user->id, md5.toLower()});
            if (q.next())
                up = uploadFrom(q);
        }
        if (!up) {
            reply(res, 404,
                  QStringLiteral("no uploaded file matches this request; upload it first"));
            return;
        }
        if (!op->sourceTypes.contains(up->typ)) {
            reply(res, 400,
                  QStringLiteral("%1 converts %2 files, and this file is %3")
                      .arg(op->code, op->sourceTypes.join(QLatin1Char('/')), up->typ));
            return;
        }

        const Balance b = accounts.balance(*user);
        const qint64 need = std::max<qint64>(up->pageNumber, 1);
        const bool lifetime = user->lifetimeDaily > 0;
        const qint64 left = lifetime ? user->lifetimeDaily - b.dailyUsage - b.reservedPages
                                     : b.totalPages - b.consumedPages - b.reservedPages;
        if (need > left) {
            res.status = 402;
            const QString why =
                lifetime
                    ? QStringLiteral("Daily page allowance used up: this file needs %1 page(s), "
                                     "%2 remain today.")
                    : QStringLiteral("Not enough pages: this file needs %1 page(s), "
                                     "%2 remain in the account.");
            res.set_content(str(why.arg(need).arg(std::max<qint64>(left, 0))),
                            "text/plain; charset=utf-8");
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
        job.createdAt = Database::nowText();
        db.exec(QStringLiteral("INSERT INTO jobs(id, user_id, upload_id, typ, file_name, "
                               "page_number, source_file_typ, "
                               "result_file_typ, source_file_md5, state, created_at) "
                               "VALUES(?,?,?,?,?,?,?,?,?,?,?)"),
                {job.id, job.userId, job.uploadId, job.typ, job.fileName, job.pageNumber,
                 job.sourceFileTyp, job.resultFileTyp, job.sourceFileMd5, job.state,
                 job.createdAt});
        tx.commit();
        JobState::changed();
        runner.notify();
        reply(res, 200, QStringLiteral("ok"), jobJson(job));
    }

    std::optional<JobRecord> findJob(const UserRecord &user, const QString &id) {
        Rows q =
            db.exec(QString::fromLatin1(kJobColumns) + QStringLiteral("WHERE id=? AND user_id=?"),
                    {id, user.id});
        if (!q.next())
            return std::nullopt;
        return jobFrom(q);
    }

    // Status checks arrive every few seconds per running job; the answer only
    // changes when a job does.
    struct CachedStatus {
        quint64 generation = 0;
        qint64 userId = 0;
        std::string body;
    };
    std::mutex statusMutex;
    std::unordered_map<std::string, CachedStatus> statusCache;

    void status(const httplib::Request &req, httplib::Response &res) {
        const auto user = authenticate(req, res);
        if (!user)
            return;
        const std::string id = req.matches[1].str();
        const quint64 generation = JobState::generation();
        {
            std::lock_guard lock(statusMutex);
            const auto it = statusCache.find(id);
            if (it != statusCache.end() && it->second.generation == generation &&
                it->second.userId == user->id) {
                res.set_content(it->second.body, "application/json");
                return;
            }
        }
        const auto job = findJob(*user, qstr(id));
        if (!job) {
            reply(res, 404, QStringLiteral("no such job"));
            return;
        }
        std::string body = envelope(0, QStringLiteral("ok"), jobJson(*job)).toStdString();
        {
            std::lock_guard lock(statusMutex);
            if (statusCache.size() > 10000)
                statusCache.clear();
            statusCache[id] = CachedStatus{generation, user->id, body};
        }
        res.set_content(std::move(body), "application/json");
    }

    // History answers are the most frequent and the largest; each user's is
    // kept until any job changes.
    struct CachedHistory {
        quint64 generation = 0;
        std::string body;
    };
    std::mutex historyMutex;
    std::unordered_map<qint64, CachedHistory> historyCache;

    void history(const httplib::Request &req, httplib::Response &res) {
        const auto user = authenticate(req, res);
        if (!user)
            return;
        const quint64 generation = JobState::generation();
        {
            std::lock_guard lock(historyMutex);
            const auto it = historyCache.find(user->id);
            if (it != historyCache.end() && it->second.generation == generation) {
                res.set_content(it->second.body, "application/json");
                return;
            }
        }
        QJsonArray converts;
        Rows q = db.exec(QString::fromLatin1(kJobColumns) +
                             QStringLiteral("WHERE user_id=? ORDER BY seq DESC"),
                         {user->id});
        while (q.next())
            converts.append(jobJson(jobFrom(q)));
        q.finish();
        std::string body =
            envelope(0, QStringLiteral("ok"), QJsonObject{{QStringLiteral("converts"), converts}})
                .toStdString();
        {
            std::lock_guard lock(historyMutex);
            if (historyCache.size() > 10000)
                historyCache.clear();
            historyCache[user->id] = CachedHistory{generation, body};
        }
        res.set_content(std::move(body), "application/json");
    }

    void download(const httplib::Request &req, httplib::Response &res) {
        const auto user = authenticate(req, res);
        if (!user)
            return;
        const auto job = findJob(*user, qstr(req.get_param_value("md5_id")));
        if (!job || job->state != JobState::Completed || job->resultFile.isEmpty()) {
            reply(res, 404,
                  job ? QStringLiteral("the job has no result yet")
                      : QStringLiteral("no such job"));
            return;
        }
        const QString path = runner.resultsDir() + QLatin1Char('/') + job->resultFile;
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
};

HttpApi::HttpApi(const Database &db, Accounts &accounts, JobRunner &runner, Config config)
    : d(std::make_unique<Impl>(db, accounts, runner, std::move(config))) {
    if (!d->config.selfExecutable.isEmpty())
        setIsolatedPdfProbe(d->config.selfExecutable);
    auto &svr = d->svr;
    svr.set_keep_alive_max_count(100000);
    svr.set_keep_alive_timeout(5);
    svr.set_read_timeout(30);
    svr.set_write_timeout(60);
    svr.set_tcp_nodelay(true);
    // The library's default also sets SO_REUSEPORT, which lets a second service
    // bind the same port and silently share its connections; only reuse the address.
    svr.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    svr.set_payload_max_length(size_t(d->drainLimit()));
    svr.set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
        t_requestStart = std::chrono::steady_clock::now();
        t_requestUser.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    svr.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty() || res.content_length_ > 0)
            return;
        const QString msg = res.status == 404   ? QStringLiteral("no such endpoint")
                            : res.status == 413 ? QStringLiteral("the request body is too large")
                                                : QStringLiteral("the request cannot be served");
        reply(res, res.status, msg);
    });
    svr.set_exception_handler(
        [](const httplib::Request &, httplib::Response &res, std::exception_ptr ep) {
            QString what = QStringLiteral("internal error");
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception &e) {
                std::fprintf(stderr, "%s request failed: %s\n",
                             Database::nowText().toUtf8().constData(), e.what());
            } catch (...) {
            }
            reply(res, 500, what);
        });
    const auto answer = [](int status, const std::string &why) {
        return envelope(status, qstr(why), QJsonValue::Null).toStdString();
    };
    const auto refused = [](const std::string &remote, int status, const std::string &) {
        std::fprintf(stderr, "%s %s \"-\" %d 0 0.0ms -\n", logTime(), remote.c_str(), status);
    };
    svr.setHooks(answer, refused, [](const httplib::Request &req, const httplib::Response &res) {
        const double ms = std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now() - t_requestStart)
                              .count();
        const std::size_t bytes = res.body.empty() ? res.content_length_ : res.body.size();
        std::fprintf(stderr, "%s %s \"%s %s\" %d %zu %.1fms %s\n", logTime(),
                     req.remote_addr.c_str(), logSafe(req.method).c_str(),
                     logSafe(req.path).c_str(), res.status, bytes, ms,
                     t_requestUser.isEmpty() ? "-" : logSafe(t_requestUser.toStdString()).c_str());
    });
    d->routes();
}

HttpApi::~HttpApi() = default;

httplib::Server &HttpApi::server() {
    return d->svr;
}

int HttpApi::bind() {
    QDir(d->tmpDir()).removeRecursively(); // partial uploads of an earlier run
    QDir().mkpath(d->tmpDir());
    const std::string host = str(d->config.host);
    if (d->config.port == 0)
        d->port = d->svr.bind_to_any_port(host);
    else
        d->port = d->svr.bind_to_port(host, d->config.port) ? d->config.port : -1;
    if (d->port > 0)
        d->svr.widenBacklog();
    return d->port;
}

bool HttpApi::serve() {
    return d->svr.run();
}

void HttpApi::stop() {
    d->svr.stop();
}

} // namespace quorvel::server
