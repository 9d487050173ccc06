#pragma once

#include "HistoryCache.h"
#include "HttpSupport.h"

#include <httplib.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

// The service's resources, each adding its routes. Handlers parse and check
// the request, ask Services, and answer; the SQL lives behind Store.
namespace quorvel::server {

// Sign-in, the account and its page balance.
class AuthRoutes {
public:
    explicit AuthRoutes(Services &s)
        : m_s(s) {}
    void add(httplib::Server &svr);

private:
    void login(const httplib::Request &req, httplib::Response &res);
    void me(const httplib::Request &req, httplib::Response &res);
    void pageBalance(const httplib::Request &req, httplib::Response &res);
    Services &m_s;
};

// Files streamed to disk, checked and recorded.
class UploadRoutes {
public:
    explicit UploadRoutes(Services &s)
        : m_s(s) {}
    void add(httplib::Server &svr);
    QString tmpDir() const;
    // How much of an oversized body is read and dropped so the client sees the 413.
    std::int64_t drainLimit() const;

private:
    void upload(const httplib::Request &req, httplib::Response &res,
                const httplib::ContentReader &reader);
    Services &m_s;
};

// Conversion jobs: creation, status and history.
class JobRoutes {
public:
    explicit JobRoutes(Services &s)
        : m_s(s)
        , m_history(s.store, s.config.historyCacheBytes) {}
    void add(httplib::Server &svr);
    const HistoryCache::Counters &historyCounters() const { return m_history.counters(); }

private:
    void convert(const httplib::Request &req, httplib::Response &res);
    void status(const httplib::Request &req, httplib::Response &res);
    void history(const httplib::Request &req, httplib::Response &res);
    Services &m_s;

    // Status checks arrive every few seconds per running job and change only
    // when a job does.
    struct Cached {
        quint64 generation = 0;
        qint64 userId = 0;
        std::string body;
    };
    std::mutex m_statusMutex;
    std::unordered_map<std::string, Cached> m_statusCache; // by job id
    // History answers are the most frequent and the largest.
    HistoryCache m_history;
};

// Results of completed jobs.
class DownloadRoutes {
public:
    explicit DownloadRoutes(Services &s)
        : m_s(s) {}
    void add(httplib::Server &svr);

private:
    void download(const httplib::Request &req, httplib::Response &res);
    Services &m_s;
};

} // namespace quorvel::server
