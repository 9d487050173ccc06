#include "ClientTest.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTime>

#include <QCoroTask>

using namespace quorvel;
using namespace quorvel::test;

namespace {

constexpr int kInterval = 150;
// How long a test watches for a fetch that must not come: several loop periods.
constexpr int kQuiet = 4 * kInterval;

} // namespace

class TestHistoryRefresh : public QObject {
    Q_OBJECT
    ScriptedService m_server;
    std::unique_ptr<LogCapture> m_log;

    int fetches() const { return int(m_server.requestsTo("GET", kHistory).size()); }

private Q_SLOTS:
    void init() {
        m_server.reset();
        m_server.answer("GET", kHistory, 200, "[{\"id\":\"r1\"}]");
        m_log = std::make_unique<LogCapture>();
    }
    void cleanup() { m_log.reset(); }

    void refreshStampsTime_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("success") << 200;
        QTest::newRow("failed status") << 500;
    }
    void refreshStampsTime() {
        QFETCH(int, status);
        m_server.answer("GET", kHistory, status, "[]");
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

    // Ways a loop ends before its first timed fetch: none comes, and a loop started
    // again replaces the old one (one fetch, not two).
    void loopEndsWithoutFetching_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("expectedFetches");
        QTest::newRow("left during the first sleep") << "stop" << 0;
        QTest::newRow("started again") << "restart" << 1;
        QTest::newRow("disabled before start") << "disabled" << 0;
        QTest::newRow("disabled during the sleep") << "disable" << 0;
        QTest::newRow("view model gone while sleeping") << "delete" << 0;
    }
    void loopEndsWithoutFetching() {
        QFETCH(QString, how);
        QFETCH(int, expectedFetches);
        auto vm = std::make_unique<PDFViewModel>();
        vm->refreshIntervalMs = kInterval;
        vm->setAutoRefreshEnabled(how != "disabled");
        vm->startAutoRefresh();
        if (how == "stop")
            vm->stopAutoRefresh();
        else if (how == "restart")
            vm->startAutoRefresh();
        else if (how == "disable")
            vm->setAutoRefreshEnabled(false);
        else if (how == "delete")
            vm.reset();
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        if (how == "restart") {
            QVERIFY(received.wait(5000));
            vm->stopAutoRefresh();
        }
        QVERIFY(!received.wait(kQuiet));
        QCOMPARE(fetches(), expectedFetches);
        // A loop that ended by itself no longer counts as running.
        if (how.startsWith("disable"))
            QVERIFY(!vm->isAutoRefreshRunning());
    }

    // Stopped, or its view model gone, while its fetch is on the wire: a stopped loop's fetch
    // still publishes, and no loop fetches again.
    void endsDuringFetch_data() {
        QTest::addColumn<bool>("deleted");
        QTest::newRow("stopped") << false;
        QTest::newRow("view model gone") << true;
    }
    void endsDuringFetch() {
        QFETCH(bool, deleted);
        ScriptedResponse slow = ScriptedResponse::json(200, "[{\"id\":\"slow\"}]");
        slow.delayMs = 2 * kInterval;
        m_server.script("GET", kHistory, {slow});
        auto vm = std::make_unique<PDFViewModel>();
        vm->refreshIntervalMs = kInterval;
        vm->startAutoRefresh();
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(received.wait(5000));
        QVERIFY(vm->isLoadingHistory());
        if (deleted) {
            vm.reset();
        } else {
            vm->stopAutoRefresh();
            QTRY_VERIFY_WITH_TIMEOUT(!vm->isLoadingHistory(), 5000);
            QCOMPARE(vm->conversionTasks().size(), 1);
        }
        QVERIFY(!received.wait(kQuiet));
        QCOMPARE(fetches(), 1);
    }
};

QTEST_GUILESS_MAIN(TestHistoryRefresh)
#include "tst_history_refresh.moc"
