#include "ScriptedServer.h"
#include "TestSupport.h"

#include "conversion/PDFViewModel.h"
#include "service/AuthManager.h"
#include "service/TokenStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <QCoroTask>

using namespace quorvel;
using namespace quorvel::test;

namespace {
const QByteArray kMe = "/api/v1/tollan/auth/me";
const QByteArray kHistory = "/api/v1/tollan/convert/all";
} // namespace

// What the core offers a front end besides the desktop window: an account object
// without the start-up fetch, and a report of a history fetch that failed.
class TestFrontendHooks : public QObject {
    Q_OBJECT
    ScriptedServer m_server;
    std::unique_ptr<TestEnvironment> m_env;

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<TestEnvironment>(m_server.origin()); }
    void init() {
        TokenStore::write(QStringLiteral("tok-hooks"));
        m_server.clearScripts();
        m_server.clearRequests();
    }

    // Holding the token without loading the account: signed in, nothing sent.
    void startupFetch() {
        const QByteArray me =
            QJsonDocument(QJsonObject{{"code", 0},
                                      {"msg", "ok"},
                                      {"data", QJsonObject{{"email", "ann@example.com"},
                                                           {"is_lifetimedeal_member", false},
                                                           {"lifetime_member_description", ""},
                                                           {"page_balcance_description", ""},
                                                           {"lft_daily_usage", 0},
                                                           {"lft_daily_total", 0}}}})
                .toJson(QJsonDocument::Compact);
        m_server.script("GET", kMe, {ScriptedResponse::json(200, me)});
        LogCapture log;
        AuthManager quiet(AuthManager::StartupFetch::None);
        QVERIFY(quiet.isLoggedIn());
        QVERIFY(!quiet.restoreRunning());
        AuthManager restoring;
        QVERIFY(restoring.isLoggedIn());
        QVERIFY(restoring.restoreRunning());
        QSignalSpy finished(&restoring, &AuthManager::restoreFinished);
        QVERIFY(finished.wait(10'000));
        QVERIFY(restoring.userInfo());
        QVERIFY(!quiet.userInfo());
        // Only the restoring object asked for the account.
        QCOMPARE(m_server.requestsTo("GET", kMe).size(), 1);
    }

    // An empty list that comes from a failure is reported; one from the account is not.
    void historyFailure_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("reports");
        QTest::addColumn<qint64>("code");
        const int respond = int(ScriptedResponse::Action::Respond);
        QTest::newRow("server error") << 500 << QByteArray("x") << respond << 1 << qint64(500);
        QTest::newRow("sign-in refused") << 401 << QByteArray("{}") << respond << 1 << qint64(401);
        QTest::newRow("refused, empty body") << 401 << QByteArray() << respond << 0 << qint64(0);
        QTest::newRow("empty account") << 200 << QByteArray("[]") << respond << 0 << qint64(0);
        QTest::newRow("unparsable answer")
            << 200 << QByteArray("<html>") << respond << 0 << qint64(0);
        QTest::newRow("connection dropped")
            << 200 << QByteArray("[]") << int(ScriptedResponse::Action::Drop) << 1 << qint64(-1005);
    }
    void historyFailure() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, action);
        QFETCH(int, reports);
        QFETCH(qint64, code);
        ScriptedResponse r = ScriptedResponse::json(status, body);
        r.action = ScriptedResponse::Action(action);
        m_server.script("GET", kHistory, {r});
        PDFViewModel vm;
        LogCapture log;
        QSignalSpy failed(&vm, &PDFViewModel::historyFetchFailed);
        QCoro::waitFor(vm.fetchConversionHistory());
        QCOMPARE(failed.size(), reports);
        QVERIFY(vm.conversionTasks().isEmpty());
        QVERIFY(!vm.isLoadingHistory());
        if (reports == 0)
            return;
        QCOMPARE(failed[0][1].toLongLong(), code);
        const QString description = failed[0][0].toString();
        QVERIFY(!description.isEmpty());
        // The report comes after the list is in place and its line is written.
        if (status != 401)
            QCOMPARE(log.lines().last(), QStringLiteral("Error fetching history: ") + description);
    }
};

QTEST_GUILESS_MAIN(TestFrontendHooks)
#include "tst_frontendhooks.moc"
