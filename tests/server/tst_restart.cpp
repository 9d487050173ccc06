// The service binary killed or stopped in the middle of conversions loses no
// job: after a restart each one ends completed or failed, and no engine of
// the dead process is left running.
#include "ServerTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <signal.h>

using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {} // namespace

class TestRestart : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_data;
    std::unique_ptr<QProcess> m_server;
    int m_port = 0;

    bool startServer() {
        m_server = std::make_unique<QProcess>();
        m_port = startServerBinary(*m_server, m_data, m_dir.filePath(u"server.log"_s));
        return m_port > 0;
    }

    httplib::Result call(const std::string &method, const std::string &path, const QString &token,
                         const QByteArray &body = {},
                         const std::string &type = "application/json") {
        httplib::Client c("127.0.0.1", m_port);
        c.set_read_timeout(30);
        httplib::Headers h;
        if (!token.isEmpty())
            h.emplace("Authorization", "Bearer " + token.toStdString());
        return method == "GET" ? c.Get(path, h) : c.Post(path, h, body.toStdString(), type);
    }

    QString login() {
        auto r = call("POST", "/api/v1/tollan/auth/login", {},
                      R"({"email":"r@example.org","password":"restart-pw"})");
        return r && r->status == 200 ? dataOf(r).value(u"token"_s).toString() : QString();
    }

    // Queues a mix of LibreOffice and quick jobs; returns their ids.
    QStringList queueJobs(const QString &token) {
        QStringList ids;
        for (int i = 0; i < 6; ++i) {
            const bool md = i % 2 == 0;
            const QString name = md ? u"doc%1.md"_s.arg(i) : u"doc%1.pdf"_s.arg(i);
            const QByteArray content =
                md ? u"# Title %1\n\nSome words for job %1.\n"_s.arg(i).toUtf8()
                   : layoutPdf(
                         {{1, u"Heading %1"_s.arg(i)}, {0, u"Body text of job %1."_s.arg(i)}});
            const QString b = newBoundary();
            auto up =
                call("POST", "/api/v2/uploadfilepdf", token, clientMultipartBody(b, name, content),
                     "multipart/form-data; boundary=" + b.toStdString());
            if (!up || up->status != 200)
                return {};
            QJsonObject req = dataOf(up);
            req[u"typ"_s] = md ? u"MD2PDF"_s : u"PDF2DOC"_s;
            auto job = call("POST", "/api/v1/tollan/convert", token, QJsonDocument(req).toJson());
            if (!job || job->status != 200)
                return {};
            ids << dataOf(job).value(u"id"_s).toString();
        }
        return ids;
    }

    bool waitUntilRunning() {
        const auto store = quorvel::server::openStore({}, m_data);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {
            if (store->query(u"SELECT COUNT(*) FROM jobs WHERE state='running'"_s)[0][0].toInt() >
                0)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    void checkAllEnd(const QString &token, const QStringList &ids) {
        for (const QString &id : ids) {
            QElapsedTimer t;
            t.start();
            int status = 0;
            QString reason;
            while (t.elapsed() < 120000) {
                auto r = call("GET", "/api/v1/tollan/convert/" + id.toStdString(), token);
                QVERIFY(r && r->status == 200);
                status = dataOf(r).value(u"status"_s).toInt();
                reason = dataOf(r).value(u"fail_reason"_s).toString();
                if (status != 0)
                    break;
                QThread::msleep(200);
            }
            // Interrupted jobs are simply run again, so they complete. The reason first: a
            // test message is cut after about a thousand characters.
            if (status != 1)
                qWarning().noquote() << readFile(m_dir.filePath(u"server.log"_s)).right(6000);
            QVERIFY2(status == 1,
                     qPrintable(u"job %1 ended %2: %3"_s.arg(id).arg(status).arg(reason)));
        }
    }

private slots:
    void initTestCase() {
        m_data = m_dir.filePath(u"data"_s);
        QVERIFY(addUserWithBinary(m_data, u"r@example.org"_s, 1000, "restart-pw"));
    }

    void cleanup() {
        if (m_server && m_server->state() == QProcess::Running) {
            m_server->kill();
            m_server->waitForFinished();
        }
    }

    void killedMidConversion() {
        QVERIFY(startServer());
        const QString token = login();
        QVERIFY(!token.isEmpty());
        const QStringList ids = queueJobs(token);
        QCOMPARE(ids.size(), 6);
        QVERIFY(waitUntilRunning());
        const QList<int> oldEngines = processesWithHomeUnder(m_data + u"/work"_s);
        QVERIFY(!oldEngines.isEmpty());
        ::kill(pid_t(m_server->processId()), SIGKILL);
        QVERIFY(m_server->waitForFinished(10000));

        QVERIFY(startServer());
        // The new process ended whatever engines the dead one left behind
        // before starting its own; the token survived the restart.
        checkAllEnd(token, ids);
        const QByteArray log = readFile(m_dir.filePath(u"server.log"_s));
        QVERIFY2(log.contains("queued again after an interruption"), log.right(3000).constData());
        // The new service runs engines of its own; none of the dead one's is left.
        const QList<int> engines = processesWithHomeUnder(m_data + u"/work"_s);
        for (int pid : oldEngines)
            QVERIFY(!engines.contains(pid));
        auto bal = dataOf(call("GET", "/api/v1/tollan/convertapi/page_balance", token));
        QVERIFY(bal.value(u"consumed_pages"_s).toInt() >= 6);
        m_server->terminate();
        QVERIFY(m_server->waitForFinished(30000));
    }

    void stoppedGracefully() {
        QVERIFY(startServer());
        const QString token = login();
        const QStringList ids = queueJobs(token);
        QCOMPARE(ids.size(), 6);
        QVERIFY(waitUntilRunning());
        QElapsedTimer t;
        t.start();
        m_server->terminate(); // SIGTERM
        QVERIFY(m_server->waitForFinished(30000));
        QVERIFY(readFile(m_dir.filePath(u"server.log"_s))
                    .contains("queued again: the service is stopping"));
        QCOMPARE(m_server->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_server->exitCode(), 0);
        QVERIFY(t.elapsed() < 15000);
        QCOMPARE(processesWithHomeUnder(m_data + u"/work"_s).size(), 0);
        {
            const auto store = quorvel::server::openStore({}, m_data);
            // put back in the queue, not left running
            QCOMPARE(
                store->query(u"SELECT COUNT(*) FROM jobs WHERE state='running'"_s)[0][0].toInt(),
                0);
        }
        QVERIFY(startServer());
        checkAllEnd(token, ids);
        m_server->terminate();
        QVERIFY(m_server->waitForFinished(30000));
    }
};

QTEST_GUILESS_MAIN(TestRestart)
#include "tst_restart.moc"
