#pragma once

#include "Config.h"
#include "Store.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quorvel::server {

class OfficeEngine;

// Takes queued jobs from the store and runs their engines on a pool of worker
// threads. The queue lives in the database, so a restart loses nothing; on a
// shared database each claim is a lease that this service renews while the
// engine runs, and any service takes back jobs whose lease ended.
class JobRunner {
public:
    JobRunner(Store &store, Config config);
    ~JobRunner();

    // Puts jobs left running by an earlier process back in the queue (or fails
    // them after repeated interruptions); returns how many were touched.
    int recover();
    void start();
    // Stops the workers; conversions still running are cancelled and queued again.
    void stop();
    // Wakes a worker after a job was queued.
    void notify();

    QString uploadsDir() const;
    QString resultsDir() const;

    static constexpr int kMaxAttempts = 3;

private:
    struct Worker {
        std::atomic<bool> cancel{false};
        std::atomic<bool> leaseLost{false};
        std::mutex mutex; // guards `claim`
        std::optional<Store::Claim> claim;
    };
    void work(int index);
    bool runOne(int index);
    void keepLeases();
    template <typename F> auto whileUnavailable(F f) -> decltype(f());
    void finish(Worker &w, const Store::Claim &claim, struct EngineOutcome &out, double seconds);

    Store &m_store;
    Config m_config;
    std::vector<std::thread> m_threads;
    std::thread m_keeper;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::vector<std::unique_ptr<OfficeEngine>> m_office; // one per worker, used by it alone
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::uint64_t m_wakeups = 0;
};

} // namespace quorvel::server
