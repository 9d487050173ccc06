#pragma once

#include "Accounts.h"
#include "Config.h"
#include "HttpApi.h"
#include "JobRunner.h"
#include "ServiceProcess.h"
#include "Store.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <httplib.h>

#include <functional>
#include <memory>
#include <thread>

namespace quorvel::test {

// One run of text on a page of a generated PDF; fonts are the standard
// Helvetica ("F1"), Helvetica-Bold ("F2") and Courier ("F3").
struct PdfRun {
    double x, y, size;
    QByteArray font;
    QString text; // Latin-1
};
QByteArray makePdf(const QList<QList<PdfRun>> &pages);
// `pages` pages, each showing "<word> <page number>".
QByteArray textPdf(int pages, const QString &word = QStringLiteral("page"));

// A document laid out like a word processor would: headings (level 1–3) and
// wrapped paragraphs on as many Letter pages as needed.
struct PdfBlock {
    int level = 0; // 0: paragraph, -1: bullet item, -2: code line
    QString text;
};
QByteArray layoutPdf(const QList<PdfBlock> &blocks);

// One Letter page showing one large uncompressed RGB image, as scanners produce.
QByteArray imagePdf();

// The multipart body exactly as the client builds it: a leading CR LF, one part
// named "file" declared as application/pdf, the file name with %22/%0D/%0A escapes.
QByteArray clientMultipartBody(const QString &boundary, const QString &fileName,
                               const QByteArray &content);
// A Word document of `paragraphs` plain paragraphs, with only the parts the format requires;
// its path, or "" when it could not be written.
QString writeDocx(const QString &dir, const QString &name, int paragraphs);
QString newBoundary();

bool writeFile(const QString &path, const QByteArray &data);
QByteArray readFile(const QString &path);
// Files below `dir`, in every subdirectory.
int filesUnder(const QString &dir);

// Runs `program args` and returns its exit code (-1 when it could not start).
int runTool(const QString &program, const QStringList &args, QByteArray *output = nullptr,
            int timeoutMs = 120000);

// What poppler and unzip report of a result: page count (-1 when unreadable), text,
// entry names, one entry's bytes, and an entry's text with paragraph ends as line breaks.
int pdfPages(const QString &path);
QString pdfText(const QString &path);
QStringList zipNames(const QString &zip);
QByteArray zipEntry(const QString &zip, const QString &entry);
QString zipText(const QString &zip, const QString &entry);

// Processes whose HOME is `dir` or lies below it (engines run with HOME in their work folder).
QList<int> processesWithHomeUnder(const QString &dir);

// Words (letters and digits only, lower-cased) in order.
QStringList wordsOf(const QString &text);
// Share of `expected` found in `actual` as an in-order subsequence (longest common subsequence).
double inOrderShare(const QStringList &expected, const QStringList &actual);

// A throwaway PostgreSQL cluster: initdb in a temporary folder (as the postgres user when
// running as root), a server listening on a Unix socket in that folder only, fsync off.
class PgCluster {
public:
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // The one cluster of this test process, started on first use; null when it cannot be
    // (the reason is printed).
    static PgCluster *shared();
    // Whether this test process runs its services on PostgreSQL (QUORVEL_TEST_STORE=postgresql).
    static bool wanted();

    bool running() const { return m_running; }
    // A new, empty database; its URL.
    QString newDatabase();
    QString url(const QString &database) const;
    bool start();
    // Fast shutdown: connections are cut as by a crash of the server.
    bool stop();

private:
    int run(const QString &tool, const QStringList &args, QByteArray *out = nullptr);
    QString m_bin;
    std::unique_ptr<QTemporaryDir> m_dir;
    bool m_asPostgres = false;
    bool m_running = false;
    int m_databases = 0;
};

// A complete service in this process on a free loopback port, with a fresh data directory.
// Its state is in SQLite, or in a new database of PgCluster::shared() when PgCluster::wanted().
class TestService {
public:
    explicit TestService(int workers = 2, qint64 maxUploadBytes = 8 * 1024 * 1024,
                         QString dataDir = {},
                         const std::function<void(quorvel::server::Config &)> &tweak = {});
    ~TestService();

    quorvel::server::Config config;
    QString databaseUrl; // empty: SQLite in the data directory
    std::unique_ptr<quorvel::server::Store> store;
    std::unique_ptr<quorvel::server::Accounts> accounts;
    std::unique_ptr<quorvel::server::JobRunner> runner;
    std::unique_ptr<quorvel::server::HttpApi> api;
    int port = -1;

    // Adds a user and returns a bearer token for it.
    QString addUserAndLogin(const QString &email, qint64 pages = 100, qint64 lifetimeDaily = 0);
    std::unique_ptr<httplib::Client> client() const;

    httplib::Result get(const QString &path, const QString &token) const;
    httplib::Result post(const QString &path, const QString &token, const QByteArray &body,
                         const QString &contentType = QStringLiteral("application/json")) const;
    // Uploads like the client does and returns the FileUploadData (empty object on failure).
    QJsonObject upload(const QString &token, const QString &fileName, const QByteArray &content,
                       int *status = nullptr) const;
    // Requests a job for an upload record; returns the job (empty on failure).
    QJsonObject convert(const QString &token, const QJsonObject &upload, const QString &typ,
                        int *status = nullptr, QByteArray *body = nullptr) const;
    // Polls until the job leaves status 0; returns the final job.
    QJsonObject waitForJob(const QString &token, const QString &id, int timeoutMs = 120000) const;

    void stop();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    std::thread m_thread;
};

QJsonObject dataOf(const httplib::Result &r);

} // namespace quorvel::test
