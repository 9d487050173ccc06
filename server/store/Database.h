#pragma once

#include "Store.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

#include <memory>
#include <stdexcept>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace quorvel::server {

// The rows of one statement. Its statement is reset when this goes away, so no
// read transaction outlives the caller's use (in WAL mode an open read would
// pin the connection to an old snapshot).
class Rows {
public:
    struct Cached {
        QSqlQuery query;
        bool inUse = false;
    };
    explicit Rows(Cached *cached)
        : m_cached(cached)
        , m_q(&cached->query) {
        cached->inUse = true;
    }
    explicit Rows(std::unique_ptr<QSqlQuery> owned)
        : m_owned(std::move(owned))
        , m_q(m_owned.get()) {}
    Rows(Rows &&other) noexcept
        : m_cached(std::exchange(other.m_cached, nullptr))
        , m_owned(std::move(other.m_owned))
        , m_q(std::exchange(other.m_q, nullptr)) {}
    Rows &operator=(Rows &&) = delete;
    ~Rows() { finish(); }

    bool next() { return m_q && m_q->next(); }
    QVariant value(int i) const { return m_q->value(i); }
    int numRowsAffected() const { return m_q->numRowsAffected(); }
    int columnCount() const { return m_q->record().count(); }
    void finish() {
        if (m_q)
            m_q->finish();
        if (m_cached)
            m_cached->inUse = false;
        m_cached = nullptr;
        m_q = nullptr;
    }

private:
    Cached *m_cached = nullptr;
    std::unique_ptr<QSqlQuery> m_owned;
    QSqlQuery *m_q = nullptr;
};

class Database;

// One statement read through SQLite's own interface on this thread's
// connection. For reads of many rows: Qt SQL hands every value over as a
// QVariant and every text as UTF-16, which costs more than the query itself.
class RawRows {
public:
    RawRows(const Database &db, const char *sql);
    ~RawRows();
    RawRows(const RawRows &) = delete;
    RawRows &operator=(const RawRows &) = delete;

    void bind(int index, qint64 value); // from 1, as SQLite counts
    void bind(int index, const QString &value);
    // Throws DatabaseError on failure.
    bool next();
    qint64 integer(int column) const; // from 0
    // Valid until the next call of next().
    std::string_view text(int column) const;

private:
    sqlite3_stmt *m_stmt = nullptr;
};

// The service's SQLite file. Qt SQL connections are bound to the thread that
// opened them, so every thread gets its own connection to the same file
// (WAL mode lets readers run beside the one writer).
class Database {
public:
    explicit Database(QString path);

    // This thread's connection, opened on first use.
    QSqlDatabase connection() const;

    // The SQLite handle behind connection().
    sqlite3 *handle() const;

    // Brings the schema to the newest version; returns that version.
    int migrate() const;

    // Runs a statement with positional bindings; throws DatabaseError on failure.
    // Statements are prepared once per thread and reused.
    Rows exec(const QString &sql, const QVariantList &args = {}) const;

    const QString &path() const { return m_path; }

private:
    QString m_path;
};

// Begins a transaction on this thread's connection and rolls it back unless committed.
class Transaction {
public:
    explicit Transaction(const Database &db);
    ~Transaction();
    void commit();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

private:
    QSqlDatabase m_db;
    bool m_done = false;
};

} // namespace quorvel::server
