#pragma once

#include "Database.h"
#include "Store.h"

namespace quorvel::server {

// The state in one SQLite file beside the uploads: the store of a service
// alone on its machine. Reads end before anything is written: a connection
// holding a read snapshot cannot wait for the write lock and would fail at once.
class SqliteStore final : public Store {
public:
    explicit SqliteStore(const QString &path)
        : m_db(path) {}

    int migrate() override { return m_db.migrate(); }
    bool reachable() override;
    QString describe() const override { return m_db.path(); }
    bool shared() const override { return false; }

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
    // Written straight from SQLite's UTF-8 columns, so a 100 000-job account
    // is read in about a tenth of a second.
    void listJobsOf(qint64 userId,
                    const std::function<void(qint64 seq, const std::string &json)> &row) override;
    std::optional<ListedJob> listedJob(qint64 userId, const QString &id) override;
    Admission queueJob(const UserRecord &user, const JobRecord &job) override;

    std::optional<Claim> claimJob(const QString &holder, std::chrono::seconds lease) override;
    bool renewLease(const Claim &claim, std::chrono::seconds lease) override;
    Completion chargeAndComplete(const Claim &claim, const QString &resultFile, qint64 pages,
                                 const QString &note) override;
    bool failJob(const Claim &claim, const QString &failure, const QString &failReason) override;
    void releaseJob(const Claim &claim) override;
    std::vector<Recovered> recoverJobs(bool everyRunning, int maxAttempts) override;

    std::vector<Row> query(const QString &sql, const QVariantList &args) override;
    void queryBatch(const QString &sql, const std::vector<QVariantList> &rows) override;

private:
    Database m_db;
};

} // namespace quorvel::server
