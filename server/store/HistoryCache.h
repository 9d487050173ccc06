#pragma once

#include "Compression.h"
#include "HttpSupport.h"
#include "Store.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorvel::server {

// Every account's history answer, kept between requests. A job's change
// updates that job's entry in its own account's answer and compresses again
// only the block of jobs it sits in; other accounts' answers stay as they are.
// The answers kept hold at most `maxBytes` together: past that the accounts
// asked for least recently are let go, and read again when next asked for.
// Safe to call from any number of threads.
class HistoryCache {
public:
    HistoryCache(Store &store, std::size_t maxBytes)
        : m_store(store)
        , m_maxBytes(maxBytes) {}

    // The answer in the form this client takes: gzip-compressed when `gzip`
    // and it is large enough, else as it is. A form made once is kept, and
    // kept up to date, beside the other.
    // With several services on one database, the answer holds every change
    // committed before the request reached this host: `receivedNs` (CLOCK_REALTIME
    // nanoseconds, as the kernel stamped its bytes), or, when 0, before this call.
    std::shared_ptr<const CachedAnswer> answer(qint64 userId, bool gzip,
                                               std::int64_t receivedNs = 0);

    // What the cache did, for tests and benchmarks.
    struct Counters {
        std::atomic<quint64> builds{0};       // answers read in full from the database
        std::atomic<quint64> jobsUpdated{0};  // single jobs taken into a cached answer
        std::atomic<quint64> deflated{0};     // blocks of jobs compressed
        std::atomic<quint64> evicted{0};      // accounts let go to stay within the bound
        std::atomic<std::size_t> bytes{0};    // held by the answers kept
        std::atomic<quint64> versionReads{0}; // the account's version read from the database
        std::atomic<quint64> versionWaits{0}; // requests that waited for such a read
    };
    const Counters &counters() const { return m_counters; }

    // Jobs per separately compressed block: a change recompresses this many.
    static constexpr std::size_t kBlockJobs = 1024;
    // Reads of one account's version under way at once.
    static constexpr int kVersionReadsAtOnce = 16;
    // A request taken up later than this after its bytes arrived is dated by when it was.
    static constexpr std::int64_t kStampedWithinNs = 10'000'000'000;

private:
    struct Account;
    void build(Account &a, qint64 userId, bool gzip);
    void update(Account &a, qint64 userId, const std::vector<QString> &jobIds);
    void updateSince(Account &a, qint64 userId, qint64 version);
    qint64 currentVersion(Account &a, qint64 userId, std::int64_t receivedNs);
    std::shared_ptr<const CachedAnswer> assemble(Account &a, bool body, bool gzip);
    std::shared_ptr<Account> account(qint64 userId);
    void resize(Account &a, std::size_t bytes);

    Store &m_store;
    const std::size_t m_maxBytes;
    Counters m_counters;
    std::mutex m_mutex; // guards what follows and every Account's `bytes` and `lru`
    std::unordered_map<qint64, std::shared_ptr<Account>> m_accounts;
    std::list<qint64> m_lru; // most recently asked for first
    std::size_t m_bytes = 0;
};

} // namespace quorvel::server
