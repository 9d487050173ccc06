#include "ClientTest.h"

#include "service/HttpClient.h"
#include "service/Request.h"
#include "service/ServiceError.h"
#include "service/ServiceOrigin.h"

#include <QNetworkAccessManager>
#include <QTest>

#include <QCoroTask>

using namespace quorvel;
using namespace quorvel::test;

class TestRequest : public QObject {
    Q_OBJECT
    ScriptedService m_server;

private Q_SLOTS:
    void init() { m_server.reset(); }

    void originRules() {
        // Accepted as they are (a trailing slash dropped): https anywhere, http only on loopback.
        for (const QString origin :
             {"http://127.0.0.1:8740", "http://localhost:9000", "http://127.8.9.10",
              "http://[::1]:8740", "https://convert.example.com"}) {
            QCOMPARE(resolveOrigin(origin).origin, origin);
            QCOMPARE(resolveOrigin(origin + "/").origin, origin);
            QVERIFY(resolveOrigin(origin).problem.isEmpty());
        }
        for (const QString refused :
             {"http://convert.example.com", "http://192.168.1.5:8740",
              "http://localhost.example.com", "https://convert.example.com/api", "ftp://127.0.0.1",
              "convert", ""}) {
            const OriginResolution r = resolveOrigin(refused);
            QCOMPARE(r.origin, QString());
            QVERIFY2(r.problem.contains(refused), qPrintable(r.problem));
        }
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

    void idIsOneSegment_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("plain") << "job-1" << QByteArray("/api/v1/tollan/convert/job-1");
        QTest::newRow("slash") << "../all" << QByteArray("/api/v1/tollan/convert/..%2Fall");
        QTest::newRow("query") << "a?b=c" << QByteArray("/api/v1/tollan/convert/a%3Fb%3Dc");
        QTest::newRow("unicode") << "任务"
                                 << QByteArray("/api/v1/tollan/convert/%E4%BB%BB%E5%8A%A1");
    }
    void idIsOneSegment() {
        QFETCH(QString, id);
        QFETCH(QByteArray, target);
        m_server.answer("GET", target, 200, "{}");
        LogCapture log;
        auto request =
            createRequest(QStringLiteral("/v1/tollan/convert/") + encodeIdForPath(id), "GET");
        QVERIFY(request);
        const HttpResponse response = await(send(sharedSession(), *request));
        QCOMPARE(response.status, 200);
        QCOMPARE(m_server.requests().last().target, target);
    }

    void transportFailures_data() {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<qint64>("code");
        QTest::newRow("refused connection") << -1 << 5000 << qint64(-1004);
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
        m_server.script(
            "GET", "/api/v1/tollan/convert/all",
            {acting(ScriptedResponse::Action(qMax(action, 0)), 200, QByteArray(4000, 'x'))});
        if (action < 0) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            qputenv("QUORVEL_API_ORIGIN",
                    QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()).toUtf8());
        }
        LogCapture log;
        auto request = createRequest(QStringLiteral("/v1/tollan/convert/all"), "GET");
        request->timeoutMs = timeoutMs;
        const auto out = finish(send(sharedSession(), *request));
        QVERIFY2(out->error, "a failed transfer must raise");
        QCOMPARE(out->error->family(), ServiceError::Family::Transport);
        QCOMPARE(out->error->domain(), ServiceError::kUrlErrorDomain);
        QCOMPARE(out->error->code(), code);
        QVERIFY(!out->error->description().isEmpty());
    }

    void statusesAreAnswers_data() {
        QTest::addColumn<int>("status");
        for (int s : {200, 201, 204, 301, 400, 401, 402, 404, 413, 500, 503})
            QTest::newRow(qPrintable(QString::number(s))) << s;
    }
    void statusesAreAnswers() {
        QFETCH(int, status);
        m_server.answer("GET", "/api/x", status, status == 204 ? "" : "body");
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
        m_server.answer("GET", "/api/new", 200, "here");
        moved.headers.last().second = elsewhere.origin().toUtf8() + "/api/new";
        m_server.script("GET", "/api/away", {moved});
        LogCapture log;

        const HttpResponse followed = await(send(sharedSession(), *createRequest("/old", "GET")));
        QCOMPARE(followed.status, 200);
        QCOMPARE(followed.body, QByteArray("here"));
        QCOMPARE(m_server.requests().last().header("Authorization"),
                 QByteArray("Bearer tok-redirect"));

        const auto away = finish(send(sharedSession(), *createRequest("/away", "GET")));
        QVERIFY2(away->error, "a redirect to another origin was followed");
        QVERIFY2(away->error->domain().startsWith("Redirect to another origin refused"),
                 qPrintable(away->error->domain()));
        QCOMPARE(elsewhere.requestCount(), 0);
    }

    void largeBodyArrivesWhole() {
        QByteArray big(6 * 1024 * 1024, 'a');
        for (int i = 0; i < big.size(); i += 4096)
            big[i] = char('a' + (i / 4096) % 26);
        m_server.answer("GET", "/api/big", 200, big);
        LogCapture log;
        auto request = createRequest(QStringLiteral("/big"), "GET");
        // Past a record answer's cap, as a history is.
        request->applyLimits(answerLimits(AnswerKind::History));
        const HttpResponse response = await(send(sharedSession(), *request));
        QCOMPARE(response.body.size(), big.size());
        QVERIFY(response.body == big);
    }

    // Qt's transfer errors in the codes the window shows; a timeout of ours wins over any.
    void transportTable() {
        using E = QNetworkReply::NetworkError;
        const QList<QPair<E, int>> table{{E::ConnectionRefusedError, -1004},
                                         {E::RemoteHostClosedError, -1005},
                                         {E::HostNotFoundError, -1003},
                                         {E::TimeoutError, -1001},
                                         {E::TemporaryNetworkFailureError, -1009},
                                         {E::ProtocolUnknownError, -1002},
                                         {E::SslHandshakeFailedError, -1200}};
        for (const auto &[error, code] : table) {
            const ServiceError e = ServiceError::transport(error, QStringLiteral("qt text"));
            QCOMPARE(e.code(), qint64(code));
            QCOMPARE(e.description(), QStringLiteral("qt text"));
            QCOMPARE(ServiceError::transport(error, QString(), true).code(), qint64(-1001));
        }
    }
};

QTEST_GUILESS_MAIN(TestRequest)
#include "tst_request.moc"
