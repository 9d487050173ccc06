#include "ScriptedServer.h"
#include "TestSupport.h"

#include "service/HttpClient.h"
#include "service/Request.h"
#include "service/ServiceError.h"
#include "service/ServiceOrigin.h"
#include "service/TokenStore.h"

#include <QNetworkAccessManager>
#include <QTest>

#include <QCoroTask>

using namespace quorvel;
using namespace quorvel::test;

class TestRequest : public QObject {
    Q_OBJECT
    ScriptedServer m_server;
    std::unique_ptr<TestEnvironment> m_env;

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<TestEnvironment>(m_server.origin()); }
    void init() {
        TokenStore::remove();
        qputenv("QUORVEL_API_ORIGIN", m_server.origin().toUtf8());
        m_server.clearScripts();
        m_server.clearRequests();
    }

    void originRules_data() {
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<bool>("refused");
        QTest::newRow("loopback http") << "http://127.0.0.1:8740"
                                       << "http://127.0.0.1:8740" << false;
        QTest::newRow("trailing slash") << "http://127.0.0.1:8740/"
                                        << "http://127.0.0.1:8740" << false;
        QTest::newRow("localhost") << "http://localhost:9000"
                                   << "http://localhost:9000" << false;
        QTest::newRow("loopback range") << "http://127.8.9.10"
                                        << "http://127.8.9.10" << false;
        QTest::newRow("ipv6 loopback") << "http://[::1]:8740"
                                       << "http://[::1]:8740" << false;
        QTest::newRow("https remote") << "https://convert.example.com"
                                      << "https://convert.example.com" << false;
        QTest::newRow("http remote") << "http://convert.example.com"
                                     << "" << true;
        QTest::newRow("http private range") << "http://192.168.1.5:8740"
                                            << "" << true;
        QTest::newRow("localhost lookalike") << "http://localhost.example.com"
                                             << "" << true;
        QTest::newRow("with path") << "https://convert.example.com/api"
                                   << "" << true;
        QTest::newRow("other scheme") << "ftp://127.0.0.1"
                                      << "" << true;
        QTest::newRow("not a url") << "convert"
                                   << "" << true;
        QTest::newRow("empty") << ""
                               << "" << true;
    }
    void originRules() {
        QFETCH(QString, configured);
        QFETCH(QString, origin);
        QFETCH(bool, refused);
        const OriginResolution r = resolveOrigin(configured);
        QCOMPARE(r.origin, origin);
        QCOMPARE(!r.problem.isEmpty(), refused);
        if (refused)
            QVERIFY(r.problem.contains(configured));
    }

    void environmentOverridesBuiltIn() {
        qputenv("QUORVEL_API_ORIGIN", "https://svc.example.org");
        QCOMPARE(apiBase(), QStringLiteral("https://svc.example.org/api"));
        qputenv("QUORVEL_API_ORIGIN", "http://svc.example.org");
        QCOMPARE(apiBase(), QString());
        // A refused origin builds no request at all, so no token can leave in clear.
        LogCapture log;
        QVERIFY(!createRequest(QStringLiteral("/v1/tollan/auth/me"), "GET"));
        QVERIFY(log.lines().isEmpty());
        qunsetenv("QUORVEL_API_ORIGIN");
        QCOMPARE(apiBase(), builtInOrigin() + QStringLiteral("/api"));
    }

    void headersAndLogLines_data() {
        QTest::addColumn<QVariant>("token");
        QTest::addColumn<QString>("authorization");
        QTest::addColumn<QString>("headersLine");
        QTest::newRow("no token")
            << QVariant() << QString()
            << R"(🔑 Headers: ["Content-Type": "application/json", "Accept": "application/json"])";
        QTest::newRow("empty token")
            << QVariant(QString()) << QStringLiteral("Bearer ")
            << R"(🔑 Headers: ["Content-Type": "application/json", "Accept": "application/json", "Authorization": "Bearer "])";
        QTest::newRow("token shortened in the log")
            << QVariant(QStringLiteral("abcdef0123456789"))
            << QStringLiteral("Bearer abcdef0123456789")
            << R"(🔑 Headers: ["Content-Type": "application/json", "Accept": "application/json", "Authorization": "Bearer abcdef…"])";
    }
    void headersAndLogLines() {
        QFETCH(QVariant, token);
        QFETCH(QString, authorization);
        QFETCH(QString, headersLine);
        if (token.isValid())
            TokenStore::write(token.toString());
        LogCapture log;
        const auto request = createRequest(QStringLiteral("/v1/tollan/convert/all"), "GET");
        QVERIFY(request);
        QCOMPARE(request->request.rawHeader("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request->request.rawHeader("Accept"), QByteArray("application/json"));
        QCOMPARE(request->request.hasRawHeader("Authorization"), token.isValid());
        QCOMPARE(QString::fromUtf8(request->request.rawHeader("Authorization")), authorization);
        QCOMPARE(request->timeoutMs, 30'000);
        QCOMPARE(request->request.attribute(QNetworkRequest::CacheLoadControlAttribute).toInt(),
                 int(QNetworkRequest::AlwaysNetwork));
        // A GET has no body line.
        QCOMPARE(log.lines(), (QStringList{
                                  QStringLiteral("🌐 Request URL: ") + m_server.origin() +
                                      QStringLiteral("/api/v1/tollan/convert/all"),
                                  QStringLiteral("📝 Request method: GET"),
                                  headersLine,
                              }));
    }

    void bodyLine_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("line");
        QTest::newRow("utf-8") << QByteArray("{\"a\":\"é中\"}")
                               << QStringLiteral("📦 Request body: {\"a\":\"é中\"}");
        QTest::newRow("not utf-8")
            << QByteArray("\xff\xfe\x00x", 4) << QStringLiteral("📦 Request body: nil");
        QTest::newRow("empty") << QByteArray() << QStringLiteral("📦 Request body: ");
    }
    void bodyLine() {
        QFETCH(QByteArray, body);
        QFETCH(QString, line);
        LogCapture log;
        const auto request = createRequest(QStringLiteral("/v1/tollan/convert"), "POST", body);
        QVERIFY(request && request->body);
        QCOMPARE(*request->body, body);
        QCOMPARE(log.lines().value(0), line);
        QCOMPARE(log.lines().size(), 4);
    }

    void tokenIsReadAtBuildTime() {
        TokenStore::write(QStringLiteral("first"));
        const auto a = createRequest(QStringLiteral("/x"), "GET");
        TokenStore::write(QStringLiteral("second"));
        const auto b = createRequest(QStringLiteral("/x"), "GET");
        QCOMPARE(a->request.rawHeader("Authorization"), QByteArray("Bearer first"));
        QCOMPARE(b->request.rawHeader("Authorization"), QByteArray("Bearer second"));
    }

    void tokenFileIsPrivate() {
        TokenStore::write(QStringLiteral("secret-token"));
        const QFile::Permissions p = QFile::permissions(TokenStore::filePath());
        QVERIFY(p & QFile::ReadOwner);
        QVERIFY(
            !(p & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther)));
        QCOMPARE(TokenStore::read().value_or(QString()), QStringLiteral("secret-token"));
        TokenStore::remove();
        QVERIFY(!TokenStore::read());
    }

    void idIsOneSegment_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("plain") << "job-1" << QByteArray("/api/v1/tollan/convert/job-1");
        QTest::newRow("slash") << "../all" << QByteArray("/api/v1/tollan/convert/..%2Fall");
        QTest::newRow("query") << "a?b=c" << QByteArray("/api/v1/tollan/convert/a%3Fb%3Dc");
        QTest::newRow("fragment") << "a#b" << QByteArray("/api/v1/tollan/convert/a%23b");
        QTest::newRow("unicode") << "任务"
                                 << QByteArray("/api/v1/tollan/convert/%E4%BB%BB%E5%8A%A1");
    }
    void idIsOneSegment() {
        QFETCH(QString, id);
        QFETCH(QByteArray, target);
        m_server.script("GET", target, {ScriptedResponse::json(200, "{}")});
        LogCapture log;
        auto request =
            createRequest(QStringLiteral("/v1/tollan/convert/") + encodeIdForPath(id), "GET");
        QVERIFY(request);
        const HttpResponse response = await(send(sharedSession(), *request));
        QCOMPARE(response.status, 200);
        QCOMPARE(m_server.requests().last().target, target);
    }

    // What reaches the wire: headers exactly as built.
    void wireHeaders() {
        TokenStore::write(QStringLiteral("tok"));
        m_server.script("GET", "/api/v1/tollan/auth/me", {ScriptedResponse::json(200, "{}")});
        LogCapture log;
        auto request = createRequest(QStringLiteral("/v1/tollan/auth/me"), "GET");
        await(send(sharedSession(), *request));
        const ReceivedRequest r = m_server.requests().last();
        QCOMPARE(r.method, QByteArray("GET"));
        QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(r.header("Accept"), QByteArray("application/json"));
        QCOMPARE(r.header("Authorization"), QByteArray("Bearer tok"));
    }

    void transportFailures_data() {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<qint64>("code");
        QTest::newRow("dropped connection")
            << int(ScriptedResponse::Action::Drop) << 5000 << qint64(-1005);
        QTest::newRow("dropped mid-body")
            << int(ScriptedResponse::Action::DropMidBody) << 5000 << qint64(-1005);
        QTest::newRow("no answer: our timeout")
            << int(ScriptedResponse::Action::Hang) << 300 << qint64(-1001);
    }
    void transportFailures() {
        QFETCH(int, action);
        QFETCH(int, timeoutMs);
        QFETCH(qint64, code);
        ScriptedResponse r = ScriptedResponse::json(200, QByteArray(4000, 'x'));
        r.action = ScriptedResponse::Action(action);
        m_server.script("GET", "/api/v1/tollan/convert/all", {r});
        LogCapture log;
        auto request = createRequest(QStringLiteral("/v1/tollan/convert/all"), "GET");
        request->timeoutMs = timeoutMs;
        try {
            await(send(sharedSession(), *request));
            QFAIL("a failed transfer must throw");
        } catch (const ServiceError &e) {
            QCOMPARE(e.family(), ServiceError::Family::Transport);
            QCOMPARE(e.domain(), ServiceError::kUrlErrorDomain);
            QCOMPARE(e.code(), code);
            QVERIFY(!e.description().isEmpty());
        }
    }

    void connectionRefused() {
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            closedPort = probe.serverPort();
        }
        qputenv("QUORVEL_API_ORIGIN",
                QStringLiteral("http://127.0.0.1:%1").arg(closedPort).toUtf8());
        LogCapture log;
        auto request = createRequest(QStringLiteral("/v1/tollan/auth/me"), "GET");
        QVERIFY_THROWS_EXCEPTION(ServiceError, await(send(sharedSession(), *request)));
        try {
            await(send(sharedSession(), *request));
        } catch (const ServiceError &e) {
            QCOMPARE(e.code(), qint64(-1004));
        }
    }

    void statusesAreAnswers_data() {
        QTest::addColumn<int>("status");
        for (int s : {200, 201, 204, 301, 400, 401, 402, 404, 413, 500, 503})
            QTest::newRow(qPrintable(QString::number(s))) << s;
    }
    void statusesAreAnswers() {
        QFETCH(int, status);
        m_server.script("GET", "/api/x",
                        {ScriptedResponse::json(status, status == 204 ? "" : "body")});
        LogCapture log;
        auto request = createRequest(QStringLiteral("/x"), "GET");
        const HttpResponse response = await(send(sharedSession(), *request));
        QVERIFY(response.isHttp);
        QCOMPARE(response.status, status);
    }

    // A redirect within the service's origin is followed with the token; one to another
    // origin is refused before anything reaches it.
    void redirects() {
        ScriptedServer elsewhere;
        TokenStore::write(QStringLiteral("tok-redirect"));
        ScriptedResponse moved = ScriptedResponse::json(302, "");
        moved.headers.append({"Location", m_server.origin().toUtf8() + "/api/new"});
        m_server.script("GET", "/api/old", {moved});
        m_server.script("GET", "/api/new", {ScriptedResponse::json(200, "here")});
        moved.headers.last().second = elsewhere.origin().toUtf8() + "/api/new";
        m_server.script("GET", "/api/away", {moved});
        LogCapture log;

        const HttpResponse followed = await(send(sharedSession(), *createRequest("/old", "GET")));
        QCOMPARE(followed.status, 200);
        QCOMPARE(followed.body, QByteArray("here"));
        QCOMPARE(m_server.requests().last().header("Authorization"),
                 QByteArray("Bearer tok-redirect"));

        try {
            await(send(sharedSession(), *createRequest("/away", "GET")));
            QFAIL("a redirect to another origin was followed");
        } catch (const ServiceError &e) {
            QVERIFY2(e.domain().startsWith("Redirect to another origin refused"),
                     qPrintable(e.domain()));
        }
        QCOMPARE(elsewhere.requestCount(), 0);
    }

    void largeBodyArrivesWhole() {
        QByteArray big(6 * 1024 * 1024, 'a');
        for (int i = 0; i < big.size(); i += 4096)
            big[i] = char('a' + (i / 4096) % 26);
        m_server.script("GET", "/api/big", {ScriptedResponse::json(200, big)});
        LogCapture log;
        auto request = createRequest(QStringLiteral("/big"), "GET");
        const HttpResponse response = await(send(sharedSession(), *request));
        QCOMPARE(response.body.size(), big.size());
        QVERIFY(response.body == big);
    }

    void transportTable_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("code");
        using E = QNetworkReply::NetworkError;
        QTest::newRow("refused") << int(E::ConnectionRefusedError) << -1004;
        QTest::newRow("closed") << int(E::RemoteHostClosedError) << -1005;
        QTest::newRow("host not found") << int(E::HostNotFoundError) << -1003;
        QTest::newRow("timeout") << int(E::TimeoutError) << -1001;
        QTest::newRow("offline") << int(E::TemporaryNetworkFailureError) << -1009;
        QTest::newRow("unsupported url") << int(E::ProtocolUnknownError) << -1002;
        QTest::newRow("tls") << int(E::SslHandshakeFailedError) << -1200;
    }
    void transportTable() {
        QFETCH(int, error);
        QFETCH(int, code);
        const ServiceError e =
            ServiceError::transport(QNetworkReply::NetworkError(error), QStringLiteral("qt text"));
        QCOMPARE(e.code(), qint64(code));
        QCOMPARE(e.description(), QStringLiteral("qt text"));
        QCOMPARE(
            ServiceError::transport(QNetworkReply::NetworkError(error), QString(), true).code(),
            qint64(-1001));
    }
};

QTEST_GUILESS_MAIN(TestRequest)
#include "tst_request.moc"
