#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <stdexcept>

namespace quorvel::server {

struct DatabaseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The service's SQLite file. Qt SQL connections are bound to the thread that
// opened them, so every thread gets its own connection to the same file
// (WAL mode lets readers run beside the one writer).
class Database {
public:
    explicit Database(QString path);

    // This thread's connection, opened on first use.
    QSqlDatabase connection() const;

    // Brings the schema to the newest version; returns that version.
    int migrate() const;

    // Runs a statement with positional bindings; throws DatabaseError on failure.
    QSqlQuery exec(const QString &sql, const QVariantList &args = {}) const;

    const QString &path() const { return m_path; }

    // Timestamps as the wire carries them, e.g. "2025-01-31 08:15:00 +0000".
    static QString nowText();
    static QString todayText();

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
