// The service under hostile or crowded use, over loopback against the real
// HTTP layer: writers racing each other, slow and malformed requests, refused
// bodies, forged log lines and a full disk.
#include "AccessLog.h"
#include "Records.h"
#include "ServerTestSupport.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace quorvel::server;
using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

// A plain TCP connection to the service, for requests no HTTP client would send.
class Raw {
public:
    explicit Raw(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Raw() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Raw(const Raw &) = delete;
    Raw &operator=(const Raw &) = delete;
    bool ok() const { return m_fd >= 0; }
    bool send(const QByteArray &b) {
        qsizetype off = 0;
        while (off < b.size()) {
            const ssize_t n =
                ::send(m_fd, b.constData() + off, size_t(b.size() - off), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            off += n;
        }
        return true;
    }
    void endSending() { ::shutdown(m_fd, SHUT_WR); }
    // Everything received until the service closes the connection, or nothing
    // more comes for `quietMs`; `closed` tells which.
    QByteArray receive(int quietMs, bool *closed = nullptr) {
        QByteArray out;
        char buf[64 * 1024];
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                break;
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                if (closed)
                    *closed = true;
                return out;
            }
            out.append(buf, qsizetype(n));
        }
        if (closed)
            *closed = false;
        return out;
    }

private:
    int m_fd = -1;
};

} // namespace

class TestAttacks : public QObject {
    Q_OBJECT
    std::unique_ptr<TestService> m_svc;
    QString m_alice;

private slots:
    void initTestCase() {
        m_svc = std::make_unique<TestService>(2, 2 * 1024 * 1024, QString(), [](Config &c) {
            c.headerTimeout = std::chrono::seconds(4);
        });
        QVERIFY(m_svc->port > 0);
        m_alice = m_svc->addUserAndLogin(u"alice@example.org"_s, 100000);
    }
    void cleanupTestCase() { m_svc.reset(); }

    // Logins, uploads and conversions at once, while jobs complete: writers
    // wait for each other instead of failing.
    void concurrentWritersNeverFail() {
        std::vector<QJsonObject> uploads;
        for (int i = 0; i < 10; ++i)
            uploads.push_back(
                m_svc->upload(m_alice, u"c%1.pdf"_s.arg(i), textPdf(1, u"convert %1"_s.arg(i))));
        std::atomic<int> serverErrors{0}, answered{0};
        const auto count = [&](int status) {
            answered += status > 0;
            serverErrors += status >= 500 || status <= 0;
        };
        std::vector<std::thread> threads;
        for (int i = 0; i < 10; ++i)
            threads.emplace_back([&, i] {
                int status = 0;
                m_svc->convert(m_alice, uploads[size_t(i)], u"PDF2MD"_s, &status);
                count(status);
            });
        for (int i = 0; i < 20; ++i)
            threads.emplace_back([&, i] {
                int status = 0;
                m_svc->upload(m_alice, u"u%1.pdf"_s.arg(i), textPdf(1, u"upload %1"_s.arg(i)),
                              &status);
                count(status);
            });
        const QByteArray login =
            R"({"email":"alice@example.org","password":"pw-alice@example.org"})";
        for (int i = 0; i < 50; ++i)
            threads.emplace_back([&] {
                // Several rounds each, so logins overlap the jobs completing.
                for (int round = 0; round < 4; ++round) {
                    auto r = m_svc->post(u"/api/v1/tollan/auth/login"_s, QString(), login);
                    count(r ? r->status : -1);
                }
            });
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(answered.load(), 10 + 20 + 50 * 4);
        QCOMPARE(serverErrors.load(), 0);
    }

    // Connections that send their header a line at a time hold no thread: a
    // well-behaved client is answered meanwhile, and the slow ones are dropped.
    void slowHeadersStarveNoOne() {
        std::vector<std::unique_ptr<Raw>> slow;
        for (int i = 0; i < 200; ++i) {
            slow.push_back(std::make_unique<Raw>(m_svc->port));
            QVERIFY(slow.back()->ok());
            slow.back()->send("GET /healthz HTTP/1.1\r\nHost: x\r\n");
        }
        std::atomic<bool> done{false};
        std::thread dribble([&] {
            while (!done) {
                for (auto &c : slow)
                    c->send("X-Slow: 1\r\n");
                QThread::msleep(200);
            }
        });
        int answered = 0;
        for (int i = 0; i < 10; ++i) {
            auto cli = m_svc->client();
            cli->set_connection_timeout(3);
            cli->set_read_timeout(3);
            auto r = cli->Get("/healthz");
            answered += r && r->status == 200;
        }
        done = true;
        dribble.join();
        QCOMPARE(answered, 10);
        // Past the header deadline every slow connection has been answered 408 and closed.
        QElapsedTimer t;
        t.start();
        int dropped = 0;
        for (auto &c : slow) {
            bool closed = false;
            const QByteArray got =
                c->receive(std::max<int>(100, 15000 - int(t.elapsed())), &closed);
            dropped += closed && got.startsWith("HTTP/1.1 408");
        }
        QCOMPARE(dropped, 200);
    }

    // A head too large, or a malformed length, is refused at once (not after a read times
    // out) and the connection closed.
    void refusedHeads_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("status");
        QByteArray many = "GET /healthz HTTP/1.1\r\n";
        for (int i = 0; i < 5000; ++i)
            many += "X-Many-" + QByteArray::number(i) + ": y\r\n";
        QTest::newRow("thousands of lines") << many + "\r\n" << 431;
        QTest::newRow("one huge line")
            << "GET /healthz HTTP/1.1\r\nX-Big: " + QByteArray(100000, 'y') + "\r\n\r\n"
            << 431;
        const QByteArray login = "POST /api/v1/tollan/auth/login HTTP/1.1\r\nHost: x\r\n";
        QTest::newRow("two lengths") << login + "Content-Length: 5, 6\r\n\r\n" << 400;
        QTest::newRow("length too large")
            << login + "Content-Length: 99999999999999999999999\r\n\r\n"
            << 400;
    }
    void refusedHeads() {
        QFETCH(QByteArray, head);
        QFETCH(int, status);
        Raw c(m_svc->port);
        c.send(head);
        bool closed = false;
        const QByteArray got = c.receive(5000, &closed);
        QVERIFY2(got.startsWith("HTTP/1.1 " + QByteArray::number(status)),
                 got.left(200).constData());
        QVERIFY(closed);
    }

    // What follows a refused body is never read as more requests.
    void refusedBodyEndsTheConnection_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("status");
        const QByteArray auth = "Authorization: Bearer " + m_alice.toLatin1() + "\r\n";
        // Chunked, so it is cut off while streaming, past what is read and dropped.
        QByteArray chunked = "POST /api/v2/uploadfilepdf HTTP/1.1\r\nHost: x\r\n" + auth +
                             "Content-Type: multipart/form-data; boundary=B\r\n"
                             "Transfer-Encoding: chunked\r\n\r\n";
        const QByteArray part = "--B\r\nContent-Disposition: form-data; name=\"file\"; "
                                "filename=\"big.pdf\"\r\n\r\n%PDF-1.4\n";
        chunked += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
        for (int i = 0; i < 12; ++i)
            chunked += "100000\r\n" + QByteArray(1024 * 1024, 'z') + "\r\n";
        QTest::newRow("over the limit") << chunked << 413;
        QTest::newRow("not signed in")
            << QByteArray("POST /api/v2/uploadfilepdf HTTP/1.1\r\nHost: x\r\n"
                          "Content-Type: multipart/form-data; "
                          "boundary=B\r\nContent-Length: 100000\r\n\r\n")
            << 401;
    }
    void refusedBodyEndsTheConnection() {
        QFETCH(QByteArray, head);
        QFETCH(int, status);
        QByteArray hidden;
        for (int i = 0; i < 50; ++i)
            hidden += "GET /api/v1/tollan/auth/me HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
                      m_alice.toLatin1() + "\r\n\r\n";
        Raw c(m_svc->port);
        c.send(head + hidden);
        c.endSending();
        bool closed = false;
        const QByteArray got = c.receive(5000, &closed);
        QVERIFY(closed);
        QVERIFY2(got.startsWith("HTTP/1.1 " + QByteArray::number(status)),
                 got.left(200).constData());
        QCOMPARE(got.count("HTTP/1.1 "), 1);
    }

    // Storage that fills up in the middle of an upload: 507, and no file is left.
    void fullDiskLeavesNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("over"); // bytes past what fits
        QTest::newRow("text, the last byte") << u"a.txt"_s << 1;
        QTest::newRow("named pdf") << u"c.pdf"_s << 300000;
        QTest::newRow("markdown, most of it") << u"d.md"_s << 900000;
    }
    void fullDiskLeavesNothing() {
        QFETCH(QString, name);
        QFETCH(int, over);
        // A file size limit stands in for a full disk: writes past it fail as they would.
        constexpr rlim_t room = 1024 * 1024;
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = room;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const int uploadsBefore = filesUnder(m_svc->config.dataDir + u"/uploads"_s);
        int status = 0;
        const QByteArray content(qsizetype(room) + over, 'a');
        const QString boundary = newBoundary();
        auto r = m_svc->post(u"/api/v2/uploadfilepdf"_s, m_alice,
                             clientMultipartBody(boundary, name, content),
                             u"multipart/form-data; boundary="_s + boundary);
        ::setrlimit(RLIMIT_FSIZE, &old);
        status = r ? r->status : -1;
        QCOMPARE(status, 507);
        QCOMPARE(filesUnder(m_svc->config.dataDir + u"/uploads"_s), uploadsBefore);
        QCOMPARE(filesUnder(m_svc->config.dataDir + u"/tmp"_s), 0);
    }

    // Each password check takes 64 MiB; a crowd of failed logins must not
    // take the memory of one check per request.
    void passwordChecksAreBounded() {
        Accounts::setFastHashingForTests(false);
        m_svc->accounts->addUser(u"hashed@example.org"_s, u"right"_s, 1, 0);
        Accounts::setFastHashingForTests(true);
        // Peak memory from here on.
        QVERIFY(writeFile(u"/proc/self/clear_refs"_s, "5"));
        std::vector<std::thread> threads;
        std::atomic<int> unexpected{0}, refused{0};
        for (int i = 0; i < 96; ++i)
            threads.emplace_back([&] {
                auto r = m_svc->post(u"/api/v1/tollan/auth/login"_s, QString(),
                                     R"({"email":"hashed@example.org","password":"wrong"})");
                const int st = r ? r->status : -1;
                refused += st == 401;
                unexpected +=
                    !(st == 401 || st == 429 || (st == 503 && r->has_header("Retry-After")));
            });
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(unexpected.load(), 0);
        QVERIFY(refused.load() > 0);
        const QByteArray status = readFile(u"/proc/self/status"_s);
        const auto m =
            QRegularExpression(u"VmHWM:\\s+(\\d+) kB"_s).match(QString::fromLatin1(status));
        QVERIFY(m.hasMatch());
        QVERIFY2(m.captured(1).toLongLong() < 300 * 1024, qPrintable(m.captured(0)));
    }

    // A text's page count is known only once converted (it reserves one page):
    // two jobs whose results need more pages than the account has together
    // cannot both be charged, and the one refused serves no result.
    void convertedPagesCannotOverdraw() {
        const QString owner = m_svc->addUserAndLogin(u"ten@example.org"_s, 10);
        QString md;
        for (int i = 0; i < 42; ++i)
            md += u"## Section %1\n\n"_s.arg(i) +
                  u"The orchard survey counted trees along the river. "_s.repeated(12) + u"\n\n"_s;
        const QJsonObject up = m_svc->upload(owner, u"long.md"_s, md.toUtf8());
        QCOMPARE(up.value(u"page_number"_s).toInt(-1), 0);
        QStringList ids;
        for (int i = 0; i < 2; ++i) {
            int status = 0;
            ids << m_svc->convert(owner, up, u"MD2PDF"_s, &status).value(u"id"_s).toString();
            QCOMPARE(status, 200);
        }
        QList<int> states;
        qint64 pages = 0;
        for (const QString &id : ids) {
            const QJsonObject job = m_svc->waitForJob(owner, id, 170000);
            states << job.value(u"status"_s).toInt();
            if (states.last() == 1)
                pages = job.value(u"page_number"_s).toInteger();
            else
                QCOMPARE(m_svc->get(u"/api/v2/docx?md5_id="_s + id, owner)->status, 404);
        }
        std::sort(states.begin(), states.end());
        QCOMPARE(states, (QList<int>{1, 2}));
        QVERIFY2(pages > 5 && pages <= 10, qPrintable(QString::number(pages)));
        const QJsonObject bal =
            dataOf(m_svc->get(u"/api/v1/tollan/convertapi/page_balance"_s, owner));
        QCOMPARE(bal.value(u"consumed_pages"_s).toInteger(), pages);
    }

    // Request data cannot forge access log lines or reach a terminal as escapes.
    void logLinesCannotBeForged() {
        Raw c(m_svc->port);
        c.send(
            "GET /x%0A2026-01-01%2000:00:00%20+0000%20127.0.0.1%20forged%1B[2J\x7f%22 HTTP/1.1\r\n"
            "Host: x\r\nConnection: close\r\n\r\n");
        QVERIFY(c.receive(5000).startsWith("HTTP/1.1 404"));
        const QByteArray text = readFile(m_svc->config.dataDir + u"/access.log"_s);
        QVERIFY2(text.contains("/x\\x0a2026"), text.constData());
        for (const QByteArray &line : text.split('\n'))
            QVERIFY2(!line.contains("forged") || line.contains("/x\\x0a"), line.constData());
        for (const char bad : {'\x1b', '\x7f', '\r'})
            QVERIFY(!text.contains(bad));
    }

    // A flood of requests cannot fill the disk: the log is rotated by size, one older
    // file kept, and every line stays whole.
    void accessLogIsBounded() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"access.log"_s);
        {
            quorvel::server::AccessLog log(path, 8192);
            QVERIFY(log.error().isEmpty());
            for (int i = 0; i < 2000; ++i) {
                const QByteArray line = "request " + QByteArray::number(i) + " answered\n";
                log.write(line.constData(), std::size_t(line.size()));
            }
        }
        QVERIFY(QFileInfo(path).size() <= 8192);
        QVERIFY(QFileInfo(path + u".1"_s).size() <= 8192);
        const QList<QByteArray> lines = readFile(path).split('\n');
        QCOMPARE(lines.last(), QByteArray()); // ends with a whole line
        QVERIFY(lines.first().startsWith("request "));
        QCOMPARE(lines[lines.size() - 2], QByteArray("request 1999 answered"));
        QVERIFY(readFile(path + u".1"_s).endsWith(" answered\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestAttacks)
#include "tst_attacks.moc"
