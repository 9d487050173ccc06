#pragma once

#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quorvel::server {

// Settings of one running service; `serve` fills it from the command line.
struct Config {
    QString dataDir;
    // Uploads and results; several services on one database share it. Empty: dataDir.
    QString storageDir;
    // This service among those sharing a database: names its claims on jobs.
    QString instance;
    // How long a claimed job stays this service's without a renewal.
    std::chrono::seconds jobLease{60};
    QString host = QStringLiteral("127.0.0.1");
    int port = 8740;
    int workers = 0; // 0: one per core
    std::int64_t maxUploadBytes = std::int64_t(100) * 1024 * 1024;
    int httpThreads = 96; // requests served at once; waiting connections hold none
    // A request whose header is not complete this long after it began is dropped.
    std::chrono::milliseconds headerTimeout{10000};
    // History answers kept between requests, all accounts together; a
    // 100 000-job account holds about 75 MiB.
    std::size_t historyCacheBytes = std::size_t(256) * 1024 * 1024;
    // Engine time limit: base plus a share per page, capped.
    std::chrono::seconds jobTimeBase{120};
    std::chrono::seconds jobTimePerPage{10};
    std::chrono::seconds jobTimeMax{900};
    // Path of this executable, used to run the built-in engines in a child process.
    QString selfExecutable;
    // Each worker keeps LibreOffice loaded in an engine process of its own, started
    // with the worker (false: at the worker's first office job) and replaced after
    // this many documents.
    bool warmOfficeEngines = true;
    int officeRecycleAfter = 200;
    // The access log: "-" standard error (the journal bounds it), "off", or a file rotated
    // at accessLogBytes with one older file kept; empty: access.log in the data directory.
    QString accessLog;
    std::int64_t accessLogBytes = std::int64_t(32) * 1024 * 1024;
};

} // namespace quorvel::server
