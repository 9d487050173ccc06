// The two PostgreSQL clients the service could use, on the reads it makes most:
// `pg_client_bench POSTGRESQL_URL` times, through libpq and through Qt's QPSQL
// driver (when installed), a one-row read by key (the history version check)
// and a 1 000-row read of text columns (a history), p50/p99 in milliseconds.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

double at(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

void print(const char *what, const std::vector<double> &ms) {
    std::printf("%-34s p50 %.3f ms  p99 %.3f ms\n", what, at(ms, 0.5), at(ms, 0.99));
}

const char *kSetup =
    "DROP TABLE IF EXISTS bench_rows; CREATE TABLE bench_rows(id BIGINT PRIMARY KEY, "
    "owner BIGINT, name TEXT, md5 TEXT, created TEXT, version BIGINT);"
    "INSERT INTO bench_rows SELECT i, i % 10, 'report-' || i || '.pdf', md5(i::text), "
    "'2026-01-05 09:00:00 +0000', i FROM generate_series(1, 10000) i;";
const char *kOne = "SELECT version FROM bench_rows WHERE id=$1";
const char *kMany = "SELECT id, name, md5, created FROM bench_rows WHERE owner=$1 ORDER BY id";

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: pg_client_bench POSTGRESQL_URL\n");
        return 2;
    }
    PGconn *c = PQconnectdb(argv[1]);
    if (PQstatus(c) != CONNECTION_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(c));
        return 1;
    }
    PQclear(PQexec(c, kSetup));
    PQclear(PQprepare(c, "one", kOne, 0, nullptr));
    PQclear(PQprepare(c, "many", kMany, 0, nullptr));
    std::vector<double> one, many;
    for (int i = 0; i < 3000; ++i) {
        const std::string key = std::to_string(1 + i % 10000);
        const char *p[] = {key.c_str()};
        QElapsedTimer t;
        t.start();
        PGresult *r = PQexecPrepared(c, "one", 1, p, nullptr, nullptr, 0);
        volatile long long v = std::atoll(PQgetvalue(r, 0, 0));
        (void)v;
        PQclear(r);
        one.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    for (int i = 0; i < 200; ++i) {
        const std::string key = std::to_string(i % 10);
        const char *p[] = {key.c_str()};
        QElapsedTimer t;
        t.start();
        PGresult *r = PQexecPrepared(c, "many", 1, p, nullptr, nullptr, 0);
        std::size_t bytes = 0;
        for (int row = 0; row < PQntuples(r); ++row)
            for (int col = 1; col < 4; ++col)
                bytes += std::string_view(PQgetvalue(r, row, col), PQgetlength(r, row, col)).size();
        PQclear(r);
        volatile std::size_t sink = bytes;
        (void)sink;
        many.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    print("libpq: one row by key", one);
    print("libpq: 1 000 rows of text", many);
    PQfinish(c);

    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        std::printf("QPSQL: driver not installed (libqt6sql6-psql)\n");
        return 0;
    }
    const QUrl url(QString::fromLocal8Bit(argv[1]));
    const QUrlQuery q(url);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"));
    db.setDatabaseName(url.path().mid(1));
    db.setHostName(q.queryItemValue(QStringLiteral("host")));
    db.setUserName(q.queryItemValue(QStringLiteral("user")));
    if (!db.open()) {
        std::fprintf(stderr, "QPSQL: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }
    one.clear();
    many.clear();
    QSqlQuery qOne(db), qMany(db);
    qOne.setForwardOnly(true);
    qMany.setForwardOnly(true);
    qOne.prepare(QStringLiteral("SELECT version FROM bench_rows WHERE id=?"));
    qMany.prepare(
        QStringLiteral("SELECT id, name, md5, created FROM bench_rows WHERE owner=? ORDER BY id"));
    for (int i = 0; i < 3000; ++i) {
        QElapsedTimer t;
        t.start();
        qOne.bindValue(0, 1 + i % 10000);
        qOne.exec();
        qOne.next();
        volatile long long v = qOne.value(0).toLongLong();
        (void)v;
        qOne.finish();
        one.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer t;
        t.start();
        qMany.bindValue(0, i % 10);
        qMany.exec();
        std::size_t bytes = 0;
        while (qMany.next())
            for (int col = 1; col < 4; ++col)
                bytes += std::size_t(qMany.value(col).toString().toUtf8().size());
        qMany.finish();
        volatile std::size_t sink = bytes;
        (void)sink;
        many.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    print("QPSQL: one row by key", one);
    print("QPSQL: 1 000 rows of text", many);
    return 0;
}
