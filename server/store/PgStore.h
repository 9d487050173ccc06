#pragma once

#include "Store.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvel::server {

class PgConnection;

// The state in PostgreSQL, shared by every service started on the same
// database. Connections come from bounded pools (one for claims and lease
// renewals, one for everything else); a lost connection makes the
// call fail with DatabaseUnavailable (503) and the next call connects again.
// Bought pages are kept as a balance that a conditional update lowers, so no
// two services can spend the same page; the queue hands each job to one
// service at a time under a lease.
class PgStore : public Store {
public:
    // `url`: a libpq connection URI (postgresql://user@host:port/db?…).
    explicit PgStore(QString url, int maxConnections = 16);
    ~PgStore() override;

    int migrate() override;
    bool reachable() override;
    QString describe() const override;
    bool shared() const override { return true; }

    void addUser(const QString &email, const QString &passwordHash, qint64 pages,
                 qint64 lifetimeDaily) override;
    void setTotalPages(qint64 userId, qint64 pages) override;
    void setLifetimeDaily(qint64 userId, qint64 daily) override;
    void replacePassword(qint64 userId, const QString &passwordHash) override;
    std::vector<UserRecord> users() override;
    std::optional<UserRecord> user(qint64 id) override;
    std::optional<UserRecord> userByEmail(const QString &email) override;
    std::optional<Credentials> credentials(const QString &email) override;
    void addToken(const QString &tokenHash, qint64 userId, qint64 expiresAt) override;
    std::optional<TokenOwner> tokenOwner(const QString &tokenHash, qint64 now) override;

    Balance balance(const UserRecord &user) override;

    std::optional<UploadRecord> upload(qint64 userId, const QString &id) override;
    std::optional<UploadRecord> sameUpload(qint64 userId, const QString &md5,
                                           const QString &fileName) override;
    std::optional<UploadRecord> latestUploadWithMd5(qint64 userId, const QString &md5) override;
    void addUpload(const UploadRecord &upload) override;

    std::optional<JobRecord> job(qint64 userId, const QString &id) override;
    std::vector<JobRecord> jobsOf(qint64 userId) override;
    void listJobsOf(qint64 userId,
                    const std::function<void(qint64 seq, const std::string &json)> &row) override;
    std::optional<ListedJob> listedJob(qint64 userId, const QString &id) override;
    Admission queueJob(const UserRecord &user, const JobRecord &job) override;
    qint64 historyVersion(qint64 userId) override;
    void listJobsChangedSince(
        qint64 userId, qint64 version,
        const std::function<void(qint64 seq, const std::string &json)> &row) override;

    std::optional<Claim> claimJob(const QString &holder, std::chrono::seconds lease) override;
    bool renewLease(const Claim &claim, std::chrono::seconds lease) override;
    Completion chargeAndComplete(const Claim &claim, const QString &resultFile, qint64 pages,
                                 const QString &note) override;
    bool failJob(const Claim &claim, const QString &failure, const QString &failReason) override;
    void releaseJob(const Claim &claim) override;
    std::vector<Recovered> recoverJobs(bool everyRunning, int maxAttempts) override;
    void watchQueue(std::function<void()> wake) override;
    void openConnections(int workers) override;

    std::vector<Row> query(const QString &sql, const QVariantList &args) override;
    void queryBatch(const QString &sql, const std::vector<QVariantList> &rows) override;

    // A connection from the pool, back in it when this goes away.
    class Lease {
    public:
        Lease(PgStore &store, std::unique_ptr<PgConnection> c);
        Lease(Lease &&) noexcept;
        ~Lease();
        PgConnection &operator*() const { return *m_c; }
        PgConnection *operator->() const { return m_c.get(); }

    private:
        PgStore *m_store;
        std::unique_ptr<PgConnection> m_c;
    };
    // `unflushed`: one whose commits do not wait for the log's flush (claims, renewals).
    Lease connection(bool unflushed = false);

private:
    void giveBack(std::unique_ptr<PgConnection> c);
    void listen();

    const QString m_url;
    const int m_max;
    const int m_maxUnflushed; // claims and renewals at once: workers and their renewer
    std::mutex m_poolMutex;
    std::condition_variable m_poolFree;
    std::vector<std::unique_ptr<PgConnection>> m_idle;
    std::vector<std::unique_ptr<PgConnection>> m_idleUnflushed;
    int m_open = 0;
    int m_openUnflushed = 0;
    std::uint64_t m_epoch = 0; // bumped when the server went away: older connections are dropped

    std::mutex m_wakeMutex;
    std::function<void()> m_wake;
    std::atomic<bool> m_listening{false};
    std::thread m_listener;
};

} // namespace quorvel::server
