#include "PgStore.h"

#include "ListedJob.h"

#include <libpq-fe.h>

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quorvel::server {

namespace {

// A statement's failure with PostgreSQL's SQLSTATE code.
struct PgError : DatabaseError {
    PgError(const std::string &what, std::string state)
        : DatabaseError(what)
        , sqlState(std::move(state)) {}
    std::string sqlState;
};

// Codes that mean the server is gone, going or not yet back: connection exceptions, shutdown
// and start-up (57P0x), no room for a connection while it restarts (53xxx), and an error
// libpq raised itself without a server code (the socket failed under it).
bool connectionLost(PGconn *c, const std::string &state) {
    return PQstatus(c) != CONNECTION_OK || state.empty() || state.rfind("08", 0) == 0 ||
           state.rfind("57P", 0) == 0 || state.rfind("53", 0) == 0;
}

// `?` placeholders as PostgreSQL numbers them ($1, $2, …), outside quotes.
std::string numbered(const QString &sql) {
    const std::string in = sql.toStdString();
    std::string out;
    int n = 0;
    bool quoted = false;
    for (const char c : in) {
        if (c == '\'')
            quoted = !quoted;
        if (c == '?' && !quoted)
            out += '$' + std::to_string(++n);
        else
            out += c;
    }
    return out;
}

struct Params {
    explicit Params(const QVariantList &args) {
        for (const QVariant &v : args) {
            if (v.isNull()) {
                values.emplace_back();
                nulls.push_back(true);
                continue;
            }
            switch (v.typeId()) {
            case QMetaType::Bool:
                values.push_back(v.toBool() ? "1" : "0");
                break;
            case QMetaType::Int:
            case QMetaType::LongLong:
            case QMetaType::UInt:
            case QMetaType::ULongLong:
                values.push_back(QByteArray::number(v.toLongLong()));
                break;
            default:
                values.push_back(v.toString().toUtf8());
            }
            nulls.push_back(false);
        }
        for (std::size_t i = 0; i < values.size(); ++i)
            pointers.push_back(nulls[i] ? nullptr : values[i].constData());
    }
    std::vector<QByteArray> values;
    std::vector<bool> nulls;
    std::vector<const char *> pointers;
};

} // namespace

// The rows of one statement.
class PgResult {
public:
    explicit PgResult(PGresult *r)
        : m_r(r) {}
    PgResult(PgResult &&o) noexcept
        : m_r(std::exchange(o.m_r, nullptr)) {}
    PgResult &operator=(PgResult &&) = delete;
    ~PgResult() { PQclear(m_r); }
    int rows() const { return PQntuples(m_r); }
    int affected() const { return std::atoi(PQcmdTuples(m_r)); }
    std::string_view text(int row, int col) const {
        return {PQgetvalue(m_r, row, col), std::size_t(PQgetlength(m_r, row, col))};
    }
    QString str(int row, int col) const {
        const auto t = text(row, col);
        return QString::fromUtf8(t.data(), qsizetype(t.size()));
    }
    qint64 integer(int row, int col) const {
        return std::strtoll(PQgetvalue(m_r, row, col), nullptr, 10);
    }
    bool null(int row, int col) const { return PQgetisnull(m_r, row, col); }
    PGresult *get() const { return m_r; }

    // One row, as writeListedJob() reads it.
    struct RowView {
        const PgResult &r;
        int row;
        std::string_view text(int c) const { return r.text(row, c); }
        qint64 integer(int c) const { return r.integer(row, c); }
    };

private:
    PGresult *m_r;
};

class PgConnection {
public:
    PgConnection(const QString &url, std::uint64_t epoch)
        : epoch(epoch) {
        const QByteArray u = url.toUtf8();
        const char *keys[] = {"dbname", "connect_timeout", "application_name", nullptr};
        const char *values[] = {u.constData(), "3", "quorvel-server", nullptr};
        conn = PQconnectdbParams(keys, values, 1);
        if (PQstatus(conn) != CONNECTION_OK) {
            const std::string why = PQerrorMessage(conn);
            PQfinish(conn);
            conn = nullptr;
            throw DatabaseUnavailable("cannot connect to PostgreSQL: " + why);
        }
        // Notices ("already exists, skipping") are no news to an operator.
        PQsetNoticeProcessor(
            conn, [](void *, const char *) {}, nullptr);
    }
    ~PgConnection() {
        if (conn)
            PQfinish(conn);
    }
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Statements are prepared once per connection and reused. The first
    // statement of a caller on a connection that turns out to be dead (the
    // server restarted since it was last used) is repeated on a new one:
    // nothing was done yet.
    PgResult exec(const std::string &sql, const QVariantList &args = {}) {
        return retried([&] { return execOnce(sql, args); });
    }
    // Statements without parameters, several at once (schema, transactions).
    void run(const std::string &sql) {
        retried([&] { return check(PQexec(conn, sql.c_str()), sql); });
    }

    // On a connection whose commits do not wait for the log to reach the disk
    // (unflushed()): the statement in a transaction of its own, one round trip,
    // no flush. Only for writes that a crash of the server may undo at no cost
    // (a claim or a lease renewal: the job is queued again, or keeps its shorter
    // lease); any later durable commit carries them to the disk too.
    PgResult execUnflushed(const std::string &sql, const QVariantList &args) {
        return retried([&] {
            if (!m_unflushed)
                throw DatabaseError("a connection of the pool used for an unflushed write");
            return execOnce(sql, args);
        });
    }
    // Makes every commit of this connection one that does not wait for the
    // flush; such a connection goes back to a pool of its own.
    void makeUnflushed() {
        check(PQexec(conn, "SET synchronous_commit TO off"), "SET synchronous_commit TO off");
        m_unflushed = true;
    }
    bool unflushed() const { return m_unflushed; }

    PGconn *conn = nullptr;
    std::uint64_t epoch = 0;
    bool broken = false;
    bool fresh = true; // nothing run yet for the current caller

private:
    template <typename F> PgResult retried(F f) {
        try {
            PgResult r = f();
            fresh = false;
            return r;
        } catch (const DatabaseUnavailable &) {
            if (!fresh)
                throw;
            fresh = false;
            PQreset(conn);
            if (PQstatus(conn) != CONNECTION_OK)
                throw;
            broken = false;
            m_prepared.clear();
            if (m_unflushed)
                makeUnflushed();
            return f();
        }
    }
    const std::string &prepared(const std::string &sql) {
        auto it = m_prepared.find(sql);
        if (it == m_prepared.end()) {
            const std::string name = "q" + std::to_string(m_prepared.size());
            check(PQprepare(conn, name.c_str(), sql.c_str(), 0, nullptr), sql);
            it = m_prepared.emplace(sql, name).first;
        }
        return it->second;
    }
    PgResult execOnce(const std::string &sql, const QVariantList &args) {
        const std::string &name = prepared(sql);
        const Params p(args);
        return check(PQexecPrepared(conn, name.c_str(), int(p.pointers.size()), p.pointers.data(),
                                    nullptr, nullptr, 0),
                     sql);
    }
    PgResult check(PGresult *r, const std::string &sql) {
        PgResult res(r);
        const ExecStatusType st = PQresultStatus(r);
        if (r && (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK))
            return res;
        const char *code = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
        const std::string state = code ? code : "";
        const std::string why = PQerrorMessage(conn);
        if (connectionLost(conn, state)) {
            broken = true;
            throw DatabaseUnavailable("PostgreSQL is unreachable: " + why);
        }
        throw PgError("query failed: " + why + " in " + sql, state);
    }
    std::unordered_map<std::string, std::string> m_prepared;
    bool m_unflushed = false;
};

namespace {

// Rolls back unless committed.
class PgTx {
public:
    explicit PgTx(PgConnection &c)
        : m_c(c) {
        m_c.run("BEGIN");
    }
    ~PgTx() {
        if (m_done || m_c.broken)
            return;
        try {
            m_c.run("ROLLBACK");
        } catch (const DatabaseError &) {
        }
    }
    void commit() {
        m_c.run("COMMIT");
        m_done = true;
    }
    PgTx(const PgTx &) = delete;
    PgTx &operator=(const PgTx &) = delete;

private:
    PgConnection &m_c;
    bool m_done = false;
};

constexpr const char *kChannel = "quorvel_jobs";
constexpr long long kMigrationLock = 0x71756f7276656cLL; // "quorvel"

// Each entry is one schema version; never edit a released entry, append a new one.
const std::vector<const char *> kMigrations = {
    R"(CREATE TABLE users(
         id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
         email TEXT NOT NULL,
         password_hash TEXT NOT NULL,
         total_pages BIGINT NOT NULL DEFAULT 0,
         -- bought pages neither used nor held by accepted jobs
         remaining_pages BIGINT NOT NULL DEFAULT 0
           CONSTRAINT pages_never_overdrawn CHECK (remaining_pages >= 0),
         lifetime_daily BIGINT NOT NULL DEFAULT 0,
         history_version BIGINT NOT NULL DEFAULT 0,
         created_at TEXT NOT NULL);
       CREATE UNIQUE INDEX users_by_email ON users(lower(email));
       CREATE TABLE tokens(
         hash TEXT PRIMARY KEY,
         user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
         created_at TEXT NOT NULL,
         expires_at BIGINT NOT NULL);
       CREATE INDEX tokens_by_user ON tokens(user_id);
       CREATE TABLE uploads(
         id TEXT PRIMARY KEY,
         user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
         file_name TEXT NOT NULL,
         typ TEXT NOT NULL,
         md5 TEXT NOT NULL,
         size BIGINT NOT NULL,
         page_number BIGINT NOT NULL,
         encrypted SMALLINT NOT NULL DEFAULT 0,
         created_at TEXT NOT NULL);
       CREATE INDEX uploads_by_user_md5 ON uploads(user_id, md5);
       CREATE TABLE jobs(
         seq BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
         id TEXT NOT NULL UNIQUE,
         user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
         upload_id TEXT NOT NULL REFERENCES uploads(id),
         typ TEXT NOT NULL,
         file_name TEXT NOT NULL,
         page_number BIGINT NOT NULL,
         source_file_typ TEXT NOT NULL,
         result_file_typ TEXT NOT NULL,
         source_file_md5 TEXT NOT NULL,
         state TEXT NOT NULL,
         attempts INTEGER NOT NULL DEFAULT 0,
         lease_holder TEXT,
         lease_until TIMESTAMPTZ,
         reserved_pages BIGINT NOT NULL DEFAULT 0,
         version BIGINT NOT NULL DEFAULT 0,
         result_file TEXT,
         failure TEXT,
         fail_reason TEXT NOT NULL DEFAULT '',
         created_at TEXT NOT NULL,
         finished_at TEXT);
       CREATE INDEX jobs_by_user ON jobs(user_id, seq);
       CREATE INDEX jobs_by_user_version ON jobs(user_id, version);
       CREATE INDEX jobs_queued ON jobs(seq) WHERE state = 'queued';
       CREATE INDEX jobs_leased ON jobs(lease_until) WHERE state = 'running';
       CREATE TABLE page_ledger(
         id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
         user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
         job_id TEXT NOT NULL UNIQUE,
         pages BIGINT NOT NULL,
         lifetime SMALLINT NOT NULL,
         day TEXT NOT NULL,
         created_at TEXT NOT NULL);
       CREATE INDEX ledger_by_user_day ON page_ledger(user_id, lifetime, day);
       -- Every change of a listed job bumps its account's version in the same
       -- transaction and stamps the job with it, so any service can tell
       -- whether its copy of the history is current, and what changed since.
       -- Claims and leases change nothing a client sees (queued and running
       -- are both status 0): they leave the account's row alone.
       CREATE FUNCTION jobs_stamp_version() RETURNS trigger LANGUAGE plpgsql AS $$
       BEGIN
         UPDATE users SET history_version = history_version + 1 WHERE id = NEW.user_id
           RETURNING history_version INTO NEW.version;
         RETURN NEW;
       END $$;
       CREATE TRIGGER jobs_inserted BEFORE INSERT ON jobs
         FOR EACH ROW EXECUTE FUNCTION jobs_stamp_version();
       CREATE TRIGGER jobs_changed BEFORE UPDATE ON jobs FOR EACH ROW
         WHEN ((OLD.state IS DISTINCT FROM NEW.state
                AND NOT (OLD.state IN ('queued', 'running') AND NEW.state IN ('queued', 'running')))
               OR OLD.page_number IS DISTINCT FROM NEW.page_number
               OR OLD.fail_reason IS DISTINCT FROM NEW.fail_reason
               OR OLD.file_name IS DISTINCT FROM NEW.file_name)
         EXECUTE FUNCTION jobs_stamp_version();)",
    // What a completed job tells the person; a change of it is a change of the listed job.
    R"(ALTER TABLE jobs ADD COLUMN note TEXT NOT NULL DEFAULT '';
       DROP TRIGGER jobs_changed ON jobs;
       CREATE TRIGGER jobs_changed BEFORE UPDATE ON jobs FOR EACH ROW
         WHEN ((OLD.state IS DISTINCT FROM NEW.state
                AND NOT (OLD.state IN ('queued', 'running') AND NEW.state IN ('queued', 'running')))
               OR OLD.page_number IS DISTINCT FROM NEW.page_number
               OR OLD.fail_reason IS DISTINCT FROM NEW.fail_reason
               OR OLD.note IS DISTINCT FROM NEW.note
               OR OLD.file_name IS DISTINCT FROM NEW.file_name)
         EXECUTE FUNCTION jobs_stamp_version();)",
};

const std::string kUserColumns =
    "SELECT id, email, total_pages, lifetime_daily, created_at FROM users ";
UserRecord userFrom(const PgResult &r, int i) {
    return UserRecord{r.integer(i, 0), r.str(i, 1), r.integer(i, 2), r.integer(i, 3), r.str(i, 4)};
}

const std::string kUploadColumns =
    "SELECT id, user_id, file_name, typ, md5, size, page_number, encrypted FROM uploads ";
UploadRecord uploadFrom(const PgResult &r, int i) {
    UploadRecord u;
    u.id = r.str(i, 0);
    u.userId = r.integer(i, 1);
    u.fileName = r.str(i, 2);
    u.typ = r.str(i, 3);
    u.md5 = r.str(i, 4);
    u.size = r.integer(i, 5);
    u.pageNumber = r.integer(i, 6);
    u.encrypted = r.integer(i, 7) != 0;
    return u;
}

const std::string kJobColumns =
    "SELECT id, user_id, upload_id, typ, file_name, page_number, source_file_typ, "
    "result_file_typ, source_file_md5, state, result_file, failure, created_at, seq, fail_reason, "
    "note FROM jobs ";
JobRecord jobFrom(const PgResult &r, int i) {
    JobRecord j;
    j.id = r.str(i, 0);
    j.userId = r.integer(i, 1);
    j.uploadId = r.str(i, 2);
    j.typ = r.str(i, 3);
    j.fileName = r.str(i, 4);
    j.pageNumber = r.integer(i, 5);
    j.sourceFileTyp = r.str(i, 6);
    j.resultFileTyp = r.str(i, 7);
    j.sourceFileMd5 = r.str(i, 8);
    j.state = r.str(i, 9);
    j.resultFile = r.str(i, 10);
    j.failure = r.str(i, 11);
    j.createdAt = r.str(i, 12);
    j.seq = r.integer(i, 13);
    j.failReason = r.str(i, 14);
    j.note = r.str(i, 15);
    return j;
}

template <typename T, typename Map> std::optional<T> first(const PgResult &r, Map map) {
    if (r.rows() == 0)
        return std::nullopt;
    return map(r, 0);
}

QString refusalText(bool lifetime, qint64 pages, qint64 left) {
    return (lifetime ? QStringLiteral("the converted document has %1 page(s) and %2 remain of "
                                      "today's allowance; nothing was charged")
                     : QStringLiteral("the converted document has %1 page(s) and %2 remain in "
                                      "the account; nothing was charged"))
        .arg(pages)
        .arg(std::max<qint64>(left, 0));
}

} // namespace

PgStore::Lease::Lease(PgStore &store, std::unique_ptr<PgConnection> c)
    : m_store(&store)
    , m_c(std::move(c)) {}

PgStore::Lease::Lease(Lease &&o) noexcept
    : m_store(o.m_store)
    , m_c(std::move(o.m_c)) {}

PgStore::Lease::~Lease() {
    if (m_c)
        m_store->giveBack(std::move(m_c));
}

PgStore::PgStore(QString url, int maxConnections)
    : m_url(std::move(url))
    , m_max(std::max(2, maxConnections))
    , m_maxUnflushed(std::max(2, m_max / 2)) {}

PgStore::~PgStore() {
    watchQueue({});
}

QString PgStore::describe() const {
    // Without a password that the URL may carry.
    QString shown = m_url;
    const qsizetype scheme = shown.indexOf(QStringLiteral("://"));
    const qsizetype at = shown.indexOf(QLatin1Char('@'));
    if (scheme > 0 && at > scheme) {
        const qsizetype colon = shown.indexOf(QLatin1Char(':'), scheme + 3);
        if (colon > 0 && colon < at)
            shown.replace(colon + 1, at - colon - 1, QStringLiteral("********"));
    }
    return shown;
}

PgStore::Lease PgStore::connection(bool unflushed) {
    std::unique_lock lock(m_poolMutex);
    // Two pools, each with its bound: requests taking every connection of
    // theirs leave the workers' claims theirs, and neither closes the other's.
    auto &idle = unflushed ? m_idleUnflushed : m_idle;
    int &open = unflushed ? m_openUnflushed : m_open;
    const int max = unflushed ? m_maxUnflushed : m_max;
    for (;;) {
        while (!idle.empty()) {
            std::unique_ptr<PgConnection> c = std::move(idle.back());
            idle.pop_back();
            if (c->epoch == m_epoch && PQstatus(c->conn) == CONNECTION_OK) {
                c->fresh = true;
                return Lease(*this, std::move(c));
            }
            --open; // made before the server went away
        }
        if (open < max) {
            ++open;
            const std::uint64_t epoch = m_epoch;
            lock.unlock();
            try {
                auto c = std::make_unique<PgConnection>(m_url, epoch);
                if (unflushed)
                    c->makeUnflushed();
                return Lease(*this, std::move(c));
            } catch (...) {
                lock.lock();
                --open;
                m_poolFree.notify_all();
                throw;
            }
        }
        if (!m_poolFree.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return !idle.empty() || open < max; }))
            throw DatabaseUnavailable("no database connection became free");
    }
}

void PgStore::giveBack(std::unique_ptr<PgConnection> c) {
    const bool usable = !c->broken && PQstatus(c->conn) == CONNECTION_OK &&
                        PQtransactionStatus(c->conn) == PQTRANS_IDLE;
    {
        std::lock_guard lock(m_poolMutex);
        if (usable && c->epoch == m_epoch) {
            (c->unflushed() ? m_idleUnflushed : m_idle).push_back(std::move(c));
        } else {
            --(c->unflushed() ? m_openUnflushed : m_open);
            if (c->broken && c->epoch == m_epoch)
                ++m_epoch; // the others were opened to the same server: drop them too
        }
    }
    m_poolFree.notify_all();
}

void PgStore::openConnections(int workers) {
    // Opened together while nothing waits for them: a connection made under
    // load costs the first requests (or claims) that need it tens of
    // milliseconds, a whole new server process on the database's side.
    const int unflushed = std::clamp(workers + 1, 1, m_maxUnflushed);
    std::vector<Lease> held;
    try {
        for (int i = 0; i < unflushed + m_max; ++i)
            held.push_back(connection(i < unflushed));
    } catch (const DatabaseError &) {
        // Away at start: connections are opened when first needed.
    }
}

int PgStore::migrate() {
    Lease c = connection();
    PgTx tx(*c);
    // Services starting together take turns; each step is applied once.
    c->run("SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) + ")");
    c->run("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)");
    const PgResult v = c->exec("SELECT COALESCE(MAX(version), 0) FROM schema_version");
    const int version = int(v.integer(0, 0));
    if (version > int(kMigrations.size()))
        throw DatabaseError("database schema version " + std::to_string(version) +
                            " is newer than this program knows");
    for (int next = version; next < int(kMigrations.size()); ++next) {
        c->run(kMigrations[size_t(next)]);
        c->exec("INSERT INTO schema_version(version) VALUES($1)", {next + 1});
    }
    tx.commit();
    return int(kMigrations.size());
}

bool PgStore::reachable() {
    try {
        Lease c = connection();
        return c->exec("SELECT 1").rows() == 1;
    } catch (const DatabaseError &) {
        return false;
    }
}

void PgStore::addUser(const QString &email, const QString &passwordHash, qint64 pages,
                      qint64 lifetimeDaily) {
    Lease c = connection();
    c->exec("INSERT INTO users(email, password_hash, total_pages, remaining_pages, "
            "lifetime_daily, created_at) VALUES($1,$2,$3,$3,$4,$5)",
            {email, passwordHash, pages, lifetimeDaily, nowText()});
}

void PgStore::setTotalPages(qint64 userId, qint64 pages) {
    Lease c = connection();
    try {
        c->exec("UPDATE users SET remaining_pages = remaining_pages + ($1 - total_pages), "
                "total_pages = $1 WHERE id = $2",
                {pages, userId});
    } catch (const PgError &e) {
        if (e.sqlState != "23514")
            throw;
        throw DatabaseError("the account has used or holds for its jobs more than " +
                            std::to_string(pages) + " pages");
    }
}

void PgStore::setLifetimeDaily(qint64 userId, qint64 daily) {
    Lease c = connection();
    c->exec("UPDATE users SET lifetime_daily=$1 WHERE id=$2", {daily, userId});
}

void PgStore::replacePassword(qint64 userId, const QString &passwordHash) {
    Lease c = connection();
    PgTx tx(*c);
    c->exec("UPDATE users SET password_hash=$1 WHERE id=$2", {passwordHash, userId});
    c->exec("DELETE FROM tokens WHERE user_id=$1", {userId});
    tx.commit();
}

std::vector<UserRecord> PgStore::users() {
    Lease c = connection();
    const PgResult r = c->exec(kUserColumns + "ORDER BY id");
    std::vector<UserRecord> out;
    for (int i = 0; i < r.rows(); ++i)
        out.push_back(userFrom(r, i));
    return out;
}

std::optional<UserRecord> PgStore::user(qint64 id) {
    Lease c = connection();
    return first<UserRecord>(c->exec(kUserColumns + "WHERE id=$1", {id}), userFrom);
}

std::optional<UserRecord> PgStore::userByEmail(const QString &email) {
    Lease c = connection();
    return first<UserRecord>(
        c->exec(kUserColumns + "WHERE lower(email)=lower($1)", {email.trimmed()}), userFrom);
}

std::optional<Store::Credentials> PgStore::credentials(const QString &email) {
    Lease c = connection();
    return first<Credentials>(
        c->exec("SELECT id, password_hash FROM users WHERE lower(email)=lower($1)", {email}),
        [](const PgResult &r, int i) {
            return Credentials{r.integer(i, 0), r.str(i, 1)};
        });
}

void PgStore::addToken(const QString &tokenHash, qint64 userId, qint64 expiresAt) {
    Lease c = connection();
    c->exec("INSERT INTO tokens(hash, user_id, created_at, expires_at) VALUES($1,$2,$3,$4)",
            {tokenHash, userId, nowText(), expiresAt});
}

std::optional<Store::TokenOwner> PgStore::tokenOwner(const QString &tokenHash, qint64 now) {
    Lease c = connection();
    return first<TokenOwner>(
        c->exec("SELECT t.user_id, u.email, t.expires_at FROM tokens t "
                "JOIN users u ON u.id=t.user_id WHERE t.hash=$1 AND t.expires_at>$2",
                {tokenHash, now}),
        [](const PgResult &r, int i) {
            return TokenOwner{r.integer(i, 0), r.str(i, 1), r.integer(i, 2)};
        });
}

Balance PgStore::balance(const UserRecord &user) {
    Lease c = connection();
    const PgResult r = c->exec("SELECT COALESCE(SUM(CASE WHEN lifetime=0 THEN pages END),0),"
                               " COALESCE(SUM(CASE WHEN lifetime=1 AND day=$1 THEN pages END),0),"
                               " (SELECT COALESCE(SUM(GREATEST(page_number,1)),0) FROM jobs"
                               "  WHERE user_id=$2 AND state IN ('queued','running'))"
                               " FROM page_ledger WHERE user_id=$2",
                               {todayText(), user.id});
    Balance b;
    b.totalPages = user.totalPages;
    b.consumedPages = r.integer(0, 0);
    b.dailyUsage = r.integer(0, 1);
    b.reservedPages = r.integer(0, 2);
    return b;
}

std::optional<UploadRecord> PgStore::upload(qint64 userId, const QString &id) {
    Lease c = connection();
    return first<UploadRecord>(c->exec(kUploadColumns + "WHERE id=$1 AND user_id=$2", {id, userId}),
                               uploadFrom);
}

std::optional<UploadRecord> PgStore::sameUpload(qint64 userId, const QString &md5,
                                                const QString &fileName) {
    Lease c = connection();
    return first<UploadRecord>(
        c->exec(kUploadColumns + "WHERE user_id=$1 AND md5=$2 AND file_name=$3 LIMIT 1",
                {userId, md5, fileName}),
        uploadFrom);
}

std::optional<UploadRecord> PgStore::latestUploadWithMd5(qint64 userId, const QString &md5) {
    Lease c = connection();
    return first<UploadRecord>(
        c->exec(kUploadColumns + "WHERE user_id=$1 AND md5=$2 ORDER BY created_at DESC LIMIT 1",
                {userId, md5}),
        uploadFrom);
}

void PgStore::addUpload(const UploadRecord &up) {
    Lease c = connection();
    c->exec("INSERT INTO uploads(id, user_id, file_name, typ, md5, size, page_number, encrypted, "
            "created_at) VALUES($1,$2,$3,$4,$5,$6,$7,$8,$9)",
            {up.id, up.userId, up.fileName, up.typ, up.md5, up.size, up.pageNumber,
             up.encrypted ? 1 : 0, nowText()});
}

std::optional<JobRecord> PgStore::job(qint64 userId, const QString &id) {
    Lease c = connection();
    return first<JobRecord>(c->exec(kJobColumns + "WHERE id=$1 AND user_id=$2", {id, userId}),
                            jobFrom);
}

std::vector<JobRecord> PgStore::jobsOf(qint64 userId) {
    Lease c = connection();
    const PgResult r = c->exec(kJobColumns + "WHERE user_id=$1 ORDER BY seq", {userId});
    std::vector<JobRecord> out;
    for (int i = 0; i < r.rows(); ++i)
        out.push_back(jobFrom(r, i));
    return out;
}

void PgStore::listJobsOf(qint64 userId,
                         const std::function<void(qint64, const std::string &)> &row) {
    Lease c = connection();
    const PgResult r =
        c->exec(std::string(kListedJobColumns) + "WHERE user_id=$1 ORDER BY seq", {userId});
    std::string json;
    for (int i = 0; i < r.rows(); ++i) {
        writeListedJob(PgResult::RowView{r, i}, json);
        row(r.integer(i, 0), json);
    }
}

std::optional<Store::ListedJob> PgStore::listedJob(qint64 userId, const QString &id) {
    Lease c = connection();
    const PgResult r =
        c->exec(std::string(kListedJobColumns) + "WHERE id=$1 AND user_id=$2", {id, userId});
    if (r.rows() == 0)
        return std::nullopt;
    ListedJob j;
    j.seq = r.integer(0, 0);
    writeListedJob(PgResult::RowView{r, 0}, j.json);
    return j;
}

qint64 PgStore::historyVersion(qint64 userId) {
    Lease c = connection();
    const PgResult r = c->exec("SELECT history_version FROM users WHERE id=$1", {userId});
    return r.rows() ? r.integer(0, 0) : 0;
}

void PgStore::listJobsChangedSince(qint64 userId, qint64 version,
                                   const std::function<void(qint64, const std::string &)> &row) {
    Lease c = connection();
    const PgResult r =
        c->exec(std::string(kListedJobColumns) + "WHERE user_id=$1 AND version>$2 ORDER BY seq",
                {userId, version});
    std::string json;
    for (int i = 0; i < r.rows(); ++i) {
        writeListedJob(PgResult::RowView{r, i}, json);
        row(r.integer(i, 0), json);
    }
}

Store::Admission PgStore::queueJob(const UserRecord &user, const JobRecord &job) {
    Admission a;
    a.lifetime = user.lifetimeDaily > 0;
    a.need = std::max<qint64>(job.pageNumber, 1);
    Lease c = connection();
    PgTx tx(*c);
    if (a.lifetime) {
        // Today's allowance is counted from the ledger: the account's row lock
        // makes its admissions and charges take turns.
        const PgResult r = c->exec(
            "SELECT u.lifetime_daily"
            " - (SELECT COALESCE(SUM(pages),0) FROM page_ledger WHERE user_id=u.id AND lifetime=1"
            "    AND day=$2)"
            " - (SELECT COALESCE(SUM(GREATEST(page_number,1)),0) FROM jobs WHERE user_id=u.id"
            "    AND state IN ('queued','running'))"
            " FROM users u WHERE u.id=$1 FOR UPDATE",
            {user.id, todayText()});
        a.left = r.rows() ? r.integer(0, 0) : 0;
        if (a.need > a.left)
            return a;
    } else {
        // Bought pages: held by a conditional update, so no two services can
        // hand out the same page.
        const PgResult r =
            c->exec("UPDATE users SET remaining_pages = remaining_pages - $2 "
                    "WHERE id=$1 AND remaining_pages >= $2 RETURNING remaining_pages",
                    {user.id, a.need});
        if (r.rows() == 0) {
            const PgResult left =
                c->exec("SELECT remaining_pages FROM users WHERE id=$1", {user.id});
            a.left = left.rows() ? left.integer(0, 0) : 0;
            return a;
        }
        a.left = r.integer(0, 0) + a.need;
    }
    c->exec("INSERT INTO jobs(id, user_id, upload_id, typ, file_name, page_number, "
            "source_file_typ, result_file_typ, source_file_md5, state, created_at, reserved_pages) "
            "VALUES($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11,$12)",
            {job.id, job.userId, job.uploadId, job.typ, job.fileName, job.pageNumber,
             job.sourceFileTyp, job.resultFileTyp, job.sourceFileMd5, job.state, job.createdAt,
             a.lifetime ? 0 : a.need});
    c->exec(std::string("SELECT pg_notify('") + kChannel + "', '')");
    tx.commit();
    a.queued = true;
    return a;
}

std::optional<Store::Claim> PgStore::claimJob(const QString &holder, std::chrono::seconds lease) {
    Lease c = connection(true);
    // The oldest queued job no other service is taking at this moment. Not
    // flushed: a claim lost with a crash of the server leaves the job queued
    // under its former attempt number, so it may run twice, yet it completes
    // once and is charged once (the completion's fence, one ledger row a job).
    const PgResult r =
        c->execUnflushed("UPDATE jobs j SET state='running', attempts=attempts+1, lease_holder=$1,"
                         " lease_until=now() + make_interval(secs => $2) "
                         "WHERE seq = (SELECT seq FROM jobs WHERE state='queued' ORDER BY seq"
                         "             LIMIT 1 FOR UPDATE SKIP LOCKED) "
                         "RETURNING id, user_id, upload_id, typ, page_number, source_file_typ,"
                         " attempts, (SELECT encrypted FROM uploads u WHERE u.id=j.upload_id)",
                         {holder, qint64(lease.count())});
    if (r.rows() == 0)
        return std::nullopt;
    Claim cl;
    cl.job.id = r.str(0, 0);
    cl.job.userId = r.integer(0, 1);
    cl.job.uploadId = r.str(0, 2);
    cl.job.typ = r.str(0, 3);
    cl.job.pageNumber = r.integer(0, 4);
    cl.job.sourceFileTyp = r.str(0, 5);
    cl.attempt = r.integer(0, 6);
    cl.encrypted = r.integer(0, 7) != 0;
    cl.job.state = JobState::Running;
    return cl;
}

bool PgStore::renewLease(const Claim &claim, std::chrono::seconds lease) {
    Lease c = connection(true);
    return c->execUnflushed("UPDATE jobs SET lease_until = now() + make_interval(secs => $3) "
                            "WHERE id=$1 AND attempts=$2 AND state='running'",
                            {claim.job.id, claim.attempt, qint64(lease.count())})
               .affected() > 0;
}

Store::Completion PgStore::chargeAndComplete(const Claim &claim, const QString &resultFile,
                                             qint64 pages, const QString &note) {
    Completion out;
    Lease c = connection();
    PgTx tx(*c);
    // Fenced by the attempt: a job taken back from this service is not its to finish.
    const PgResult done =
        c->exec("UPDATE jobs SET state='completed', result_file=$3, page_number=$4, finished_at=$5,"
                " note=$6, lease_holder=NULL, lease_until=NULL "
                "WHERE id=$1 AND state='running' AND attempts=$2 RETURNING user_id, reserved_pages",
                {claim.job.id, claim.attempt, resultFile, pages, nowText(),
                 note.isNull() ? QStringLiteral("") : note});
    if (done.rows() == 0)
        return out;
    const qint64 userId = done.integer(0, 0);
    const qint64 reserved = done.integer(0, 1);
    const bool lifetime = reserved == 0;
    out.outcome = Completion::Outcome::Refused;
    if (lifetime) {
        // The job's update above holds the account's row: charges take turns.
        const PgResult r = c->exec(
            "SELECT u.lifetime_daily"
            " - (SELECT COALESCE(SUM(pages),0) FROM page_ledger WHERE user_id=u.id AND lifetime=1"
            "    AND day=$2)"
            " - (SELECT COALESCE(SUM(GREATEST(page_number,1)),0) FROM jobs WHERE user_id=u.id"
            "    AND state IN ('queued','running'))"
            " FROM users u WHERE u.id=$1",
            {userId, todayText()});
        const qint64 left = r.rows() ? r.integer(0, 0) : 0;
        if (pages > left) {
            out.refusal = r.rows() ? refusalText(true, pages, left)
                                   : QStringLiteral("the account no longer exists");
            return out;
        }
    } else {
        const PgResult r =
            c->exec("UPDATE users SET remaining_pages = remaining_pages + $2 - $3 "
                    "WHERE id=$1 AND remaining_pages + $2 - $3 >= 0 RETURNING remaining_pages",
                    {userId, reserved, pages});
        if (r.rows() == 0) {
            const PgResult left =
                c->exec("SELECT remaining_pages FROM users WHERE id=$1", {userId});
            out.refusal = left.rows() ? refusalText(false, pages, left.integer(0, 0) + reserved)
                                      : QStringLiteral("the account no longer exists");
            return out;
        }
    }
    // One ledger row per job: a second charge of the same job fails the transaction.
    c->exec("INSERT INTO page_ledger(user_id, job_id, pages, lifetime, day, created_at) "
            "VALUES($1,$2,$3,$4,$5,$6)",
            {userId, claim.job.id, pages, lifetime ? 1 : 0, todayText(), nowText()});
    tx.commit();
    out.outcome = Completion::Outcome::Completed;
    return out;
}

bool PgStore::failJob(const Claim &claim, const QString &failure, const QString &failReason) {
    Lease c = connection();
    PgTx tx(*c);
    const PgResult r =
        c->exec("UPDATE jobs SET state='failed', failure=$3, fail_reason=$4, finished_at=$5,"
                " lease_holder=NULL, lease_until=NULL "
                "WHERE id=$1 AND state='running' AND attempts=$2 RETURNING user_id, reserved_pages",
                {claim.job.id, claim.attempt, failure,
                 failReason.isNull() ? QStringLiteral("") : failReason, nowText()});
    if (r.rows() == 0)
        return false;
    c->exec("UPDATE users SET remaining_pages = remaining_pages + $2 WHERE id=$1",
            {r.integer(0, 0), r.integer(0, 1)});
    tx.commit();
    return true;
}

void PgStore::releaseJob(const Claim &claim) {
    Lease c = connection();
    PgTx tx(*c);
    c->exec("UPDATE jobs SET state='queued', attempts=attempts-1, lease_holder=NULL,"
            " lease_until=NULL WHERE id=$1 AND state='running' AND attempts=$2",
            {claim.job.id, claim.attempt});
    c->exec(std::string("SELECT pg_notify('") + kChannel + "', '')");
    tx.commit();
}

std::vector<Store::Recovered> PgStore::recoverJobs(bool everyRunning, int maxAttempts) {
    std::vector<Recovered> out;
    Lease c = connection();
    PgTx tx(*c);
    const PgResult r = c->exec("SELECT id, user_id, attempts, reserved_pages FROM jobs "
                               "WHERE state='running' AND ($1 OR lease_until IS NULL OR "
                               "lease_until < now()) ORDER BY seq FOR UPDATE SKIP LOCKED",
                               {everyRunning});
    bool requeued = false;
    for (int i = 0; i < r.rows(); ++i) {
        Recovered rec{r.str(i, 0), r.integer(i, 1), r.integer(i, 2) >= maxAttempts};
        if (rec.failed) {
            c->exec("UPDATE jobs SET state='failed', finished_at=$2, failure=$3,"
                    " lease_holder=NULL, lease_until=NULL WHERE id=$1",
                    {rec.jobId, nowText(),
                     QStringLiteral("the conversion was interrupted %1 times").arg(maxAttempts)});
            c->exec("UPDATE users SET remaining_pages = remaining_pages + $2 WHERE id=$1",
                    {rec.userId, r.integer(i, 3)});
        } else {
            c->exec("UPDATE jobs SET state='queued', lease_holder=NULL, lease_until=NULL "
                    "WHERE id=$1",
                    {rec.jobId});
            requeued = true;
        }
        out.push_back(std::move(rec));
    }
    if (requeued)
        c->exec(std::string("SELECT pg_notify('") + kChannel + "', '')");
    tx.commit();
    return out;
}

void PgStore::watchQueue(std::function<void()> wake) {
    if (m_listener.joinable()) {
        m_listening = false;
        m_listener.join();
    }
    {
        std::lock_guard lock(m_wakeMutex);
        m_wake = std::move(wake);
        if (!m_wake)
            return;
    }
    m_listening = true;
    m_listener = std::thread([this] { listen(); });
}

void PgStore::listen() {
    // A connection of its own that waits for the queue's notifications; lost,
    // it connects again. Workers poll anyway, so a missed one only delays.
    std::unique_ptr<PgConnection> c;
    while (m_listening) {
        if (!c) {
            try {
                c = std::make_unique<PgConnection>(m_url, 0);
                c->run(std::string("LISTEN ") + kChannel);
            } catch (const DatabaseError &) {
                c.reset();
                for (int i = 0; i < 10 && m_listening; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
        }
        pollfd p{PQsocket(c->conn), POLLIN, 0};
        if (::poll(&p, 1, 200) < 0 || (p.revents & (POLLERR | POLLHUP)) != 0 ||
            ((p.revents & POLLIN) && !PQconsumeInput(c->conn)) ||
            PQstatus(c->conn) != CONNECTION_OK) {
            c.reset();
            continue;
        }
        bool any = false;
        while (PGnotify *n = PQnotifies(c->conn)) {
            PQfreemem(n);
            any = true;
        }
        if (any) {
            std::lock_guard lock(m_wakeMutex);
            if (m_wake)
                m_wake();
        }
    }
}

std::vector<Store::Row> PgStore::query(const QString &sql, const QVariantList &args) {
    Lease c = connection();
    const PgResult r = c->exec(numbered(sql), args);
    std::vector<Row> out;
    const int columns = PQnfields(r.get());
    for (int i = 0; i < r.rows(); ++i) {
        Row row;
        for (int k = 0; k < columns; ++k) {
            if (r.null(i, k)) {
                row.emplace_back();
                continue;
            }
            switch (PQftype(r.get(), k)) {
            case 16: // bool
                row.emplace_back(r.text(i, k) == "t");
                break;
            case 20: // int8
            case 21: // int2
            case 23: // int4
                row.emplace_back(r.integer(i, k));
                break;
            default:
                row.emplace_back(r.str(i, k));
            }
        }
        out.push_back(std::move(row));
    }
    return out;
}

void PgStore::queryBatch(const QString &sql, const std::vector<QVariantList> &rows) {
    Lease c = connection();
    PgTx tx(*c);
    const std::string statement = numbered(sql);
    for (const QVariantList &args : rows)
        c->exec(statement, args);
    tx.commit();
}

} // namespace quorvel::server
