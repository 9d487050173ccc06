#pragma once

#include "Accounts.h"
#include "Config.h"
#include "HistoryCache.h"
#include "JobRunner.h"

#include <memory>

namespace httplib {
class Server;
}

namespace quorvel::server {

// The HTTP face of the service: the server and its limits, the access log, and
// the routes of each resource (Routes.h).
class HttpApi {
public:
    HttpApi(Store &store, Accounts &accounts, JobRunner &runner, Config config);
    ~HttpApi();

    // Binds the listening socket; returns the port (useful with port 0) or -1.
    int bind();
    // Serves until stop() is called from another thread.
    bool serve();
    void stop();

    httplib::Server &server();
    // How the history answers were made: read in full, updated, compressed.
    const HistoryCache::Counters &historyCounters() const;
    // Why the access log's file could not be opened; empty when it was.
    QString accessLogError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace quorvel::server
