#pragma once

#include "Records.h"

#include <QString>
#include <QVariant>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel::server {

struct DatabaseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The database cannot be reached at the moment (restarting, network gone):
// the request may be repeated later and is answered with 503.
struct DatabaseUnavailable : DatabaseError {
    using DatabaseError::DatabaseError;
};

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

// The service's state: accounts, uploads, jobs, the queue and the page
// ledger. The HTTP side, the accounts and the job runner see only this; each
// database behind it keeps its own SQL, connections and schema. Safe to call
// from any number of threads.
class Store;

// The store a --database URL names: "postgresql://…" (or "postgres://…"), or
// the SQLite file in `dataDir` when the URL is empty. Throws DatabaseError for
// a URL it cannot use.
std::unique_ptr<Store> openStore(const QString &databaseUrl, const QString &dataDir);

class Store {
public:
    virtual ~Store() = default;

    // Brings the schema to the newest version; returns that version. Several
    // instances starting at once apply each step once.
    virtual int migrate() = 0;
    // Whether the database answers now (for health checks).
    virtual bool reachable() = 0;
    // Where the state lives, for the start-up line (no password).
    virtual QString describe() const = 0;
    // Whether several services may work on this state at once.
    virtual bool shared() const = 0;

    // Users and sessions
    virtual void addUser(const QString &email, const QString &passwordHash, qint64 pages,
                         qint64 lifetimeDaily) = 0;
    virtual void setTotalPages(qint64 userId, qint64 pages) = 0;
    virtual void setLifetimeDaily(qint64 userId, qint64 daily) = 0;
    // Also ends every session of the user.
    virtual void replacePassword(qint64 userId, const QString &passwordHash) = 0;
    virtual std::vector<UserRecord> users() = 0;
    virtual std::optional<UserRecord> user(qint64 id) = 0;
    virtual std::optional<UserRecord> userByEmail(const QString &email) = 0;
    struct Credentials {
        qint64 userId = 0;
        QString passwordHash;
    };
    virtual std::optional<Credentials> credentials(const QString &email) = 0;
    virtual void addToken(const QString &tokenHash, qint64 userId, qint64 expiresAt) = 0;
    struct TokenOwner {
        qint64 userId = 0;
        QString email;
        qint64 expiresAt = 0;
    };
    virtual std::optional<TokenOwner> tokenOwner(const QString &tokenHash, qint64 now) = 0;

    // Pages
    virtual Balance balance(const UserRecord &user) = 0;

    // Uploads
    virtual std::optional<UploadRecord> upload(qint64 userId, const QString &id) = 0;
    virtual std::optional<UploadRecord> sameUpload(qint64 userId, const QString &md5,
                                                   const QString &fileName) = 0;
    virtual std::optional<UploadRecord> latestUploadWithMd5(qint64 userId, const QString &md5) = 0;
    virtual void addUpload(const UploadRecord &upload) = 0;

    // Jobs
    virtual std::optional<JobRecord> job(qint64 userId, const QString &id) = 0;
    virtual std::vector<JobRecord> jobsOf(qint64 userId) = 0; // oldest first
    // Jobs as the history lists them, each as the bytes of jobJson(), oldest
    // first; `json` is reused from row to row.
    virtual void
    listJobsOf(qint64 userId,
               const std::function<void(qint64 seq, const std::string &json)> &row) = 0;
    struct ListedJob {
        qint64 seq = 0;
        std::string json;
    };
    virtual std::optional<ListedJob> listedJob(qint64 userId, const QString &id) = 0;
    struct Admission {
        bool queued = false;
        bool lifetime = false;
        qint64 need = 0; // pages the job reserves
        qint64 left = 0; // pages the account had left for it
    };
    // Queues the job if the account has the pages it reserves (its page count,
    // at least one), checked and written in one transaction.
    virtual Admission queueJob(const UserRecord &user, const JobRecord &job) = 0;

    // A number that grows with every change of the account's listed jobs, in
    // the transaction that makes it; -1 when every change is made by this
    // process (JobState's journal then knows them all).
    virtual qint64 historyVersion(qint64) { return -1; }
    // The account's jobs changed after `version`, as listJobsOf() writes them.
    virtual void listJobsChangedSince(qint64, qint64,
                                      const std::function<void(qint64, const std::string &)> &) {}

    // The queue. A claim holds a job for one attempt; every later write about
    // the job names the attempt, and is refused once the job was taken back.
    struct Claim {
        JobRecord job;
        bool encrypted = false; // the upload needs its password removed first
        qint64 attempt = 0;
    };
    // The oldest queued job, now running for `holder` until the lease ends.
    virtual std::optional<Claim> claimJob(const QString &holder, std::chrono::seconds lease) = 0;
    // Extends the lease; false when the job is no longer this attempt's.
    virtual bool renewLease(const Claim &claim, std::chrono::seconds lease) = 0;
    struct Completion {
        enum class Outcome { Completed, Refused, LeaseLost } outcome = Outcome::LeaseLost;
        QString refusal; // why a Refused job was not charged
    };
    // Charges a finished job's pages and marks it completed, unless the
    // account cannot pay for them beside its other accepted jobs; then returns
    // why and changes nothing. `note` (may be empty) is what the client shows beside it.
    virtual Completion chargeAndComplete(const Claim &claim, const QString &resultFile,
                                         qint64 pages, const QString &note = {}) = 0;
    // Marks the job failed: `failure` for the log and the operator, `failReason`
    // (may be empty) for the client. False when the lease was lost.
    virtual bool failJob(const Claim &claim, const QString &failure,
                         const QString &failReason = {}) = 0;
    // Puts a claimed job back in the queue unstarted (the service is stopping).
    virtual void releaseJob(const Claim &claim) = 0;
    struct Recovered {
        QString jobId;
        qint64 userId = 0;
        bool failed = false; // interrupted too often, now failed
    };
    // Takes back running jobs whose holder is gone: every running job
    // (`everyRunning`, one service alone on its database at start) or those
    // whose lease ended. Each is queued again, or failed after `maxAttempts`.
    virtual std::vector<Recovered> recoverJobs(bool everyRunning, int maxAttempts) = 0;
    // Calls `wake` (from another thread) soon after any service queued a job;
    // an empty function stops that. Only a hint: workers still poll.
    virtual void watchQueue(std::function<void()>) {}
    // Opens now the connections a service with `workers` workers uses at once.
    virtual void openConnections(int /*workers*/) {}

    // Statements for tools and tests, with `?` placeholders; rows of values.
    using Row = std::vector<QVariant>;
    virtual std::vector<Row> query(const QString &sql, const QVariantList &args = {}) = 0;
    // One statement for each row of arguments, in one transaction.
    virtual void queryBatch(const QString &sql, const std::vector<QVariantList> &rows) = 0;
};

} // namespace quorvel::server
