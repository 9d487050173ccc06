#include "ClientTest.h"

#include <QSignalSpy>

using namespace quorvel;
using namespace quorvel::test;

namespace {

const QString kPoll = QStringLiteral("🔄 重试任务 - ");

ConversionTask failedJob(const QString &id = QStringLiteral("old1")) {
    ConversionTask t;
    t.id = id;
    t.userId = QStringLiteral("u1");
    t.typ = QStringLiteral("pdf2doc");
    t.fileName = QStringLiteral("a.pdf");
    t.pageNumber = 3;
    t.sourceFilePath = QStringLiteral("/store/a.pdf");
    t.sourceFileTyp = QStringLiteral("pdf");
    t.sourceFileMd5 = QStringLiteral("0cc175b9c0f1b6a831c399e269772661");
    t.status = 2;
    return t;
}

QByteArray retried(const QString &id, int status) {
    return jobAnswer(id, status, QStringLiteral("a.pdf【retry】"));
}

} // namespace

class TestHistoryRetry : public QObject {
    Q_OBJECT
    ScriptedService m_server;

private Q_SLOTS:
    void init() {
        m_server.reset();
        m_server.answer("GET", kHistory, 200, "[]");
    }

    void requestBody() {
        TokenStore::write(QStringLiteral("secret-token"));
        m_server.answer("POST", kConvert, 200, retried("new1", 0));
        PDFViewModel vm;
        vm.retryPollIntervalMs = 60'000; // polling is not under test here
        LogCapture log;
        QCoro::waitFor(vm.retryConversion(failedJob()));

        const QList<ReceivedRequest> sent = m_server.requestsTo("POST", kConvert);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].target, kConvert);
        QCOMPARE(sent[0].header("Authorization"), QByteArray("Bearer secret-token"));
        const QJsonObject body = QJsonDocument::fromJson(sent[0].body).object();
        const QJsonObject expected{{"source_file_md5", "0cc175b9c0f1b6a831c399e269772661"},
                                   {"typ", "PDF2DOC"},
                                   {"source_file_path", "/store/a.pdf"},
                                   {"source_file_typ", "pdf"},
                                   {"page_number", 3},
                                   {"status", 0},
                                   {"file_name", "a.pdf【retry】"}};
        QCOMPARE(body, expected);
        QVERIFY2(sent[0].body.contains("\n    \""), "body is pretty-printed");
        QVERIFY(sent[0].body.contains("a.pdf\xe3\x80\x90retry\xe3\x80\x91"));

        QCOMPARE(log.lines().first(), QStringLiteral("🔄 重试转换任务: old1"));
        QCOMPARE(log.withPrefix(QStringLiteral("📦 重试请求数据: ")),
                 QStringList{QStringLiteral("📦 重试请求数据: ") + QString::fromUtf8(sent[0].body)});
        // Built without a body: the builder writes no body line of its own.
        QCOMPARE(log.withPrefix(QStringLiteral("📦 Request body: ")).size(), 0);
        QCOMPARE(log.withPrefix(QStringLiteral("🔄 重试转换响应状态码: ")),
                 QStringList{QStringLiteral("🔄 重试转换响应状态码: 200")});
        QCOMPARE(log.withPrefix(QStringLiteral("📥 重试转换响应内容: ")),
                 QStringList{QStringLiteral("📥 重试转换响应内容: ") +
                             QString::fromUtf8(retried("new1", 0))});
    }

    void placement_data() {
        QTest::addColumn<QString>("newId");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("new id goes on top, old failed job stays")
            << "new1" << QStringList{"new1", "x", "old1", "y"};
        QTest::newRow("same id replaces in place") << "old1" << QStringList{"x", "old1", "y"};
        QTest::newRow("first match replaced") << "y" << QStringList{"x", "old1", "y"};
    }
    void placement() {
        QFETCH(QString, newId);
        QFETCH(QStringList, expected);
        m_server.answer("POST", kConvert, 200, retried(newId, 0));
        PDFViewModel vm;
        vm.retryPollIntervalMs = 60'000;
        vm.publishTasks(
            {failedJob(QStringLiteral("x")), failedJob(), failedJob(QStringLiteral("y"))});
        QSignalSpy states(&vm, &PDFViewModel::processingStateChanged);
        QSignalSpy changed(vm.conversionTaskModel(), &QAbstractItemModel::dataChanged);
        LogCapture log;
        QCoro::waitFor(vm.retryConversion(failedJob()));
        QCOMPARE(ids(vm.conversionTasks()), expected);
        const qsizetype row = vm.conversionTaskModel()->indexOfId(newId);
        QCOMPARE(vm.conversionTasks()[row].fileName, QStringLiteral("a.pdf【retry】"));
        QCOMPARE(vm.conversionTasks()[row].status, 0);
        QCOMPARE(vm.processingState(), ProcessingState::completed());
        QCOMPARE(states.size(), 2); // processing, then completed
        // The explicit notification covers the whole list.
        QVERIFY(!changed.isEmpty());
        QCOMPARE(changed.last()[0].value<QModelIndex>().row(), 0);
        QCOMPARE(changed.last()[1].value<QModelIndex>().row(), int(expected.size()) - 1);
        QCOMPARE(log.withPrefix(kPoll + QStringLiteral("开始轮询任务状态")).size(), 1);
    }

    void requestFailure_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("bodyLine"); // empty: no such line
        const int respond = int(ScriptedResponse::Action::Respond);
        QTest::newRow("500 busy") << 500 << QByteArray("busy") << respond
                                  << "The operation couldn’t be completed. (Retry conversion "
                                     "failed with status 500: busy error 500.)"
                                  << "📥 重试转换响应内容: busy";
        QTest::newRow("403 not UTF-8") << 403 << QByteArray("\xff\xfe") << respond
                                       << "The operation couldn’t be completed. (Retry conversion "
                                          "failed with status 403: 无法解析的响应数据 error 403.)"
                                       << "📥 重试转换响应内容: 无法解析的响应数据";
        QTest::newRow("percent signs in the answer stay as sent")
            << 400 << QByteArray("50%3 off") << respond
            << "The operation couldn’t be completed. (Retry conversion failed with status 400: "
               "50%3 off error 400.)"
            << "📥 重试转换响应内容: 50%3 off";
        QTest::newRow("200 without a job")
            << 200 << QByteArray("{\"code\":0,\"msg\":\"ok\"}") << respond
            << "The data couldn’t be read because it is missing."
            << "📥 重试转换响应内容: {\"code\":0,\"msg\":\"ok\"}";
        QTest::newRow("connection dropped")
            << 200 << QByteArray() << int(ScriptedResponse::Action::Drop) << ""
            << "";
    }
    void requestFailure() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, action);
        QFETCH(QString, description);
        QFETCH(QString, bodyLine);
        m_server.script("POST", kConvert, {acting(ScriptedResponse::Action(action), status, body)});
        PDFViewModel vm;
        vm.retryPollIntervalMs = 10;
        vm.publishTasks({failedJob()});
        LogCapture log;
        QCoro::waitFor(vm.retryConversion(failedJob()));

        QVERIFY(vm.processingState().isError());
        const QStringList errors = log.withPrefix(QStringLiteral("❌ 重试转换错误: "));
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0], QStringLiteral("❌ 重试转换错误: ") + vm.processingState().message());
        if (!description.isEmpty())
            QCOMPARE(vm.processingState().message(), description);
        else
            QVERIFY(!vm.processingState().message().isEmpty());
        if (!bodyLine.isEmpty()) {
            QCOMPARE(log.withPrefix(QStringLiteral("📥 重试转换响应内容: ")), QStringList{bodyLine});
            QVERIFY(log.indexOf(QStringLiteral("🔄 重试转换响应状态码: %1").arg(status)) >= 0);
        }
        QCOMPARE(ids(vm.conversionTasks()), QStringList{"old1"});
        QCOMPARE(vm.conversionTasks()[0].status, 2);
        // No polling starts.
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(!received.wait(200));
        QCOMPARE(log.withPrefix(kPoll + "开始轮询任务状态").size(), 0);
        QCOMPARE(log.withPrefix(kPoll + "检查任务状态").size(), 0);
    }

    // Unchanged checks write no update line; the check that sees the end replaces the
    // entry, then the end line, then one history reload.
    void pollingUntilFinished_data() {
        QTest::addColumn<int>("finalStatus");
        QTest::newRow("completed at the fifth check") << 1;
        QTest::newRow("failed again at the fifth check") << 2;
    }
    void pollingUntilFinished() {
        QFETCH(int, finalStatus);
        m_server.answer("POST", kConvert, 200, retried("new1", 0));
        const ScriptedResponse running = ScriptedResponse::json(200, retried("new1", 0));
        m_server.script("GET", kConvert + "/new1",
                        {running, running, running, running,
                         ScriptedResponse::json(200, retried("new1", finalStatus))});
        m_server.answer("GET", kHistory, 200, "[{\"id\":\"new1\",\"status\":9}]");
        PDFViewModel vm;
        vm.retryPollIntervalMs = 10;
        QSignalSpy finished(&vm, &PDFViewModel::taskPollingFinished);
        LogCapture log;
        QCoro::waitFor(vm.retryConversion(failedJob()));
        QCOMPARE(vm.processingState(), ProcessingState::completed());
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished[0][0].value<ConversionTask>().status, finalStatus);

        QStringList expected{kPoll + "开始轮询任务状态"};
        for (int i = 1; i <= 4; ++i)
            expected << kPoll + QStringLiteral("检查任务状态: new1, 第 %1 次尝试").arg(i)
                     << kPoll + "获取到更新的任务状态: 0";
        expected << kPoll + "检查任务状态: new1, 第 5 次尝试"
                 << kPoll + QStringLiteral("获取到更新的任务状态: %1").arg(finalStatus)
                 << kPoll + "UI已更新" << kPoll + "任务已结束(完成或失败)，停止轮询";
        QCOMPARE(log.withPrefix(kPoll), expected);
        // The reload comes after the end line and replaces the list with the service's view.
        const qsizetype end = log.indexOf(kPoll + "任务已结束(完成或失败)，停止轮询");
        QVERIFY(log.indexOf(QStringLiteral("🔍 开始获取转换历史记录..."), end) > end);
        QCOMPARE(m_server.requestsTo("GET", kHistory).size(), 1);
        QCOMPARE(vm.conversionTasks()[0].status, 9);
        // Polling never changes the run's state.
        QCOMPARE(vm.processingState(), ProcessingState::completed());
    }

    void checksKeepFailing() {
        m_server.answer("POST", kConvert, 200, retried("new2", 0));
        m_server.answer("GET", kConvert + "/new2", 500, "down");
        PDFViewModel vm;
        vm.retryPollIntervalMs = 5;
        vm.retryMaxAttempts = 7;
        QSignalSpy finished(&vm, &PDFViewModel::taskPollingFinished);
        LogCapture log;
        QCoro::waitFor(vm.retryConversion(failedJob()));
        QVERIFY(finished.wait(5000));
        const QString failure =
            kPoll + QStringLiteral("获取任务状态失败: The operation couldn’t be "
                                   "completed. (Status check failed error 500.)");
        QCOMPARE(log.withPrefix(failure).size(), 7);
        QCOMPARE(log.withPrefix(kPoll + "检查任务状态: new2, 第 7 次尝试").size(), 1);
        QCOMPARE(log.withPrefix(kPoll + "检查任务状态: new2, 第 8 次尝试").size(), 0);
        QCOMPARE(log.withPrefix(kPoll).last(), kPoll + "达到最大尝试次数，停止轮询");
        QCOMPARE(m_server.requestsTo("GET", kConvert + "/new2").size(), 7);
        QCOMPARE(m_server.requestsTo("GET", kHistory).size(), 1);
    }

    // The listed job is gone (a reload replaced the list): the update does nothing.
    void updateOfAnUnlistedJob() {
        m_server.answer("POST", kConvert, 200, retried("new3", 0));
        m_server.answer("GET", kConvert + "/new3", 200, retried("new3", 1));
        PDFViewModel vm;
        vm.retryPollIntervalMs = 50;
        QSignalSpy finished(&vm, &PDFViewModel::taskPollingFinished);
        LogCapture log;
        QCoro::waitFor(vm.retryConversion(failedJob()));
        vm.publishTasks({failedJob(QStringLiteral("other"))});
        QVERIFY(finished.wait(5000));
        QCOMPARE(log.withPrefix(kPoll + "UI已更新").size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHistoryRetry)
#include "tst_history_retry.moc"
