#include "ScriptedServer.h"
#include "TestSupport.h"

#include "conversion/PDFViewModel.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTime>

#include <QCoroTask>

using namespace quorvel;
using namespace quorvel::test;

namespace {

const QByteArray kHistory = "/api/v1/tollan/convert/all";
constexpr int kInterval = 150;
// How long a test watches for a fetch that must not come: several loop periods.
constexpr int kQuiet = 4 * kInterval;

} // namespace

class TestHistoryRefresh : public QObject {
    Q_OBJECT
    ScriptedServer m_server;
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<LogCapture> m_log;

    int fetches() const { return int(m_server.requestsTo("GET", kHistory).size()); }

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<TestEnvironment>(m_server.origin()); }
    void init() {
        m_server.clearScripts();
        m_server.clearRequests();
        m_server.script("GET", kHistory, {ScriptedResponse::json(200, "[{\"id\":\"r1\"}]")});
        m_log = std::make_unique<LogCapture>();
    }
    void cleanup() { m_log.reset(); }

    void defaults() {
        PDFViewModel vm;
        QCOMPARE(vm.refreshIntervalMs, 30'000);
        QCOMPARE(vm.retryPollIntervalMs, 3000);
        QCOMPARE(vm.retryMaxAttempts, 100);
        QVERIFY(vm.autoRefreshEnabled());
    }

    void refreshStampsTime_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("action");
        QTest::newRow("success") << 200 << int(ScriptedResponse::Action::Respond);
        QTest::newRow("failed status") << 500 << int(ScriptedResponse::Action::Respond);
        QTest::newRow("connection dropped") << 200 << int(ScriptedResponse::Action::Drop);
    }
    void refreshStampsTime() {
        QFETCH(int, status);
        QFETCH(int, action);
        ScriptedResponse r = ScriptedResponse::json(status, "[]");
        r.action = ScriptedResponse::Action(action);
        m_server.script("GET", kHistory, {r});
        PDFViewModel vm;
        QSignalSpy stamped(&vm, &PDFViewModel::lastRefreshTimeChanged);

        // A fetch of its own does not stamp; only refreshHistory does.
        QCoro::waitFor(vm.fetchConversionHistory());
        QCOMPARE(stamped.size(), 0);

        const QTime before = QTime::currentTime();
        QCoro::waitFor(vm.refreshHistory());
        QCOMPARE(stamped.size(), 1);
        const QString text = vm.lastRefreshTime();
        QVERIFY2(
            QRegularExpression(QStringLiteral("^\\d{2}:\\d{2}:\\d{2}$")).match(text).hasMatch(),
            qPrintable(text));
        const QTime when = QTime::fromString(text, QStringLiteral("HH:mm:ss"));
        QVERIFY(when.isValid());
        QVERIFY(qAbs(when.secsTo(before)) <= 2 || qAbs(when.secsTo(before)) >= 86398);
        QVERIFY(!vm.isLoadingHistory());
    }

    // The first timed fetch comes one interval after the start, not at once, and
    // every timed fetch stamps the refresh time.
    void firstTimedFetchAfterOneInterval() {
        PDFViewModel vm;
        vm.refreshIntervalMs = kInterval;
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QElapsedTimer clock;
        clock.start();
        vm.startAutoRefresh();
        QVERIFY(vm.isAutoRefreshRunning());
        QCOMPARE(fetches(), 0);
        QVERIFY(received.wait(5000));
        QVERIFY2(clock.elapsed() >= kInterval - 20, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(!vm.lastRefreshTime().isEmpty(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(fetches(), 2, 5000);
        vm.stopAutoRefresh();
        QVERIFY(!vm.isAutoRefreshRunning());
    }

    // Entering the history tab and leaving it within one interval: one immediate
    // fetch, no timed one.
    void leaveDuringFirstSleep() {
        PDFViewModel vm;
        vm.refreshIntervalMs = kInterval;
        QCoro::waitFor(vm.refreshHistory());
        vm.startAutoRefresh();
        QCOMPARE(fetches(), 1);
        vm.stopAutoRefresh();
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(!received.wait(kQuiet));
        QCOMPARE(fetches(), 1);
    }

    // Leave and return twice: each return fetches at once and starts a fresh loop;
    // loops of earlier visits never fetch again.
    void startingAgainCancelsTheOldLoop() {
        PDFViewModel vm;
        vm.refreshIntervalMs = kInterval;
        vm.startAutoRefresh();
        vm.startAutoRefresh(); // the first loop is cancelled here
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(received.wait(5000));
        vm.stopAutoRefresh();
        const int seen = fetches();
        QCOMPARE(seen, 1);
        QVERIFY(!received.wait(kQuiet));
        QCOMPARE(fetches(), seen);
    }

    void disabledBeforeStart() {
        PDFViewModel vm;
        vm.refreshIntervalMs = kInterval;
        vm.setAutoRefreshEnabled(false);
        vm.startAutoRefresh();
        QTRY_VERIFY_WITH_TIMEOUT(!vm.isAutoRefreshRunning(), 5000);
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(!received.wait(kQuiet));
        QCOMPARE(fetches(), 0);
    }

    // The test after the sleep: a loop whose refresh was switched off while it slept
    // ends without fetching.
    void disabledDuringSleep() {
        PDFViewModel vm;
        vm.refreshIntervalMs = kInterval;
        vm.startAutoRefresh();
        vm.setAutoRefreshEnabled(false);
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(!received.wait(kQuiet));
        QCOMPARE(fetches(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!vm.isAutoRefreshRunning(), 5000);
    }

    // Stopped while its fetch is on the wire: that fetch still publishes, and the loop
    // never fetches again.
    void stopDuringFetch() {
        ScriptedResponse slow = ScriptedResponse::json(200, "[{\"id\":\"slow\"}]");
        slow.delayMs = 2 * kInterval;
        m_server.script("GET", kHistory, {slow});
        PDFViewModel vm;
        vm.refreshIntervalMs = kInterval;
        vm.startAutoRefresh();
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(received.wait(5000));
        QVERIFY(vm.isLoadingHistory());
        vm.stopAutoRefresh();
        QTRY_VERIFY_WITH_TIMEOUT(!vm.isLoadingHistory(), 5000);
        QCOMPARE(vm.conversionTasks().size(), 1);
        QVERIFY(!received.wait(kQuiet));
        QCOMPARE(fetches(), 1);
    }

    void viewModelGoneWhileSleeping() {
        auto *vm = new PDFViewModel;
        vm->refreshIntervalMs = kInterval;
        vm->startAutoRefresh();
        delete vm;
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(!received.wait(kQuiet));
        QCOMPARE(fetches(), 0);
    }

    void viewModelGoneDuringTimedFetch() {
        ScriptedResponse slow = ScriptedResponse::json(200, "[]");
        slow.delayMs = kInterval;
        m_server.script("GET", kHistory, {slow});
        auto *vm = new PDFViewModel;
        vm->refreshIntervalMs = 20;
        vm->startAutoRefresh();
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(received.wait(5000));
        delete vm;
        QVERIFY(!received.wait(kQuiet));
        QCOMPARE(fetches(), 1);
    }
};

QTEST_GUILESS_MAIN(TestHistoryRefresh)
#include "tst_history_refresh.moc"
