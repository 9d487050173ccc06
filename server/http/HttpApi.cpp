#include "HttpApi.h"

#include "AccessLog.h"
#include "HttpConnections.h"
#include "PdfText.h"
#include "Records.h"
#include "Routes.h"

#include <QDir>
#include <QJsonObject>

#include <sys/socket.h>

#include <cstdio>
#include <ctime>

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

HttpConnections::Limits limitsOf(const Config &config) {
    HttpConnections::Limits l;
    l.workers = std::max(8, config.httpThreads);
    l.headerTimeout = config.headerTimeout;
    return l;
}

} // namespace

struct HttpApi::Impl {
    Config config;
    Services services;
    HttpConnections svr;
    AuthRoutes auth{services};
    UploadRoutes uploads{services};
    JobRoutes jobs{services};
    DownloadRoutes downloads{services};
    AccessLog accessLog;
    int port = -1;

    Impl(Store &store, Accounts &accounts, JobRunner &runner, Config c)
        : config(std::move(c))
        , services{store, accounts, runner, config}
        , svr(limitsOf(config))
        , accessLog(config.accessLog.isEmpty() ? config.dataDir + QStringLiteral("/access.log")
                                               : config.accessLog,
                    config.accessLogBytes) {}

    void routes() {
        svr.Get("/healthz", [this](const httplib::Request &, httplib::Response &res) {
            const bool db = services.store.reachable();
            reply(res, db ? 200 : 503,
                  db ? QStringLiteral("ok") : QStringLiteral("the database is unreachable"),
                  QJsonObject{{QStringLiteral("status"),
                               db ? QStringLiteral("ok") : QStringLiteral("down")},
                              {QStringLiteral("database"),
                               db ? QStringLiteral("reachable") : QStringLiteral("unreachable")}});
        });
        auth.add(svr);
        uploads.add(svr);
        jobs.add(svr);
        downloads.add(svr);
    }
};

HttpApi::HttpApi(Store &store, Accounts &accounts, JobRunner &runner, Config config)
    : d(std::make_unique<Impl>(store, accounts, runner, std::move(config))) {
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
    svr.set_payload_max_length(size_t(d->uploads.drainLimit()));
    svr.set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
        t_requestStart = std::chrono::steady_clock::now();
        requestUser().clear();
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
            } catch (const DatabaseUnavailable &e) {
                // Nothing was done that the client could not ask for again.
                std::fprintf(stderr, "%s request refused: %s\n", nowText().toUtf8().constData(),
                             e.what());
                res.set_header("Retry-After", "1");
                reply(res, 503, QStringLiteral("the database is unavailable; try again shortly"));
                return;
            } catch (const std::exception &e) {
                std::fprintf(stderr, "%s request failed: %s\n", nowText().toUtf8().constData(),
                             e.what());
            } catch (...) {
            }
            reply(res, 500, what);
        });
    const auto answer = [](int status, const std::string &why) {
        return envelope(status, qstr(why), QJsonValue::Null).toStdString();
    };
    AccessLog *log = &d->accessLog;
    const auto refused = [log](const std::string &remote, int status, const std::string &) {
        char line[256];
        const int n = std::snprintf(line, sizeof line, "%s %s \"-\" %d 0 0.0ms -\n", logTime(),
                                    remote.c_str(), status);
        log->write(line, std::min(std::size_t(std::max(n, 0)), sizeof line - 1));
    };
    httplib::Logger access;
    if (log->enabled())
        access = [log](const httplib::Request &req, const httplib::Response &res) {
            const double ms = std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - t_requestStart)
                                  .count();
            const std::size_t bytes = res.body.empty() ? res.content_length_ : res.body.size();
            char line[1024];
            const int n = std::snprintf(
                line, sizeof line, "%s %s \"%s %s\" %d %zu %.1fms %s\n", logTime(),
                req.remote_addr.c_str(), logSafe(req.method).c_str(), logSafe(req.path).c_str(),
                res.status, bytes, ms,
                requestUser().isEmpty() ? "-" : logSafe(requestUser().toStdString()).c_str());
            // A line cut at the buffer's end still ends the line.
            const std::size_t size = std::min(std::size_t(std::max(n, 1)), sizeof line - 1);
            line[size - 1] = '\n';
            log->write(line, size);
        };
    svr.setHooks(answer, refused, access);
    d->routes();
}

HttpApi::~HttpApi() = default;

httplib::Server &HttpApi::server() {
    return d->svr;
}

const HistoryCache::Counters &HttpApi::historyCounters() const {
    return d->jobs.historyCounters();
}

QString HttpApi::accessLogError() const {
    return d->accessLog.error();
}

int HttpApi::bind() {
    QDir(d->uploads.tmpDir()).removeRecursively(); // partial uploads of an earlier run
    QDir().mkpath(d->uploads.tmpDir());
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
