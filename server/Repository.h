#pragma once

#include "Database.h"
#include "Records.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::server {

struct UserRecord {
    qint64 id = 0;
    QString email;
    qint64 totalPages = 0;
    qint64 lifetimeDaily = 0; // > 0: lifetime member with this daily allowance
    QString createdAt;
};

struct Balance {
    qint64 totalPages = 0;
    qint64 consumedPages = 0; // bought pages used
    qint64 dailyUsage = 0;    // today's pages under a lifetime membership
    qint64 reservedPages = 0; // pages of jobs still queued or running
};

// Every statement the HTTP side and the accounts run, and the mapping of rows
// to records. Reads end before anything is written: a connection holding a
// read snapshot cannot wait for the write lock and would fail at once.
class Repository {
public:
    explicit Repository(const Database &db)
        : m_db(db) {}

    // Users and sessions
    void addUser(const QString &email, const QString &passwordHash, qint64 pages,
                 qint64 lifetimeDaily);
    void setTotalPages(qint64 userId, qint64 pages);
    void setLifetimeDaily(qint64 userId, qint64 daily);
    // Also ends every session of the user.
    void replacePassword(qint64 userId, const QString &passwordHash);
    std::vector<UserRecord> users() const;
    std::optional<UserRecord> user(qint64 id) const;
    std::optional<UserRecord> userByEmail(const QString &email) const;
    struct Credentials {
        qint64 userId = 0;
        QString passwordHash;
    };
    std::optional<Credentials> credentials(const QString &email) const;
    void addToken(const QString &tokenHash, qint64 userId, qint64 expiresAt);
    struct TokenOwner {
        qint64 userId = 0;
        QString email;
        qint64 expiresAt = 0;
    };
    std::optional<TokenOwner> tokenOwner(const QString &tokenHash, qint64 now) const;

    // Pages
    Balance balance(const UserRecord &user) const;

    // Uploads
    std::optional<UploadRecord> upload(qint64 userId, const QString &id) const;
    std::optional<UploadRecord> sameUpload(qint64 userId, const QString &md5,
                                           const QString &fileName) const;
    std::optional<UploadRecord> latestUploadWithMd5(qint64 userId, const QString &md5) const;
    void addUpload(const UploadRecord &upload);

    // Jobs
    std::optional<JobRecord> job(qint64 userId, const QString &id) const;
    std::vector<JobRecord> jobsOf(qint64 userId) const; // oldest first
    // Jobs as the history lists them, each as the bytes of jobJson(): written
    // straight from SQLite's UTF-8 columns, so a 100 000-job account is read in
    // about a tenth of a second.
    struct ListedJob {
        qint64 seq = 0;
        std::string json;
    };
    // Oldest first; `json` is reused from row to row.
    void listJobsOf(qint64 userId,
                    const std::function<void(qint64 seq, const std::string &json)> &row) const;
    std::optional<ListedJob> listedJob(qint64 userId, const QString &id) const;
    struct Admission {
        bool queued = false;
        bool lifetime = false;
        qint64 need = 0; // pages the job reserves
        qint64 left = 0; // pages the account had left for it
    };
    // Queues the job if the account has the pages it reserves (its page count,
    // at least one), checked and written in one transaction.
    Admission queueJob(const UserRecord &user, const JobRecord &job);
    // Charges a finished job's pages and marks it completed, unless the account
    // cannot pay for them beside its other accepted jobs; then returns why and
    // changes nothing.
    QString chargeAndComplete(const JobRecord &job, const QString &resultFile, qint64 pages);

private:
    const Database &m_db;
};

} // namespace quorvel::server
