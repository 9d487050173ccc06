#include "SqliteStore.h"

#include "ListedJob.h"

#include <QDateTime>

#include <algorithm>
#include <string>
#include <string_view>

namespace quorvel::server {

namespace {

const QString kUserColumns =
    QStringLiteral("SELECT id, email, total_pages, lifetime_daily, created_at FROM users ");

UserRecord userFrom(const Rows &q) {
    return UserRecord{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toLongLong(),
                      q.value(3).toLongLong(), q.value(4).toString()};
}

const QString kUploadColumns = QStringLiteral(
    "SELECT id, user_id, file_name, typ, md5, size, page_number, encrypted FROM uploads ");

UploadRecord uploadFrom(const Rows &q) {
    UploadRecord u;
    u.id = q.value(0).toString();
    u.userId = q.value(1).toLongLong();
    u.fileName = q.value(2).toString();
    u.typ = q.value(3).toString();
    u.md5 = q.value(4).toString();
    u.size = q.value(5).toLongLong();
    u.pageNumber = q.value(6).toLongLong();
    u.encrypted = q.value(7).toBool();
    return u;
}

const QString kJobColumns = QStringLiteral(
    "SELECT id, user_id, upload_id, typ, file_name, page_number, source_file_typ, "
    "result_file_typ, source_file_md5, state, result_file, failure, created_at, seq, fail_reason, "
    "note FROM jobs ");

JobRecord jobFrom(const Rows &q) {
    JobRecord j;
    j.id = q.value(0).toString();
    j.userId = q.value(1).toLongLong();
    j.uploadId = q.value(2).toString();
    j.typ = q.value(3).toString();
    j.fileName = q.value(4).toString();
    j.pageNumber = q.value(5).toLongLong();
    j.sourceFileTyp = q.value(6).toString();
    j.resultFileTyp = q.value(7).toString();
    j.sourceFileMd5 = q.value(8).toString();
    j.state = q.value(9).toString();
    j.resultFile = q.value(10).toString();
    j.failure = q.value(11).toString();
    j.createdAt = q.value(12).toString();
    j.seq = q.value(13).toLongLong();
    j.failReason = q.value(14).toString();
    j.note = q.value(15).toString();
    return j;
}

template <typename T, typename Map> std::optional<T> first(Rows q, Map map) {
    if (!q.next())
        return std::nullopt;
    return map(q);
}

} // namespace

void SqliteStore::addUser(const QString &email, const QString &passwordHash, qint64 pages,
                          qint64 lifetimeDaily) {
    m_db.exec(
        QStringLiteral(
            "INSERT INTO users(email, password_hash, total_pages, lifetime_daily, created_at) "
            "VALUES(?,?,?,?,?)"),
        {email, passwordHash, pages, lifetimeDaily, nowText()});
}

void SqliteStore::setTotalPages(qint64 userId, qint64 pages) {
    m_db.exec(QStringLiteral("UPDATE users SET total_pages=? WHERE id=?"), {pages, userId});
}

void SqliteStore::setLifetimeDaily(qint64 userId, qint64 daily) {
    m_db.exec(QStringLiteral("UPDATE users SET lifetime_daily=? WHERE id=?"), {daily, userId});
}

void SqliteStore::replacePassword(qint64 userId, const QString &passwordHash) {
    Transaction tx(m_db);
    m_db.exec(QStringLiteral("UPDATE users SET password_hash=? WHERE id=?"),
              {passwordHash, userId});
    m_db.exec(QStringLiteral("DELETE FROM tokens WHERE user_id=?"), {userId});
    tx.commit();
}

std::vector<UserRecord> SqliteStore::users() {
    std::vector<UserRecord> out;
    Rows q = m_db.exec(kUserColumns + QStringLiteral("ORDER BY id"));
    while (q.next())
        out.push_back(userFrom(q));
    return out;
}

std::optional<UserRecord> SqliteStore::user(qint64 id) {
    return first<UserRecord>(m_db.exec(kUserColumns + QStringLiteral("WHERE id=?"), {id}),
                             userFrom);
}

std::optional<UserRecord> SqliteStore::userByEmail(const QString &email) {
    return first<UserRecord>(
        m_db.exec(kUserColumns + QStringLiteral("WHERE email=?"), {email.trimmed()}), userFrom);
}

std::optional<SqliteStore::Credentials> SqliteStore::credentials(const QString &email) {
    return first<Credentials>(
        m_db.exec(QStringLiteral("SELECT id, password_hash FROM users WHERE email=?"), {email}),
        [](const Rows &q) {
            return Credentials{q.value(0).toLongLong(), q.value(1).toString()};
        });
}

void SqliteStore::addToken(const QString &tokenHash, qint64 userId, qint64 expiresAt) {
    m_db.exec(
        QStringLiteral("INSERT INTO tokens(hash, user_id, created_at, expires_at) VALUES(?,?,?,?)"),
        {tokenHash, userId, nowText(), expiresAt});
}

std::optional<SqliteStore::TokenOwner> SqliteStore::tokenOwner(const QString &tokenHash,
                                                               qint64 now) {
    return first<TokenOwner>(
        m_db.exec(
            QStringLiteral("SELECT t.user_id, u.email, t.expires_at FROM tokens t "
                           "JOIN users u ON u.id=t.user_id WHERE t.hash=? AND t.expires_at>?"),
            {tokenHash, now}),
        [](const Rows &q) {
            return TokenOwner{q.value(0).toLongLong(), q.value(1).toString(),
                              q.value(2).toLongLong()};
        });
}

Balance SqliteStore::balance(const UserRecord &user) {
    Balance b;
    b.totalPages = user.totalPages;
    Rows q =
        m_db.exec(QStringLiteral("SELECT COALESCE(SUM(CASE WHEN lifetime=0 THEN pages END),0),"
                                 " COALESCE(SUM(CASE WHEN lifetime=1 AND day=? THEN pages END),0),"
                                 " (SELECT COALESCE(SUM(MAX(page_number,1)),0) FROM jobs"
                                 "  WHERE user_id=? AND state IN ('queued','running'))"
                                 " FROM page_ledger WHERE user_id=?"),
                  {todayText(), user.id, user.id});
    if (q.next()) {
        b.consumedPages = q.value(0).toLongLong();
        b.dailyUsage = q.value(1).toLongLong();
        b.reservedPages = q.value(2).toLongLong();
    }
    return b;
}

std::optional<UploadRecord> SqliteStore::upload(qint64 userId, const QString &id) {
    return first<UploadRecord>(
        m_db.exec(kUploadColumns + QStringLiteral("WHERE id=? AND user_id=?"), {id, userId}),
        uploadFrom);
}

std::optional<UploadRecord> SqliteStore::sameUpload(qint64 userId, const QString &md5,
                                                    const QString &fileName) {
    return first<UploadRecord>(
        m_db.exec(kUploadColumns +
                      QStringLiteral("WHERE user_id=? AND md5=? AND file_name=? LIMIT 1"),
                  {userId, md5, fileName}),
        uploadFrom);
}

std::optional<UploadRecord> SqliteStore::latestUploadWithMd5(qint64 userId, const QString &md5) {
    return first<UploadRecord>(
        m_db.exec(kUploadColumns + QStringLiteral("WHERE user_id=? AND md5=? "
                                                  "ORDER BY created_at DESC LIMIT 1"),
                  {userId, md5}),
        uploadFrom);
}

void SqliteStore::addUpload(const UploadRecord &up) {
    m_db.exec(QStringLiteral("INSERT INTO uploads(id, user_id, file_name, typ, md5, size, "
                             "page_number, encrypted, created_at) VALUES(?,?,?,?,?,?,?,?,?)"),
              {up.id, up.userId, up.fileName, up.typ, up.md5, up.size, up.pageNumber,
               up.encrypted ? 1 : 0, nowText()});
}

std::optional<JobRecord> SqliteStore::job(qint64 userId, const QString &id) {
    return first<JobRecord>(
        m_db.exec(kJobColumns + QStringLiteral("WHERE id=? AND user_id=?"), {id, userId}), jobFrom);
}

std::vector<JobRecord> SqliteStore::jobsOf(qint64 userId) {
    std::vector<JobRecord> out;
    Rows q = m_db.exec(kJobColumns + QStringLiteral("WHERE user_id=? ORDER BY seq"), {userId});
    while (q.next())
        out.push_back(jobFrom(q));
    return out;
}

void SqliteStore::listJobsOf(qint64 userId,
                             const std::function<void(qint64 seq, const std::string &json)> &row) {
    RawRows q(m_db, (std::string(kListedJobColumns) + "WHERE user_id=? ORDER BY seq").c_str());
    q.bind(1, userId);
    std::string json;
    while (q.next()) {
        writeListedJob(q, json);
        row(q.integer(0), json);
    }
}

std::optional<SqliteStore::ListedJob> SqliteStore::listedJob(qint64 userId, const QString &id) {
    RawRows q(m_db, (std::string(kListedJobColumns) + "WHERE id=? AND user_id=?").c_str());
    q.bind(1, id);
    q.bind(2, userId);
    if (!q.next())
        return std::nullopt;
    ListedJob j;
    j.seq = q.integer(0);
    writeListedJob(q, j.json);
    return j;
}

SqliteStore::Admission SqliteStore::queueJob(const UserRecord &user, const JobRecord &job) {
    Admission a;
    a.lifetime = user.lifetimeDaily > 0;
    a.need = std::max<qint64>(job.pageNumber, 1);
    Transaction tx(m_db);
    const Balance b = balance(user);
    a.left = a.lifetime ? user.lifetimeDaily - b.dailyUsage - b.reservedPages
                        : b.totalPages - b.consumedPages - b.reservedPages;
    if (a.need > a.left)
        return a;
    m_db.exec(QStringLiteral("INSERT INTO jobs(id, user_id, upload_id, typ, file_name, "
                             "page_number, source_file_typ, result_file_typ, source_file_md5, "
                             "state, created_at) VALUES(?,?,?,?,?,?,?,?,?,?,?)"),
              {job.id, job.userId, job.uploadId, job.typ, job.fileName, job.pageNumber,
               job.sourceFileTyp, job.resultFileTyp, job.sourceFileMd5, job.state, job.createdAt});
    tx.commit();
    a.queued = true;
    return a;
}

SqliteStore::Completion SqliteStore::chargeAndComplete(const Claim &claim,
                                                       const QString &resultFile, qint64 pages,
                                                       const QString &note) {
    const JobRecord &job = claim.job;
    Completion c;
    // One write transaction at a time: two jobs of one account finishing
    // together see each other's charge.
    Transaction tx(m_db);
    Rows held = m_db.exec(QStringLiteral("SELECT 1 FROM jobs WHERE id=? AND state='running' "
                                         "AND attempts=?"),
                          {job.id, claim.attempt});
    if (!held.next())
        return c; // taken back: this attempt's result is not the job's
    held.finish();
    const auto owner = user(job.userId);
    c.outcome = Completion::Outcome::Refused;
    if (!owner) {
        c.refusal = QStringLiteral("the account no longer exists");
        return c;
    }
    const bool lifetime = owner->lifetimeDaily > 0;
    const qint64 allowance = lifetime ? owner->lifetimeDaily : owner->totalPages;
    // What is used, and what the account's other accepted jobs hold until they finish.
    Rows used = m_db.exec(
        QStringLiteral("SELECT (SELECT COALESCE(SUM(pages),0) FROM page_ledger WHERE user_id=? "
                       "AND lifetime=? AND (lifetime=0 OR day=?)),"
                       " (SELECT COALESCE(SUM(MAX(page_number,1)),0) FROM jobs WHERE user_id=? "
                       "AND state IN ('queued','running') AND id<>?)"),
        {job.userId, lifetime ? 1 : 0, todayText(), job.userId, job.id});
    used.next();
    const qint64 left = allowance - used.value(0).toLongLong() - used.value(1).toLongLong();
    used.finish();
    if (pages > left) {
        c.refusal = (lifetime ? QStringLiteral("the converted document has %1 page(s) and %2 "
                                               "remain of today's allowance; nothing was charged")
                              : QStringLiteral("the converted document has %1 page(s) and %2 "
                                               "remain in the account; nothing was charged"))
                        .arg(pages)
                        .arg(std::max<qint64>(left, 0));
        return c;
    }
    m_db.exec(QStringLiteral("UPDATE jobs SET state='completed', result_file=?, page_number=?, "
                             "note=?, finished_at=? WHERE id=?"),
              {resultFile, pages, note.isNull() ? QStringLiteral("") : note, nowText(), job.id});
    m_db.exec(QStringLiteral("INSERT OR IGNORE INTO page_ledger(user_id, job_id, pages, lifetime, "
                             "day, created_at) VALUES(?,?,?,?,?,?)"),
              {job.userId, job.id, pages, lifetime ? 1 : 0, todayText(), nowText()});
    tx.commit();
    c.outcome = Completion::Outcome::Completed;
    return c;
}

std::optional<SqliteStore::Claim> SqliteStore::claimJob(const QString &, std::chrono::seconds) {
    // One service per file: the running state itself is the lease, and a
    // start takes back every running job (recoverJobs).
    Claim c;
    Transaction tx(m_db);
    Rows q = m_db.exec(QStringLiteral(
        "UPDATE jobs SET state='running', attempts=attempts+1 "
        "WHERE seq=(SELECT seq FROM jobs WHERE state='queued' ORDER BY seq LIMIT 1) "
        "RETURNING id, user_id, upload_id, typ, page_number, source_file_typ, attempts"));
    if (!q.next())
        return std::nullopt;
    c.job.id = q.value(0).toString();
    c.job.userId = q.value(1).toLongLong();
    c.job.uploadId = q.value(2).toString();
    c.job.typ = q.value(3).toString();
    c.job.pageNumber = q.value(4).toLongLong();
    c.job.sourceFileTyp = q.value(5).toString();
    c.attempt = q.value(6).toLongLong();
    c.job.state = JobState::Running;
    q.finish();
    Rows u =
        m_db.exec(QStringLiteral("SELECT encrypted FROM uploads WHERE id=?"), {c.job.uploadId});
    c.encrypted = u.next() && u.value(0).toBool();
    u.finish();
    tx.commit();
    return c;
}

bool SqliteStore::renewLease(const Claim &claim, std::chrono::seconds) {
    Rows q = m_db.exec(
        QStringLiteral("SELECT 1 FROM jobs WHERE id=? AND state='running' AND attempts=?"),
        {claim.job.id, claim.attempt});
    return q.next();
}

bool SqliteStore::failJob(const Claim &claim, const QString &failure, const QString &failReason) {
    Rows q =
        m_db.exec(QStringLiteral("UPDATE jobs SET state='failed', failure=?, fail_reason=?, "
                                 "finished_at=? WHERE id=? AND state='running' AND attempts=?"),
                  {failure, failReason.isNull() ? QStringLiteral("") : failReason, nowText(),
                   claim.job.id, claim.attempt});
    return q.numRowsAffected() > 0;
}

void SqliteStore::releaseJob(const Claim &claim) {
    m_db.exec(QStringLiteral("UPDATE jobs SET state='queued', attempts=attempts-1 WHERE id=? "
                             "AND state='running' AND attempts=?"),
              {claim.job.id, claim.attempt});
}

std::vector<SqliteStore::Recovered> SqliteStore::recoverJobs(bool everyRunning, int maxAttempts) {
    std::vector<Recovered> out;
    if (!everyRunning)
        return out; // no other service shares the file: nothing runs but our own jobs
    Transaction tx(m_db);
    Rows failed = m_db.exec(QStringLiteral("UPDATE jobs SET state='failed', finished_at=?, "
                                           "failure='the conversion was interrupted %1 times' "
                                           "WHERE state='running' AND attempts>=? "
                                           "RETURNING id, user_id")
                                .arg(maxAttempts),
                            {nowText(), maxAttempts});
    while (failed.next())
        out.push_back({failed.value(0).toString(), failed.value(1).toLongLong(), true});
    failed.finish();
    Rows requeued = m_db.exec(QStringLiteral(
        "UPDATE jobs SET state='queued' WHERE state='running' RETURNING id, user_id"));
    while (requeued.next())
        out.push_back({requeued.value(0).toString(), requeued.value(1).toLongLong(), false});
    requeued.finish();
    tx.commit();
    return out;
}

bool SqliteStore::reachable() {
    try {
        Rows q = m_db.exec(QStringLiteral("SELECT 1"));
        return q.next();
    } catch (const DatabaseError &) {
        return false;
    }
}

std::vector<Store::Row> SqliteStore::query(const QString &sql, const QVariantList &args) {
    std::vector<Row> out;
    Rows q = m_db.exec(sql, args);
    const int columns = q.columnCount();
    while (q.next()) {
        Row r;
        for (int i = 0; i < columns; ++i)
            r.push_back(q.value(i));
        out.push_back(std::move(r));
    }
    return out;
}

void SqliteStore::queryBatch(const QString &sql, const std::vector<QVariantList> &rows) {
    Transaction tx(m_db);
    for (const QVariantList &args : rows)
        m_db.exec(sql, args);
    tx.commit();
}

} // namespace quorvel::server
