// Three services on one PostgreSQL database and one shared folder, behind
// nginx, as several machines run them: every job done and charged once under
// load, no overdraft, a killed service's job finished by another, a database
// restart that loses nothing, and every service answering alike.
#include "ServerTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace quorvel::server;
using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int kInstances = 3;

// A loopback port free at this moment, for nginx to listen on.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Requests through one origin with a bearer token; 503 and refused connections (a service
// or the database away) are counted and tried again, anything else is returned.
// Answers of 500 and above other than 503, counted only for requests made and answered
// while the database was up all along (`phase` even and unchanged).
struct ServerErrors {
    std::atomic<int> count{0};
    std::atomic<int> phase{0}; // odd while the database is being restarted
    std::mutex mutex;
    QStringList seen;
    void note(int before, const httplib::Result &r, const std::string &what) {
        if (!r || r->status < 500 || r->status == 503)
            return;
        const bool counted = before % 2 == 0 && phase.load() == before;
        if (counted)
            ++count;
        std::lock_guard lock(mutex);
        seen << u"%1 %2 %3 %4"_s.arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
                    .arg(r->status)
                    .arg(QString::fromStdString(what),
                         counted ? u"(counted)"_s : u"(database restarting)"_s);
    }
};

struct Client {
    int port;
    QString token;
    ServerErrors *serverErrors = nullptr;
    httplib::Result send(const std::function<httplib::Result(httplib::Client &)> &f,
                         const std::string &what = {}) const {
        for (int attempt = 0;; ++attempt) {
            httplib::Client c("127.0.0.1", port);
            c.set_read_timeout(60);
            const int phase = serverErrors ? serverErrors->phase.load() : 0;
            auto r = f(c);
            if (serverErrors)
                serverErrors->note(phase, r, what);
            if ((r && r->status != 503 && r->status != 502) || attempt >= 400)
                return r;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    httplib::Headers headers() const {
        return {{"Authorization", "Bearer " + token.toStdString()}};
    }
    httplib::Result get(const QString &path) const {
        return send([&](httplib::Client &c) { return c.Get(path.toStdString(), headers()); },
                    "GET " + path.toStdString());
    }
    QJsonObject upload(const QString &name, const QByteArray &content) const {
        const QString boundary = newBoundary();
        const std::string body = clientMultipartBody(boundary, name, content).toStdString();
        const std::string type = (u"multipart/form-data; boundary="_s + boundary).toStdString();
        auto r = send(
            [&](httplib::Client &c) {
                return c.Post("/api/v2/uploadfilepdf", headers(), body, type);
            },
            "POST /api/v2/uploadfilepdf");
        return r && r->status == 200 ? dataOf(r) : QJsonObject();
    }
    // The job, or an empty object with `status` set to the answer's status.
    QJsonObject convert(const QJsonObject &up, const QString &typ, int *status) const {
        const QJsonObject req{{u"source_file_md5"_s, up.value(u"source_file_md5"_s)},
                              {u"typ"_s, typ},
                              {u"source_file_path"_s, up.value(u"source_file_path"_s)},
                              {u"source_file_typ"_s, up.value(u"source_file_typ"_s)},
                              {u"page_number"_s, up.value(u"page_number"_s)},
                              {u"status"_s, 0},
                              {u"file_name"_s, up.value(u"file_name"_s)}};
        const std::string body = QJsonDocument(req).toJson().toStdString();
        auto r = send(
            [&](httplib::Client &c) {
                return c.Post("/api/v1/tollan/convert", headers(), body, "application/json");
            },
            "POST /api/v1/tollan/convert");
        *status = r ? r->status : -1;
        return r && r->status == 200 ? dataOf(r) : QJsonObject();
    }
    // Waits until none of the account's jobs is running; its history then.
    QJsonArray settledHistory(int timeoutMs) const {
        QElapsedTimer t;
        t.start();
        QJsonArray jobs;
        while (t.elapsed() < timeoutMs) {
            jobs = dataOf(get(u"/api/v1/tollan/convert/all"_s)).value(u"converts"_s).toArray();
            if (std::none_of(jobs.begin(), jobs.end(), [](const QJsonValue &j) {
                    return j.toObject().value(u"status"_s).toInt() == 0;
                }))
                return jobs;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return jobs;
    }
};

Client via(int port, const QString &token) {
    return Client{port, token, nullptr};
}

int countOf(const QJsonArray &jobs, int status) {
    return int(std::count_if(jobs.begin(), jobs.end(), [&](const QJsonValue &j) {
        return j.toObject().value(u"status"_s).toInt() == status;
    }));
}

} // namespace

class TestCluster : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    PgCluster *m_pg = nullptr;
    QString m_url;
    std::unique_ptr<Store> m_store; // the database as an operator sees it
    std::unique_ptr<Accounts> m_accounts;
    std::vector<std::unique_ptr<QProcess>> m_instances;
    std::vector<int> m_ports;
    QProcess m_nginx;
    int m_origin = 0;
    ServerErrors m_serverErrors;

    QString instanceDir(int i) const { return m_dir.filePath(u"instance-%1"_s.arg(i)); }

    // An account with a session valid on every service.
    Client account(const QString &email, qint64 pages, int port = 0) {
        m_accounts->addUser(email, u"pw-"_s + email, pages, 0);
        const QString token = Accounts::newToken();
        m_store->addToken(Accounts::tokenHash(token), m_store->userByEmail(email)->id,
                          QDateTime::currentSecsSinceEpoch() + 3600);
        return Client{port ? port : m_origin, token, &m_serverErrors};
    }

    bool startNginx() {
        QString upstream;
        for (int port : m_ports)
            upstream += u"    server 127.0.0.1:%1 max_fails=1 fail_timeout=2s;\n"_s.arg(port);
        m_origin = freePort();
        const QString d = m_dir.filePath(u"nginx"_s);
        QDir().mkpath(d);
        const QString conf =
            (::geteuid() == 0 ? u"user root root;\n"_s : QString()) + uR"(daemon off;
worker_processes 1;
pid %1/nginx.pid;
error_log %1/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path %1/body; proxy_temp_path %1/proxy; fastcgi_temp_path %1/fastcgi;
  uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;
  upstream quorvel {
%2    keepalive 32;
    keepalive_timeout 4s;
  }
  server {
    listen 127.0.0.1:%3;
    client_max_body_size 0;
    location / {
      proxy_pass http://quorvel;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_request_buffering off;
      proxy_buffering off;
      proxy_next_upstream error timeout;
    }
  }
}
)"_s.arg(d, upstream)
                                                                          .arg(m_origin);
        writeFile(d + u"/nginx.conf"_s, conf.toUtf8());
        m_nginx.setProcessChannelMode(QProcess::MergedChannels);
        m_nginx.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_nginx.start(u"/usr/sbin/nginx"_s, {u"-p"_s, d, u"-c"_s, d + u"/nginx.conf"_s});
        if (!m_nginx.waitForStarted())
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && m_nginx.state() == QProcess::Running) {
            httplib::Client c("127.0.0.1", m_origin);
            if (auto r = c.Get("/healthz"); r && r->status == 200)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        qWarning("nginx: %s", m_nginx.readAll().constData());
        return false;
    }

private slots:
    void initTestCase() {
        QVERIFY(QFile::exists(u"/usr/sbin/nginx"_s));
        m_pg = PgCluster::shared();
        QVERIFY(m_pg);
        m_url = m_pg->newDatabase();
        m_store = openStore(m_url, {});
        m_store->migrate();
        Accounts::setFastHashingForTests(true);
        m_accounts = std::make_unique<Accounts>(*m_store);
        for (int i = 0; i < kInstances; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
            const int port = startServerBinary(
                *p, instanceDir(i), m_dir.filePath(u"instance-%1.log"_s.arg(i)),
                {u"--database"_s, m_url, u"--storage"_s, m_dir.filePath(u"shared"_s),
                 u"--job-lease"_s, u"3"_s, u"--cold-office"_s});
            QVERIFY2(port > 0, qPrintable(readFile(m_dir.filePath(u"instance-%1.log"_s.arg(i)))));
            m_ports.push_back(port);
            m_instances.push_back(std::move(p));
        }
        QVERIFY(startNginx());
    }

    // What the services wrote to standard error, and the answers of 500 and above, for a
    // failure to show its cause.
    void printLogs() {
        {
            std::lock_guard lock(m_serverErrors.mutex);
            for (const QString &e : std::as_const(m_serverErrors.seen))
                qInfo("answer %s", qPrintable(e));
        }
        for (int i = 0; i < kInstances; ++i) {
            const QList<QByteArray> lines =
                readFile(m_dir.filePath(u"instance-%1.log"_s.arg(i))).split('\n');
            for (qsizetype k = std::max<qsizetype>(0, lines.size() - 60); k < lines.size(); ++k)
                if (!lines[k].isEmpty())
                    qInfo("instance %d: %s", i, lines[k].constData());
        }
        // Why nginx answered 502 itself, if it did.
        for (const QByteArray &line : readFile(m_dir.filePath(u"nginx/error.log"_s)).split('\n'))
            if (!line.isEmpty())
                qInfo("nginx: %s", line.constData());
    }

    void cleanup() {
        if (QTest::currentTestFailed())
            printLogs();
    }

    void cleanupTestCase() {
        m_nginx.terminate();
        m_nginx.waitForFinished(5000);
        for (auto &p : m_instances) {
            p->terminate();
            p->waitForFinished(20000);
        }
        for (int i = 0; i < kInstances; ++i)
            for (int pid : processesWithHomeUnder(instanceDir(i)))
                ::kill(pid, SIGKILL);
        if (m_serverErrors.count.load() != 0)
            printLogs();
        QCOMPARE(m_serverErrors.count.load(), 0);
    }

    // A sign-in made on one service works on all; a new password ends it on all within a
    // second.
    void sessionsAreShared() {
        const QString email = u"session@example.org"_s;
        account(email, 10);
        httplib::Client first("127.0.0.1", m_ports[0]);
        auto login =
            first.Post("/api/v1/tollan/auth/login",
                       (u"{\"email\":\"%1\",\"password\":\"pw-%1\"}"_s.arg(email)).toStdString(),
                       "application/json");
        QVERIFY(login && login->status == 200);
        const QString token = dataOf(login).value(u"token"_s).toString();
        const auto meEverywhere = [&](int status) {
            for (int port : m_ports)
                if (via(port, token).get(u"/api/v1/tollan/auth/me"_s)->status != status)
                    return false;
            return true;
        };
        QVERIFY(meEverywhere(200));
        QProcess passwd;
        passwd.start(QStringLiteral(QUORVEL_SERVER_BINARY),
                     {u"user"_s, u"passwd"_s, email, u"--database"_s, m_url, u"--data"_s,
                      m_dir.filePath(u"admin"_s), u"--password-stdin"_s});
        QVERIFY(passwd.waitForStarted());
        passwd.write("a-new-password\n");
        passwd.closeWriteChannel();
        QVERIFY(passwd.waitForFinished(30000));
        QCOMPARE(passwd.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(meEverywhere(401), 1000);
    }

    // A job made through one service is in the history read through any other at once,
    // and so is each change of it.
    void historyIsCurrentEverywhere() {
        Client one = account(u"history@example.org"_s, 10, m_ports[0]);
        const QJsonObject up = one.upload(u"h.pdf"_s, textPdf(1, u"history"_s));
        int status = 0;
        const QString id = one.convert(up, u"PDF2MD"_s, &status).value(u"id"_s).toString();
        QCOMPARE(status, 200);
        for (int port : m_ports) {
            const QJsonArray jobs =
                dataOf(via(port, one.token).get(u"/api/v1/tollan/convert/all"_s))
                    .value(u"converts"_s)
                    .toArray();
            QCOMPARE(jobs.size(), 1);
            QCOMPARE(jobs[0].toObject().value(u"id"_s).toString(), id);
        }
        const Client two = via(m_ports[1], one.token);
        QCOMPARE(two.settledHistory(60000)[0].toObject().value(u"status"_s).toInt(), 1);
        for (int port : m_ports) {
            const auto converts = dataOf(via(port, one.token).get(u"/api/v1/tollan/convert/all"_s))
                                      .value(u"converts"_s)
                                      .toArray();
            QCOMPARE(converts[0].toObject().value(u"status"_s).toInt(), 1);
            // Any service serves the result from the shared folder.
            QCOMPARE(via(port, one.token).get(u"/api/v2/docx?md5_id="_s + id)->status, 200);
        }
    }

    // 300 jobs from 30 clients at once through nginx: each done once and charged once.
    void everyJobDoneAndChargedOnce() {
        constexpr int kClients = 30, kJobs = 10;
        std::vector<Client> clients;
        for (int c = 0; c < kClients; ++c)
            clients.push_back(account(u"load%1@example.org"_s.arg(c), 100));
        std::mutex mutex;
        std::vector<QString> ids;
        std::atomic<int> refused{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < kClients; ++c)
            threads.emplace_back([&, c] {
                const QJsonObject up =
                    clients[size_t(c)].upload(u"l.pdf"_s, textPdf(1, u"load%1"_s.arg(c)));
                for (int j = 0; j < kJobs; ++j) {
                    int status = 0;
                    const QString id = clients[size_t(c)]
                                           .convert(up, u"PDF2MD"_s, &status)
                                           .value(u"id"_s)
                                           .toString();
                    std::lock_guard lock(mutex);
                    if (status == 200)
                        ids.push_back(id);
                    else
                        ++refused;
                }
            });
        for (auto &t : threads)
            t.join();
        QCOMPARE(refused.load(), 0);
        QCOMPARE(ids.size(), size_t(kClients * kJobs));
        for (const Client &c : clients) {
            const QJsonArray jobs = c.settledHistory(240000);
            QCOMPARE(countOf(jobs, 1), kJobs);
            QCOMPARE(dataOf(c.get(u"/api/v1/tollan/convertapi/page_balance"_s))
                         .value(u"consumed_pages"_s)
                         .toInt(),
                     kJobs);
        }
        QString logs;
        for (int i = 0; i < kInstances; ++i)
            logs += QString::fromUtf8(readFile(m_dir.filePath(u"instance-%1.log"_s.arg(i))));
        for (const QString &id : ids) {
            QCOMPARE(logs.count(u"job "_s + id + u" completed"_s), 1);
            QCOMPARE(m_store->query(
                         u"SELECT COUNT(*), SUM(pages)::bigint FROM page_ledger WHERE job_id=?"_s,
                         {id})[0],
                     (Store::Row{qint64(1), qint64(1)}));
        }
    }

    // 200 converts at once on an account with 50 pages: 50 accepted, never more spent.
    void concurrentConvertsNeverOverdraw() {
        Client c = account(u"fifty@example.org"_s, 50);
        const QJsonObject up = c.upload(u"f.pdf"_s, textPdf(1, u"fifty"_s));
        std::atomic<int> accepted{0}, refused{0}, other{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 20; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 10; ++i) {
                    int status = 0;
                    c.convert(up, u"PDF2MD"_s, &status);
                    (status == 200 ? accepted : status == 402 ? refused : other)++;
                }
            });
        for (auto &t : threads)
            t.join();
        QCOMPARE(other.load(), 0);
        QCOMPARE(accepted.load(), 50);
        QCOMPARE(refused.load(), 150);
        QCOMPARE(countOf(c.settledHistory(240000), 1), 50);
        const QJsonObject bal = dataOf(c.get(u"/api/v1/tollan/convertapi/page_balance"_s));
        QCOMPARE(bal.value(u"consumed_pages"_s).toInt(), 50);
        QCOMPARE(m_store
                     ->query(u"SELECT remaining_pages FROM users WHERE lower(email)=?"_s,
                             {u"fifty@example.org"_s})[0][0]
                     .toLongLong(),
                 0);
    }

    // PostgreSQL restarted under load: the services answer 503 while it is away and report it
    // in /healthz, then every accepted job completes and is charged once; never a 500.
    void databaseRestartLosesNothing() {
        constexpr int kClients = 6, kJobs = 8;
        std::vector<Client> clients;
        for (int c = 0; c < kClients; ++c)
            clients.push_back(account(u"restart%1@example.org"_s.arg(c), 100));
        std::atomic<int> accepted{0};
        std::atomic<bool> go{true};
        std::vector<std::thread> threads;
        for (int c = 0; c < kClients; ++c)
            threads.emplace_back([&, c] {
                const QJsonObject up =
                    clients[size_t(c)].upload(u"r.pdf"_s, textPdf(1, u"restart%1"_s.arg(c)));
                for (int j = 0; j < kJobs && go; ++j) {
                    int status = 0;
                    clients[size_t(c)].convert(up, u"PDF2MD"_s, &status);
                    if (status == 200)
                        ++accepted;
                }
            });
        QTRY_VERIFY_WITH_TIMEOUT(accepted.load() >= 10, 60000);
        ++m_serverErrors.phase; // from here until every service reaches it again
        QVERIFY(m_pg->stop());
        const auto health = [&](int port) {
            httplib::Client h("127.0.0.1", port);
            auto r = h.Get("/healthz");
            return r ? r->status : -1;
        };
        for (int port : m_ports)
            QTRY_COMPARE_WITH_TIMEOUT(health(port), 503, 5000);
        QVERIFY(m_pg->start());
        for (int port : m_ports)
            QTRY_COMPARE_WITH_TIMEOUT(health(port), 200, 10000);
        ++m_serverErrors.phase;
        for (auto &t : threads)
            t.join();
        QCOMPARE(accepted.load(), kClients * kJobs);
        int completed = 0;
        for (const Client &c : clients) {
            const QJsonArray jobs = c.settledHistory(240000);
            QCOMPARE(jobs.size(), kJobs);
            completed += countOf(jobs, 1);
            QCOMPARE(dataOf(c.get(u"/api/v1/tollan/convertapi/page_balance"_s))
                         .value(u"consumed_pages"_s)
                         .toInt(),
                     countOf(jobs, 1));
        }
        QCOMPARE(completed, kClients * kJobs);
        QCOMPARE(m_serverErrors.count.load(), 0);
    }

    // kill -9 of the service running a job: another one takes it after its lease and
    // completes it, charged once. (Last: the killed service stays down.)
    void killedHoldersJobCompletesElsewhere() {
        Client c = account(u"killed@example.org"_s, 20);
        const QString docx = writeDocx(m_dir.path(), u"k.docx"_s, 40);
        QVERIFY(!docx.isEmpty());
        const QJsonObject up = c.upload(u"k.docx"_s, readFile(docx));
        int status = 0;
        const QString id = c.convert(up, u"DOCX2PDF"_s, &status).value(u"id"_s).toString();
        QCOMPARE(status, 200);
        QString holder;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(holder = m_store->query(u"SELECT lease_holder FROM jobs WHERE id=?"_s, {id})[0][0]
                           .toString())
                 .isEmpty(),
            30000);
        const qint64 pid = holder.section(u'/', -1).toLongLong();
        int victim = -1;
        for (int i = 0; i < kInstances; ++i)
            if (m_instances[size_t(i)]->processId() == pid)
                victim = i;
        QVERIFY2(victim >= 0, qPrintable(holder));
        ::kill(pid_t(pid), SIGKILL);
        for (int engine : processesWithHomeUnder(instanceDir(victim)))
            ::kill(engine, SIGKILL);
        m_instances[size_t(victim)]->waitForFinished(5000);
        const QJsonArray jobs = c.settledHistory(240000);
        QCOMPARE(countOf(jobs, 1), 1);
        QCOMPARE(m_store->query(u"SELECT attempts, lease_holder FROM jobs WHERE id=?"_s, {id})[0][0]
                     .toLongLong(),
                 2);
        QCOMPARE(m_store->query(u"SELECT COUNT(*) FROM page_ledger WHERE job_id=?"_s, {id})[0][0]
                     .toLongLong(),
                 1);
        QCOMPARE(c.get(u"/api/v2/docx?md5_id="_s + id)->status, 200);
    }
};

QTEST_GUILESS_MAIN(TestCluster)
#include "tst_cluster.moc"
