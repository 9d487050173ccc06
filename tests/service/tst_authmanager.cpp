#include "ClientTest.h"

#include "service/AuthManager.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

using namespace quorvel;
using namespace quorvel::test;

namespace {

const QByteArray kToken = "tok_0123456789abcdef0123456789abcdef";
const QByteArray kLoginOk =
    R"({"code":0,"msg":"ok","data":{"token":"tok_0123456789abcdef0123456789abcdef"}})";

QByteArray userInfoBody(const QByteArray &email, bool lifetime = false) {
    return R"({"code":0,"msg":"ok","data":{"email":")" + email + R"(","is_lifetimedeal_member":)" +
           (lifetime ? "true" : "false") +
           R"(,"lifetime_member_description":"ld","page_balcance_description":"pd","lft_daily_usage":1,"lft_daily_total":5}})";
}

const QByteArray kBalanceBody =
    R"({"code":0,"msg":"ok","data":{"total_pages":100,"consumed_pages":30}})";

} // namespace

class TestAuthManager : public QObject {
    Q_OBJECT
    ScriptedService m_server;

    void scriptAccount(const QByteArray &meBody = userInfoBody("a@b.c")) {
        m_server.answer("POST", kLogin, 200, kLoginOk);
        m_server.answer("GET", kMe, 200, meBody);
        m_server.answer("GET", kBalance, 200, kBalanceBody);
    }

private Q_SLOTS:
    void init() { m_server.reset(); }

    void loginStoresTokenAndLoadsAccount() {
        scriptAccount();
        AuthManager auth;
        QVERIFY(!auth.isLoggedIn());
        QSignalSpy loggedIn(&auth, &AuthManager::isLoggedInChanged);
        LogCapture log;
        await(auth.login(QStringLiteral("a@b.c"), QStringLiteral("pa\"ss wörd")));

        QCOMPARE(TokenStore::read().value_or(QString()), QString::fromLatin1(kToken));
        QVERIFY(auth.isLoggedIn());
        QCOMPARE(loggedIn.count(), 1);
        QCOMPARE(auth.currentUser()->email, QStringLiteral("a@b.c"));
        QCOMPARE(auth.currentUser()->id, QString());
        QCOMPARE(auth.userInfo()->page_balcance_description, QStringLiteral("pd"));
        QCOMPARE(auth.pageBalance()->consumed_pages, 30);
        QVERIFY(!auth.hasError());

        // The wire carries the password; the log never does, nor the whole token.
        const ReceivedRequest login = m_server.requestsTo("POST", kLogin).value(0);
        const QJsonObject sent = QJsonDocument::fromJson(login.body).object();
        QCOMPARE(sent.value("password").toString(), QStringLiteral("pa\"ss wörd"));
        QCOMPARE(sent.value("email").toString(), QStringLiteral("a@b.c"));
        QCOMPARE(sent.size(), 2);
        for (const QString &line : log.lines()) {
            QVERIFY2(!line.contains(QStringLiteral("wörd")), qPrintable(line));
            QVERIFY2(!line.contains(QString::fromLatin1(kToken)), qPrintable(line));
        }
        // The later calls carry the new token.
        QCOMPARE(m_server.requestsTo("GET", kMe).value(0).header("Authorization"),
                 "Bearer " + kToken);

        const QString url = m_server.origin() + QString::fromLatin1(kLogin);
        const char *headers =
            R"(🔑 Headers: ["Content-Type": "application/json", "Accept": "application/json"])";
        const QStringList expectedInOrder = {
            "=------------------------------------------ a@b.c ********",
            R"(📝 Login data: ["email": "a@b.c", "password": "********"])",
            R"(📦 Serialized body: {"email":"a@b.c","password":"********"})",
            R"(📦 Request body: {"email":"a@b.c","password":"********"})",
            "🌐 Request URL: " + url,
            "📝 Request method: POST",
            headers,
            "=11------------------------------------------",
            "🌐 Final request: " + url,
            "📝 Method: POST",
            headers,
            R"(📦 Body: {"email":"a@b.c","password":"********"})",
        };
        QCOMPARE(log.lines().mid(0, expectedInOrder.size()), expectedInOrder);
        qsizetype at =
            log.indexOfPrefix(QStringLiteral("======================================== "));
        QVERIFY(at > 0);
        QCOMPARE(log.lines().value(at + 1), QStringLiteral("📥 Response status code: 200"));
        QVERIFY(log.lines().value(at + 2).startsWith(QStringLiteral("📦 Response headers: [")));
        QCOMPARE(
            log.lines().value(at + 3),
            QStringLiteral(R"(📄 Response body: {"code":0,"msg":"ok","data":{"token":"tok_01…"}})"));
        QCOMPARE(log.lines().value(at + 4),
                 QStringLiteral("✅ Successfully decoded login response"));
        QCOMPARE(log.lines().value(at + 5), QStringLiteral("📝 Token: tok_01…"));
        QCOMPARE(log.lines().value(at + 6), QStringLiteral("【=================】"));
        QVERIFY(log.indexOfPrefix(QStringLiteral(">>>>>>>>>>>>>>>>>>>>>.: UserInfoResponse(")) >
                at);
        QVERIFY(log.indexOf(QStringLiteral("🔑 用户不是终身会员")) > at);
    }

    void loginFailuresChangeNothing_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<qint64>("code");
        QTest::addColumn<QString>("classification");
        QTest::addColumn<QString>("message");
        const int respond = int(ScriptedResponse::Action::Respond);
        QTest::newRow("wrong password")
            << 401 << QByteArray(R"({"code":401,"msg":"bad"})") << respond << "Invalid credentials"
            << qint64(401)
            << "❌ Error: The operation couldn’t be completed. (Invalid credentials error 401.)"
            << "Invalid email or password";
        QTest::newRow("server error")
            << 500 << QByteArray("boom") << respond << "Login failed" << qint64(500)
            << "❌ Error: The operation couldn’t be completed. (Login failed error 500.)"
            << "Login failed: The operation couldn’t be completed. (Login failed error 500.)";
        QTest::newRow("envelope without msg")
            << 200 << QByteArray(R"({"code":0,"data":{"token":"t"}})") << respond
            << "NSCocoaErrorDomain" << qint64(4865)
            << "❌ Error: The data couldn’t be read because it is missing."
            << "Login failed: The data couldn’t be read because it is missing.";
        QTest::newRow("html instead of json")
            << 200 << QByteArray("<html>proxy</html>") << respond << "NSCocoaErrorDomain"
            << qint64(4864)
            << "❌ Error: The data couldn’t be read because it isn’t in the correct format."
            << "Login failed: The data couldn’t be read because it isn’t in the correct format.";
        QTest::newRow("dropped connection")
            << 200 << kLoginOk << int(ScriptedResponse::Action::Drop) << "NSURLErrorDomain"
            << qint64(-1005) << "❌ Network connection lost"
            << "";
        QTest::newRow("no answer") << 200 << kLoginOk << int(ScriptedResponse::Action::Hang)
                                   << "NSURLErrorDomain" << qint64(-1001) << "❌ Request timed out"
                                   << "Login failed: The request timed out.";
    }
    void loginFailuresChangeNothing() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, action);
        QFETCH(QString, domain);
        QFETCH(qint64, code);
        QFETCH(QString, classification);
        QFETCH(QString, message);
        m_server.script("POST", kLogin, {acting(ScriptedResponse::Action(action), status, body)});
        AuthManager auth;
        auth.loginRequestTimeoutMs = 400;
        QSignalSpy anyChange(&auth, &AuthManager::isLoggedInChanged);
        QSignalSpy userChange(&auth, &AuthManager::currentUserChanged);
        QSignalSpy errorChange(&auth, &AuthManager::errorChanged);
        LogCapture log;
        const auto out = finish(auth.login(QStringLiteral("a@b.c"), QStringLiteral("pw")));
        QVERIFY2(out->error, "login must fail");
        QCOMPARE(out->error->domain(), domain);
        QCOMPARE(out->error->code(), code);
        if (!message.isEmpty())
            QCOMPARE(loginFailureMessage(*out->error), message);
        QVERIFY(!TokenStore::read());
        QVERIFY(!auth.isLoggedIn());
        QVERIFY(!auth.currentUser());
        QVERIFY(!auth.hasError());
        QCOMPARE(anyChange.count() + userChange.count() + errorChange.count(), 0);
        // The me and balance calls are never made after a failed login.
        QCOMPARE(m_server.requestsTo("GET", "/api/").size(), 0);

        const qsizetype report = log.indexOf(QStringLiteral("❌ Error details:"));
        QVERIFY(report > 0);
        QCOMPARE(log.lines().value(report + 1), QStringLiteral("   Domain: ") + domain);
        QCOMPARE(log.lines().value(report + 2),
                 QStringLiteral("   Code: ") + QString::number(code));
        QVERIFY(log.lines().value(report + 3).startsWith(QStringLiteral("   Description: ")));
        QCOMPARE(log.lines().value(report + 4), classification);
        if (status == 500)
            QVERIFY(log.indexOf(QStringLiteral("📄 Response body: boom")) < report);
        if (code == 4865) {
            QVERIFY(log.lines()
                        .value(report - 1)
                        .startsWith(QStringLiteral("❌ Key not found: msg - No value")));
            QVERIFY(log.indexOfPrefix(QStringLiteral("❌ Decoding error: keyNotFound(")) > 0);
        }
        if (code == 4864)
            QVERIFY(log.lines().value(report - 1).startsWith(QStringLiteral("❌ Data corrupted: ")));
    }

    void nonUtf8AnswerHasNoBodyLine() {
        m_server.answer("POST", kLogin, 500, QByteArray("\xff\xfe", 2));
        AuthManager auth;
        LogCapture log;
        QVERIFY_THROWS_EXCEPTION(ServiceError,
                                 await(auth.login(QStringLiteral("a"), QStringLiteral("b"))));
        QCOMPARE(log.indexOfPrefix(QStringLiteral("📄 Response body:")), -1);
        QVERIFY(log.indexOf(QStringLiteral("📥 Response status code: 500")) > 0);
    }

    void refusedOriginBuildsNoRequest() {
        qputenv("QUORVEL_API_ORIGIN", "http://convert.example.com");
        AuthManager auth;
        LogCapture log;
        const auto out = finish(auth.login(QStringLiteral("a@b.c"), QStringLiteral("pw")));
        QVERIFY2(out->error, "must fail");
        QCOMPARE(out->error->domain(), QStringLiteral("Invalid URL"));
        QCOMPARE(out->error->code(), -1);
        QCOMPARE(loginFailureMessage(*out->error),
                 QStringLiteral("Network error. Please try again."));
        QCOMPARE(log.lines().last(), QStringLiteral("❌ Failed to create request"));
        QCOMPARE(m_server.requestCount(), 0);
    }

    void meFailureAfterGoodLogin() {
        scriptAccount();
        m_server.answer("GET", kMe, 500, "down");
        AuthManager auth;
        LogCapture log;
        await(auth.login(QStringLiteral("a@b.c"), QStringLiteral("pw")));
        QVERIFY(auth.isLoggedIn());
        QCOMPARE(auth.currentUser()->email, QStringLiteral("a@b.c"));
        QVERIFY(!auth.userInfo());
        QCOMPARE(
            auth.errorText(),
            QStringLiteral("The operation couldn’t be completed. (Invalid response error -1.)"));
        QVERIFY(log.indexOfPrefix(QStringLiteral(
                    "Error fetching user info: Error Domain=Invalid response Code=-1")) > 0);
        QVERIFY(auth.pageBalance()); // the balance is still fetched
    }

    void serviceLetterCaseWins_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("served");
        QTest::addColumn<int>("userChanges");
        QTest::newRow("same") << "a@b.c" << QByteArray("a@b.c") << 1;
        QTest::newRow("other case") << "Alice@Example.COM" << QByteArray("alice@example.com") << 2;
    }
    void serviceLetterCaseWins() {
        QFETCH(QString, typed);
        QFETCH(QByteArray, served);
        QFETCH(int, userChanges);
        scriptAccount(userInfoBody(served, true));
        AuthManager auth;
        QSignalSpy changes(&auth, &AuthManager::currentUserChanged);
        LogCapture log;
        await(auth.login(typed, QStringLiteral("pw")));
        QCOMPARE(auth.currentUser()->email, QString::fromUtf8(served));
        QCOMPARE(changes.count(), userChanges);
        QVERIFY(log.indexOf(QStringLiteral("🔑 用户是终身会员")) > 0);
        const QJsonObject sent = QJsonDocument::fromJson(m_server.requests().first().body).object();
        QCOMPARE(sent.value("email").toString(), typed); // sent as typed
    }

    void restoreWithUnreachableService() {
        TokenStore::write(QString::fromLatin1(kToken));
        const quint16 closedPort = [] {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            return probe.serverPort();
        }();
        qputenv("QUORVEL_API_ORIGIN",
                QStringLiteral("http://127.0.0.1:%1").arg(closedPort).toUtf8());
        LogCapture log;
        AuthManager auth;
        QVERIFY(auth.isLoggedIn()); // at once, before any answer
        QSignalSpy finished(&auth, &AuthManager::restoreFinished);
        QVERIFY(finished.wait(5000));
        QVERIFY(!auth.currentUser());
        QVERIFY(!auth.userInfo());
        QVERIFY(!auth.pageBalance());
        QVERIFY(auth.hasError());
        QVERIFY(!auth.errorText().isEmpty());
        QCOMPARE(log.lines().first(), QStringLiteral("🔄 加载已保存的用户信息，令牌: tok_01…"));
        QVERIFY(auth.isLoggedIn());
    }

    // A front end without the start-up fetch holds the token and sends nothing.
    void startupFetchCanBeLeftOut() {
        TokenStore::write(QString::fromLatin1(kToken));
        scriptAccount();
        LogCapture log;
        AuthManager quiet(AuthManager::StartupFetch::None);
        QVERIFY(quiet.isLoggedIn());
        QVERIFY(!quiet.restoreRunning());
        AuthManager restoring;
        QVERIFY(restoring.restoreRunning());
        QSignalSpy finished(&restoring, &AuthManager::restoreFinished);
        QVERIFY(finished.wait(10'000));
        QVERIFY(restoring.userInfo());
        QVERIFY(!quiet.userInfo());
        QCOMPARE(m_server.requestsTo("GET", kMe).size(), 1);
    }

    void refusedTokenOnlySetsError() {
        scriptAccount();
        AuthManager auth;
        LogCapture log;
        await(auth.login(QStringLiteral("a@b.c"), QStringLiteral("pw")));
        const UserInfoData before = *auth.userInfo();
        const PageBalanceData balanceBefore = *auth.pageBalance();
        m_server.answer("GET", kMe, 401, "{}");
        m_server.answer("GET", kBalance, 200,
                        R"({"code":0,"msg":"","data":{"total_pages":"many"}})");
        QSignalSpy info(&auth, &AuthManager::userInfoChanged);
        QSignalSpy balance(&auth, &AuthManager::pageBalanceChanged);
        await(auth.fetchUserInfo());
        QCOMPARE(
            auth.errorText(),
            QStringLiteral("The operation couldn’t be completed. (Invalid response error -1.)"));
        await(auth.fetchPageBalance());
        QCOMPARE(
            auth.errorText(),
            QStringLiteral("The data couldn’t be read because it isn’t in the correct format."));
        QVERIFY(log.indexOfPrefix(QStringLiteral("Error fetching page balance: typeMismatch(Int")) >
                0);
        QCOMPARE(info.count(), 0);
        QCOMPARE(balance.count(), 0);
        QCOMPARE(*auth.userInfo(), before);
        QCOMPARE(*auth.pageBalance(), balanceBefore);
        QVERIFY(auth.isLoggedIn());

        // Logout forgets the account but keeps the last error text.
        auth.logout();
        QVERIFY(!auth.isLoggedIn());
        QVERIFY(!auth.currentUser() && !auth.userInfo() && !auth.pageBalance());
        QVERIFY(!TokenStore::read());
        QCOMPARE(
            auth.errorText(),
            QStringLiteral("The data couldn’t be read because it isn’t in the correct format."));
    }

    void destroyedWhileFetching() {
        scriptAccount();
        ScriptedResponse slow = ScriptedResponse::json(200, userInfoBody("a@b.c"));
        slow.delayMs = 200;
        m_server.script("GET", kMe, {slow});
        LogCapture log;
        auto *auth = new AuthManager;
        auto task = auth->fetchUserInfo();
        delete auth;
        await(std::move(task)); // ends without touching the deleted object
        QVERIFY(log.indexOfPrefix(QStringLiteral(">>>>>>>>>>>>>>>>>>>>>.: ")) >= 0);
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "tst_authmanager.moc"
