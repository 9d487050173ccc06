#include "Repository.h"

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
    "result_file_typ, source_file_md5, state, result_file, failure, created_at, seq FROM jobs ");

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
    return j;
}

// The columns jobJson() reads, for listedJobFrom().
constexpr const char *kListedJobColumns =
    "SELECT seq, created_at, file_name, id, page_number, result_file_typ, source_file_md5, "
    "upload_id, source_file_typ, state, typ, user_id FROM jobs ";

// A JSON string as QJsonDocument writes it: quote, backslash and control
// characters escaped, everything else as UTF-8.
void appendJsonString(std::string &out, std::string_view s) {
    // Text in the database is UTF-8 unless another program wrote it; it reads
    // as Qt reads it, bad sequences replaced.
    QByteArray checked;
    if (std::any_of(s.begin(), s.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        checked = QString::fromUtf8(s.data(), qsizetype(s.size())).toUtf8();
        s = std::string_view(checked.constData(), std::size_t(checked.size()));
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(s.data() + run, i - run);
        run = i + 1;
        out += '\\';
        switch (c) {
        case '"':
            out += '"';
            break;
        case '\\':
            out += '\\';
            break;
        case '\b':
            out += 'b';
            break;
        case '\f':
            out += 'f';
            break;
        case '\n':
            out += 'n';
            break;
        case '\r':
            out += 'r';
            break;
        case '\t':
            out += 't';
            break;
        default:
            out += "u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        }
    }
    out.append(s.data() + run, s.size() - run);
    out += '"';
}

// jobJson() as compact JSON, keys in the order QJsonDocument writes them.
void writeListedJob(const RawRows &q, std::string &o) {
    o.clear();
    o += "{\"create_at\":";
    appendJsonString(o, q.text(1));
    o += ",\"file_name\":";
    appendJsonString(o, q.text(2));
    o += ",\"id\":";
    appendJsonString(o, q.text(3));
    o += ",\"page_number\":";
    o += std::to_string(q.integer(4));
    o += ",\"result_file_typ\":";
    appendJsonString(o, q.text(5));
    o += ",\"source_file_md5\":";
    appendJsonString(o, q.text(6));
    o += ",\"source_file_path\":";
    thread_local std::string path;
    path = "uploads/";
    path += q.text(7);
    path += '/';
    path += q.text(2);
    appendJsonString(o, path);
    o += ",\"source_file_typ\":";
    appendJsonString(o, q.text(8));
    o += ",\"status\":";
    const std::string_view state = q.text(9);
    o += state == "completed" ? '1' : state == "failed" ? '2' : '0';
    o += ",\"typ\":";
    appendJsonString(o, q.text(10));
    o += ",\"user_id\":\"";
    o += std::to_string(q.integer(11));
    o += "\"}";
}

template <typename T, typename Map> std::optional<T> first(Rows q, Map map) {
    if (!q.next())
        return std::nullopt;
    return map(q);
}

} // namespace

void Repository::addUser(const QString &email, const QString &passwordHash, qint64 pages,
                         qint64 lifetimeDaily) {
    m_db.exec(
        QStringLiteral(
            "INSERT INTO users(email, password_hash, total_pages, lifetime_daily, created_at) "
            "VALUES(?,?,?,?,?)"),
        {email, passwordHash, pages, lifetimeDaily, Database::nowText()});
}

void Repository::setTotalPages(qint64 userId, qint64 pages) {
    m_db.exec(QStringLiteral("UPDATE users SET total_pages=? WHERE id=?"), {pages, userId});
}

void Repository::setLifetimeDaily(qint64 userId, qint64 daily) {
    m_db.exec(QStringLiteral("UPDATE users SET lifetime_daily=? WHERE id=?"), {daily, userId});
}

void Repository::replacePassword(qint64 userId, const QString &passwordHash) {
    Transaction tx(m_db);
    m_db.exec(QStringLiteral("UPDATE users SET password_hash=? WHERE id=?"),
              {passwordHash, userId});
    m_db.exec(QStringLiteral("DELETE FROM tokens WHERE user_id=?"), {userId});
    tx.commit();
}

std::vector<UserRecord> Repository::users() const {
    std::vector<UserRecord> out;
    Rows q = m_db.exec(kUserColumns + QStringLiteral("ORDER BY id"));
    while (q.next())
        out.push_back(userFrom(q));
    return out;
}

std::optional<UserRecord> Repository::user(qint64 id) const {
    return first<UserRecord>(m_db.exec(kUserColumns + QStringLiteral("WHERE id=?"), {id}),
                             userFrom);
}

std::optional<UserRecord> Repository::userByEmail(const QString &email) const {
    return first<UserRecord>(
        m_db.exec(kUserColumns + QStringLiteral("WHERE email=?"), {email.trimmed()}), userFrom);
}

std::optional<Repository::Credentials> Repository::credentials(const QString &email) const {
    return first<Credentials>(
        m_db.exec(QStringLiteral("SELECT id, password_hash FROM users WHERE email=?"), {email}),
        [](const Rows &q) {
            return Credentials{q.value(0).toLongLong(), q.value(1).toString()};
        });
}

void Repository::addToken(const QString &tokenHash, qint64 userId, qint64 expiresAt) {
    m_db.exec(
        QStringLiteral("INSERT INTO tokens(hash, user_id, created_at, expires_at) VALUES(?,?,?,?)"),
        {tokenHash, userId, Database::nowText(), expiresAt});
}

std::optional<Repository::TokenOwner> Repository::tokenOwner(const QString &tokenHash,
                                                             qint64 now) const {
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

Balance Repository::balance(const UserRecord &user) const {
    Balance b;
    b.totalPages = user.totalPages;
    Rows q =
        m_db.exec(QStringLiteral("SELECT COALESCE(SUM(CASE WHEN lifetime=0 THEN pages END),0),"
                                 " COALESCE(SUM(CASE WHEN lifetime=1 AND day=? THEN pages END),0),"
                                 " (SELECT COALESCE(SUM(MAX(page_number,1)),0) FROM jobs"
                                 "  WHERE user_id=? AND state IN ('queued','running'))"
                                 " FROM page_ledger WHERE user_id=?"),
                  {Database::todayText(), user.id, user.id});
    if (q.next()) {
        b.consumedPages = q.value(0).toLongLong();
        b.dailyUsage = q.value(1).toLongLong();
        b.reservedPages = q.value(2).toLongLong();
    }
    return b;
}

std::optional<UploadRecord> Repository::upload(qint64 userId, const QString &id) const {
    return first<UploadRecord>(
        m_db.exec(kUploadColumns + QStringLiteral("WHERE id=? AND user_id=?"), {id, userId}),
        uploadFrom);
}

std::optional<UploadRecord> Repository::sameUpload(qint64 userId, const QString &md5,
                                                   const QString &fileName) const {
    return first<UploadRecord>(
        m_db.exec(kUploadColumns +
                      QStringLiteral("WHERE user_id=? AND md5=? AND file_name=? LIMIT 1"),
                  {userId, md5, fileName}),
        uploadFrom);
}

std::optional<UploadRecord> Repository::latestUploadWithMd5(qint64 userId,
                                                            const QString &md5) const {
    return first<UploadRecord>(
        m_db.exec(kUploadColumns + QStringLiteral("WHERE user_id=? AND md5=? "
                                                  "ORDER BY created_at DESC LIMIT 1"),
                  {userId, md5}),
        uploadFrom);
}

void Repository::addUpload(const UploadRecord &up) {
    m_db.exec(QStringLiteral("INSERT INTO uploads(id, user_id, file_name, typ, md5, size, "
                             "page_number, encrypted, created_at) VALUES(?,?,?,?,?,?,?,?,?)"),
              {up.id, up.userId, up.fileName, up.typ, up.md5, up.size, up.pageNumber,
               up.encrypted ? 1 : 0, Database::nowText()});
}

std::optional<JobRecord> Repository::job(qint64 userId, const QString &id) const {
    return first<JobRecord>(
        m_db.exec(kJobColumns + QStringLiteral("WHERE id=? AND user_id=?"), {id, userId}), jobFrom);
}

std::vector<JobRecord> Repository::jobsOf(qint64 userId) const {
    std::vector<JobRecord> out;
    Rows q = m_db.exec(kJobColumns + QStringLiteral("WHERE user_id=? ORDER BY seq"), {userId});
    while (q.next())
        out.push_back(jobFrom(q));
    return out;
}

void Repository::listJobsOf(
    qint64 userId, const std::function<void(qint64 seq, const std::string &json)> &row) const {
    RawRows q(m_db, (std::string(kListedJobColumns) + "WHERE user_id=? ORDER BY seq").c_str());
    q.bind(1, userId);
    std::string json;
    while (q.next()) {
        writeListedJob(q, json);
        row(q.integer(0), json);
    }
}

std::optional<Repository::ListedJob> Repository::listedJob(qint64 userId, const QString &id) const {
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

Repository::Admission Repository::queueJob(const UserRecord &user, const JobRecord &job) {
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

QString Repository::chargeAndComplete(const JobRecord &job, const QString &resultFile,
                                      qint64 pages) {
    // One write transaction at a time: two jobs of one account finishing
    // together see each other's charge.
    Transaction tx(m_db);
    const auto owner = user(job.userId);
    if (!owner)
        return QStringLiteral("the account no longer exists");
    const bool lifetime = owner->lifetimeDaily > 0;
    const qint64 allowance = lifetime ? owner->lifetimeDaily : owner->totalPages;
    // What is used, and what the account's other accepted jobs hold until they finish.
    Rows used = m_db.exec(
        QStringLiteral("SELECT (SELECT COALESCE(SUM(pages),0) FROM page_ledger WHERE user_id=? "
                       "AND lifetime=? AND (lifetime=0 OR day=?)),"
                       " (SELECT COALESCE(SUM(MAX(page_number,1)),0) FROM jobs WHERE user_id=? "
                       "AND state IN ('queued','running') AND id<>?)"),
        {job.userId, lifetime ? 1 : 0, Database::todayText(), job.userId, job.id});
    used.next();
    const qint64 left = allowance - used.value(0).toLongLong() - used.value(1).toLongLong();
    used.finish();
    if (pages > left)
        return (lifetime ? QStringLiteral("the converted document has %1 page(s) and %2 remain "
                                          "of today's allowance; nothing was charged")
                         : QStringLiteral("the converted document has %1 page(s) and %2 remain "
                                          "in the account; nothing was charged"))
            .arg(pages)
            .arg(std::max<qint64>(left, 0));
    m_db.exec(QStringLiteral("UPDATE jobs SET state='completed', result_file=?, page_number=?, "
                             "finished_at=? WHERE id=?"),
              {resultFile, pages, Database::nowText(), job.id});
    m_db.exec(
        QStringLiteral("INSERT OR IGNORE INTO page_ledger(user_id, job_id, pages, lifetime, "
                       "day, created_at) VALUES(?,?,?,?,?,?)"),
        {job.userId, job.id, pages, lifetime ? 1 : 0, Database::todayText(), Database::nowText()});
    tx.commit();
    return {};
}

} // namespace quorvel::server
