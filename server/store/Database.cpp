#include "Database.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QThread>

#include <sqlite3.h>

#include <atomic>
#include <map>
#include <memory>
#include <vector>

namespace quorvel::server {

namespace {

std::atomic<int> g_connectionSerial{0};

// Removes this thread's connections when the thread ends.
struct ThreadConnections {
    std::map<QString, QString> byPath;
    std::map<QString, std::map<QString, std::unique_ptr<Rows::Cached>>>
        statements; // by path, then SQL
    ~ThreadConnections() {
        statements.clear(); // statements go before their connections
        for (auto &[path, name] : byPath) {
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
    }
};
thread_local ThreadConnections t_connections;

// Each entry is one schema version; never edit a released entry, append a new one.
const std::vector<std::vector<const char *>> kMigrations = {
    {
        R"(CREATE TABLE users(
             id INTEGER PRIMARY KEY,
             email TEXT NOT NULL UNIQUE COLLATE NOCASE,
             password_hash TEXT NOT NULL,
             total_pages INTEGER NOT NULL DEFAULT 0,
             lifetime_daily INTEGER NOT NULL DEFAULT 0,
             created_at TEXT NOT NULL))",
        R"(CREATE TABLE tokens(
             hash TEXT PRIMARY KEY,
             user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
             created_at TEXT NOT NULL,
             expires_at INTEGER NOT NULL))",
        R"(CREATE TABLE uploads(
             id TEXT PRIMARY KEY,
             user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
             file_name TEXT NOT NULL,
             typ TEXT NOT NULL,
             md5 TEXT NOT NULL,
             size INTEGER NOT NULL,
             page_number INTEGER NOT NULL,
             encrypted INTEGER NOT NULL DEFAULT 0,
             created_at TEXT NOT NULL))",
        "CREATE INDEX uploads_by_user_md5 ON uploads(user_id, md5)",
        R"(CREATE TABLE jobs(
             seq INTEGER PRIMARY KEY AUTOINCREMENT,
             id TEXT NOT NULL UNIQUE,
             user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
             upload_id TEXT NOT NULL REFERENCES uploads(id),
             typ TEXT NOT NULL,
             file_name TEXT NOT NULL,
             page_number INTEGER NOT NULL,
             source_file_typ TEXT NOT NULL,
             result_file_typ TEXT NOT NULL,
             source_file_md5 TEXT NOT NULL,
             state TEXT NOT NULL,
             attempts INTEGER NOT NULL DEFAULT 0,
             result_file TEXT,
             failure TEXT,
             created_at TEXT NOT NULL,
             finished_at TEXT))",
        "CREATE INDEX jobs_by_user ON jobs(user_id, seq)",
        "CREATE INDEX jobs_by_state ON jobs(state, seq)",
        R"(CREATE TABLE page_ledger(
             id INTEGER PRIMARY KEY,
             user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
             job_id TEXT NOT NULL UNIQUE,
             pages INTEGER NOT NULL,
             lifetime INTEGER NOT NULL,
             day TEXT NOT NULL,
             created_at TEXT NOT NULL))",
        "CREATE INDEX ledger_by_user_day ON page_ledger(user_id, lifetime, day)",
    },
    {
        "ALTER TABLE jobs ADD COLUMN fail_reason TEXT NOT NULL DEFAULT ''",
    },
    {
        "ALTER TABLE jobs ADD COLUMN note TEXT NOT NULL DEFAULT ''",
    },
};

} // namespace

Database::Database(QString path)
    : m_path(std::move(path)) {}

QSqlDatabase Database::connection() const {
    auto it = t_connections.byPath.find(m_path);
    if (it != t_connections.byPath.end())
        return QSqlDatabase::database(it->second, false);

    const QString name = QStringLiteral("quorvel-%1").arg(g_connectionSerial.fetch_add(1));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open())
        throw DatabaseError("cannot open database " + m_path.toStdString() + ": " +
                            db.lastError().text().toStdString());
    t_connections.byPath.emplace(m_path, name);
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    q.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    return db;
}

Rows Database::exec(const QString &sql, const QVariantList &args) const {
    const QSqlDatabase db = connection();
    auto &slot = t_connections.statements[m_path][sql];
    std::unique_ptr<QSqlQuery> owned;
    QSqlQuery *q = nullptr;
    if (slot && !slot->inUse) {
        q = &slot->query;
    } else {
        // First use, or the same statement is still being read by a caller.
        owned = std::make_unique<QSqlQuery>(db);
        owned->setForwardOnly(true);
        if (!owned->prepare(sql))
            throw DatabaseError("prepare failed: " + owned->lastError().text().toStdString() +
                                " in " + sql.toStdString());
        if (!slot) {
            slot = std::make_unique<Rows::Cached>();
            slot->query = std::move(*owned);
            owned.reset();
            q = &slot->query;
        } else {
            q = owned.get();
        }
    }
    for (int i = 0; i < args.size(); ++i)
        q->bindValue(i, args[i]);
    if (!q->exec()) {
        const std::string why = q->lastError().text().toStdString();
        q->finish();
        throw DatabaseError("query failed: " + why + " in " + sql.toStdString());
    }
    return owned ? Rows(std::move(owned)) : Rows(slot.get());
}

sqlite3 *Database::handle() const {
    const QVariant h = connection().driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        throw DatabaseError("the SQL driver is not SQLite's");
    return *static_cast<sqlite3 *const *>(h.constData());
}

RawRows::RawRows(const Database &db, const char *sql) {
    sqlite3 *h = db.handle();
    if (sqlite3_prepare_v2(h, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        throw DatabaseError(std::string("prepare failed: ") + sqlite3_errmsg(h) + " in " + sql);
}

RawRows::~RawRows() {
    sqlite3_finalize(m_stmt);
}

void RawRows::bind(int index, qint64 value) {
    sqlite3_bind_int64(m_stmt, index, value);
}

void RawRows::bind(int index, const QString &value) {
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

bool RawRows::next() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throw DatabaseError(std::string("query failed: ") + sqlite3_errmsg(sqlite3_db_handle(m_stmt)));
}

qint64 RawRows::integer(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::string_view RawRows::text(int column) const {
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    return p ? std::string_view(p, std::size_t(sqlite3_column_bytes(m_stmt, column)))
             : std::string_view();
}

int Database::migrate() const {
    Rows v = exec(QStringLiteral("PRAGMA user_version"));
    int version = v.next() ? v.value(0).toInt() : 0;
    v.finish();
    if (version > int(kMigrations.size()))
        throw DatabaseError("database schema version " + std::to_string(version) +
                            " is newer than this program knows");
    for (int next = version; next < int(kMigrations.size()); ++next) {
        Transaction tx(*this);
        for (const char *stmt : kMigrations[next])
            exec(QString::fromUtf8(stmt));
        exec(QStringLiteral("PRAGMA user_version=%1").arg(next + 1));
        tx.commit();
    }
    return int(kMigrations.size());
}

Transaction::Transaction(const Database &db)
    : m_db(db.connection()) {
    // IMMEDIATE takes the write lock up front, so two writers never deadlock
    // upgrading from read to write.
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        throw DatabaseError("cannot begin transaction: " + q.lastError().text().toStdString());
}

Transaction::~Transaction() {
    if (!m_done) {
        QSqlQuery q(m_db);
        q.exec(QStringLiteral("ROLLBACK"));
    }
}

void Transaction::commit() {
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("COMMIT")))
        throw DatabaseError("commit failed: " + q.lastError().text().toStdString());
    m_done = true;
}

} // namespace quorvel::server
