#include "ClientTest.h"

#include "conversion/OperationCatalogue.h"
#include "service/AuthManager.h"

#include <QJsonArray>
#include <QSignalSpy>

using namespace quorvel;
using namespace quorvel::test;

namespace {

QList<ProcessingState::Kind> kinds(const QList<ProcessingState> &states) {
    QList<ProcessingState::Kind> out;
    for (const ProcessingState &s : states)
        out << s.kind();
    return out;
}

} // namespace

class TestPipeline : public QObject {
    Q_OBJECT
    ScriptedService m_server;
    QTemporaryDir m_dir;

    QUrl file(const QString &name, const QByteArray &content = "%PDF") {
        return QUrl::fromLocalFile(writeFile(m_dir, name, content));
    }

private Q_SLOTS:
    void init() {
        m_server.reset(QStringLiteral("tok-pipeline"));
        m_server.answer("GET", kHistory, 200, historyAnswer({}));
    }

    void nothingSelected() {
        auto vm = fastViewModel();
        QSignalSpy state(vm.get(), &PDFViewModel::processingStateChanged);
        LogCapture log;
        QVERIFY(finishVoid(vm->processFiles("PDF to DOC")));
        QCOMPARE(log.lines(), (QStringList{"processFiles开始执行 - 操作: PDF to DOC",
                                           "processFiles - 没有选择文件"}));
        QCOMPARE(state.count(), 0);
        QCOMPARE(m_server.requestCount(), 0);
    }

    void refusedFileStopsBeforeUpload_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("extension");
        QTest::newRow("second of three") << QStringList{"a.pdf", "b.DOCX", "c.pdf"} << "PDF to DOC"
                                         << "docx";
        QTest::newRow("no extension") << QStringList{"README"} << "Compress"
                                      << "";
    }
    void refusedFileStopsBeforeUpload() {
        QFETCH(QStringList, names);
        QFETCH(QString, operation);
        QFETCH(QString, extension);
        auto vm = fastViewModel();
        QList<QUrl> urls;
        for (const QString &n : names)
            urls << file(n);
        vm->addPickedFiles(urls);
        QSignalSpy state(vm.get(), &PDFViewModel::processingStateChanged);
        LogCapture log;
        QVERIFY(finishVoid(vm->processFiles(operation)));
        const QString text = OperationCatalogue::validationAlertText(operation, extension);
        QCOMPARE(vm->processingState(), ProcessingState::error(text));
        QCOMPARE(state.count(), 1); // straight to error, never processing
        QCOMPARE(log.withPrefix("❌ 格式验证失败: "), QStringList{"❌ 格式验证失败: " + text});
        QCOMPARE(m_server.requestCount(), 0);
    }

    void operationWithoutJob() {
        m_server.answer("POST", kUpload, 200, uploadAnswer("x.bin"));
        auto vm = fastViewModel();
        vm->addPickedFiles({file("x.bin")});
        LogCapture log;
        QVERIFY(finishVoid(vm->processFiles("Rename")));
        QCOMPARE(vm->processingState(), ProcessingState::completed());
        QVERIFY(log.indexOf("processFiles - 不需要转换，完成处理") >= 0);
        QCOMPARE(m_server.requestsTo("POST", kUpload).size(), 1);
        QCOMPARE(m_server.requestsTo("POST", kConvert).size(), 0);
        QCOMPARE(vm->uploadedFiles().size(), 1);
    }

    // Every uploaded file gets its own job, in order, each listed at the top and polled.
    void everyFileGetsItsJob() {
        m_server.script("POST", kUpload,
                        {ScriptedResponse::json(200, uploadAnswer("f1.pdf")),
                         ScriptedResponse::json(200, uploadAnswer("f2.pdf")),
                         ScriptedResponse::json(200, uploadAnswer("f3.pdf"))});
        m_server.script("POST", kConvert,
                        {ScriptedResponse::json(200, jobAnswer("job-1", 0, "f1.pdf")),
                         ScriptedResponse::json(200, jobAnswer("job-2", 0, "f2.pdf")),
                         ScriptedResponse::json(200, jobAnswer("job-3", 0, "f3.pdf"))});
        m_server.scriptPrefix("GET", kStatus + "job-",
                              {ScriptedResponse::json(200, jobAnswer("other"))});
        auto vm = fastViewModel();
        vm->addPickedFiles({file("f1.pdf"), file("f2.pdf"), file("f3.pdf")});
        QList<ProcessingState> states;
        QList<double> actual;
        connect(vm.get(), &PDFViewModel::processingStateChanged, this,
                [&] { states << vm->processingState(); });
        connect(vm.get(), &PDFViewModel::actualUploadProgressChanged, this,
                [&] { actual << vm->actualUploadProgress(); });
        LogCapture log;
        QVERIFY(finishVoid(vm->processFiles("PDF to DOC")));

        QCOMPARE(vm->processingState(), ProcessingState::completed());
        // Completed only once, at the end: never while a job request is outstanding.
        QCOMPARE(kinds(states).count(ProcessingState::Kind::Completed), 1);
        QCOMPARE(states.last(), ProcessingState::completed());

        const auto uploads = m_server.requestsTo("POST", kUpload);
        QCOMPARE(uploads.size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(uploads[i].body.contains(
                QStringLiteral("filename=\"f%1.pdf\"").arg(i + 1).toUtf8()));
        const auto converts = m_server.requestsTo("POST", kConvert);
        QCOMPARE(converts.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(
                QJsonDocument::fromJson(converts[i].body).object().value("file_name").toString(),
                QStringLiteral("f%1.pdf").arg(i + 1));

        QCOMPARE(ids(vm->conversionTasks()), (QStringList{"job-3", "job-2", "job-1"}));
        QCOMPARE(vm->uploadedFiles().size(), 3);
        QCOMPARE(vm->uploadedFiles()[2].file_name, QString("f3.pdf"));

        QVERIFY(actual.contains(1.0 / 3) && actual.contains(2.0 / 3));
        QCOMPARE(actual.last(), 1.0);
        QCOMPARE(log.withPrefix("startConversion - 开始，操作: PDF to DOC").size(), 3);
        QCOMPARE(log.withPrefix("convertToPDF - 开始，操作: PDF to DOC").size(), 3);
        QCOMPARE(log.withPrefix("processFiles - 准备开始转换: ").size(), 1);
        QCOMPARE(log.withPrefix("📤 上传文件: "),
                 (QStringList{"📤 上传文件: f1.pdf", "📤 上传文件: f2.pdf", "📤 上传文件: f3.pdf"}));

        for (const QByteArray id : {"job-1", "job-2", "job-3"})
            QTRY_VERIFY_WITH_TIMEOUT(!m_server.requestsTo("GET", kStatus + id).isEmpty(), 5000);
    }

    void refusedJobEndsRunButKeepsEarlierJobs() {
        m_server.script("POST", kUpload,
                        {ScriptedResponse::json(200, uploadAnswer("a.pdf")),
                         ScriptedResponse::json(200, uploadAnswer("b.pdf"))});
        m_server.script("POST", kConvert,
                        {ScriptedResponse::json(200, jobAnswer("job-a", 0, "a.pdf")),
                         ScriptedResponse::json(402, "no pages left")});
        m_server.answer("GET", kStatus + "job-a", 200, jobAnswer("job-a"));
        auto vm = fastViewModel();
        vm->addPickedFiles({file("a.pdf"), file("b.pdf")});
        QVERIFY(finishVoid(vm->processFiles("PDF to MD")));
        QCOMPARE(
            vm->processingState(),
            ProcessingState::error("The operation couldn’t be completed. (Conversion failed with "
                                   "status 402: no pages left error 402.)"));
        QCOMPARE(vm->conversionTasks().size(), 1);
        QCOMPARE(vm->conversionTasks()[0].id, QString("job-a"));
        QCOMPARE(m_server.requestsTo("POST", kConvert).size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!m_server.requestsTo("GET", kStatus + "job-a").isEmpty(), 5000);
    }

    void failedUploadStopsRun() {
        m_server.script("POST", kUpload,
                        {ScriptedResponse::json(200, uploadAnswer("1.pdf")),
                         ScriptedResponse::json(413, "too large")});
        auto vm = fastViewModel();
        vm->addPickedFiles({file("1.pdf"), file("2.pdf"), file("3.pdf")});
        QList<QPair<double, double>> progressAtError;
        connect(vm.get(), &PDFViewModel::processingStateChanged, this, [&] {
            if (vm->processingState().isError())
                progressAtError << qMakePair(vm->uploadProgress(), vm->actualUploadProgress());
        });
        LogCapture log;
        QVERIFY(finishVoid(vm->processFiles("Compress")));
        const QString description =
            QStringLiteral("The operation couldn’t be completed. (Upload failed error 413.)");
        QCOMPARE(vm->processingState(), ProcessingState::error(description));
        QCOMPARE(log.withPrefix("processFiles - 捕获到错误: "),
                 QStringList{"processFiles - 捕获到错误: " + description});
        // The progress is zeroed together with the error.
        QTRY_COMPARE_WITH_TIMEOUT(vm->actualUploadProgress(), 0.0, 1000);
        QVERIFY(!progressAtError.isEmpty());
        QCOMPARE(m_server.requestsTo("POST", kUpload).size(), 2);
        QCOMPARE(m_server.requestsTo("POST", kConvert).size(), 0);
        QCOMPARE(vm->uploadedFiles().size(), 1);
    }

    // The polling follows a job until it ends, then reloads the history once.
    void pollingUntilTheJobEnds_data() {
        QTest::addColumn<QList<ScriptedResponse>>("checks");
        QTest::addColumn<int>("failureLines");
        QTest::addColumn<qint64>("finalStatus");
        QTest::newRow("three 500s then completed")
            << QList<ScriptedResponse>{ScriptedResponse::json(500, "x"),
                                       ScriptedResponse::json(500, "x"),
                                       ScriptedResponse::json(500, "x"),
                                       ScriptedResponse::json(200, jobAnswer("job-7", 1))}
            << 3 << qint64(1);
        QTest::newRow("undecodable, then completed")
            << QList<ScriptedResponse>{ScriptedResponse::json(200, "{\"data\":{}}"),
                                       ScriptedResponse::json(200, jobAnswer("job-7", 1))}
            << 1 << qint64(1);
        QTest::newRow("failed") << QList<ScriptedResponse>{ScriptedResponse::json(
                                       200, jobAnswer("job-7", 2))}
                                << 0 << qint64(2);
    }
    // ... and a completed job, which has been charged, reloads the account's balance.
    void pollingUntilTheJobEnds() {
        QFETCH(QList<ScriptedResponse>, checks);
        QFETCH(int, failureLines);
        QFETCH(qint64, finalStatus);
        m_server.answer("POST", kConvert, 200, jobAnswer("job-7", 0, "in.pdf"));
        m_server.script("GET", kStatus + "job-7", checks);
        auto vm = fastViewModel();
        AuthManager account(AuthManager::StartupFetch::None);
        vm->setAuthManager(&account);
        QList<qint64> replaced;
        connect(vm->conversionTaskModel(), &QAbstractItemModel::dataChanged, this,
                [&] { replaced << vm->conversionTasks().value(0).status; });
        QSignalSpy finished(vm.get(), &PDFViewModel::taskPollingFinished);
        LogCapture log;
        QVERIFY(finishVoid(vm->startConversion("PDF to DOC", uploadRecord("in.pdf"))));
        QCOMPARE(vm->processingState(), ProcessingState::completed());
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().first().value<ConversionTask>().status, finalStatus);
        QCOMPARE(log.withPrefix("startConversion - 获取任务状态失败").size(), failureLines);
        QCOMPARE(log.withPrefix("startConversion - 任务已完成").size(), finalStatus == 1 ? 1 : 0);
        QCOMPARE(log.withPrefix("startConversion - 开始轮询任务状态").size(), 1);
        QVERIFY(!replaced.isEmpty());
        QCOMPARE(replaced.last(), finalStatus);
        QCOMPARE(m_server.requestsTo("GET", kHistory).size(), 1);
        QCOMPARE(m_server.requestsTo("GET", kStatus + "job-7").size(), checks.size());
        QTRY_COMPARE(m_server.requestsTo("GET", kBalance).size(), finalStatus == 1 ? 1 : 0);
    }

    // An id stays one path segment or query value; "." and ".." are whole dot segments,
    // which sent as they are would address another path.
    void dotSegmentIdsStayInTheirPath_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("dot") << "." << QByteArray("%2E");
        QTest::newRow("two dots") << ".." << QByteArray("%2E%2E");
    }
    void dotSegmentIdsStayInTheirPath() {
        QFETCH(QString, id);
        QFETCH(QByteArray, encoded);
        m_server.answer("GET", kStatus + encoded, 200, jobAnswer(id, 1));
        ScriptedResponse result;
        result.body = "R";
        m_server.script("GET", "/api/v2/docx?md5_id=" + encoded, {result});
        auto vm = fastViewModel();
        auto status = finish(vm->checkTaskStatus(id));
        QVERIFY2(status->value, status->failure().constData());
        QCOMPARE(m_server.requests().last().target, kStatus + encoded);
        auto saved = finish(vm->downloadFile(task(id, "in.pdf", 0, "PDF2DOC"), m_dir.path()));
        QVERIFY2(saved->value, saved->failure().constData());
        QCOMPARE(m_server.requests().last().target, "/api/v2/docx?md5_id=" + encoded);
    }

    // A job the service does not know (404) is not polled for ever, new or retried.
    void unknownJobEndsItsPolling_data() {
        QTest::addColumn<bool>("retry");
        QTest::newRow("new job") << false;
        QTest::newRow("retried job") << true;
    }
    void unknownJobEndsItsPolling() {
        QFETCH(bool, retry);
        m_server.answer("POST", kConvert, 200, jobAnswer("gone"));
        m_server.answer("GET", kStatus + "gone", 404, "");
        auto vm = fastViewModel();
        vm->retryPollIntervalMs = 20;
        QSignalSpy finished(vm.get(), &PDFViewModel::taskPollingFinished);
        QVERIFY(finishVoid(retry ? vm->retryConversion(task("old", {}, 2))
                                 : vm->startConversion("PDF to DOC", uploadRecord("in.pdf"))));
        QVERIFY(finished.wait(5000));
        QCOMPARE(vm->processingState(),
                 ProcessingState::error(ServiceError("Status check failed", 404).description()));
        QCOMPARE(m_server.requestsTo("GET", kStatus + "gone").size(), 1);
    }

    void statusAnswerWithoutId() {
        m_server.answer("GET", kStatus + "j1", 200, R"({"code":0,"msg":"","data":{}})");
        auto vm = fastViewModel();
        auto out = finish(vm->checkTaskStatus("j1"));
        QVERIFY(out->error);
        QCOMPARE(out->error->domain(), QStringLiteral("NSCocoaErrorDomain"));
        QCOMPARE(out->error->code(), 4865);
    }

    // Nothing the view model started outlives it.
    void pollingEndsWithTheViewModel() {
        m_server.answer("POST", kConvert, 200, jobAnswer("job-x"));
        m_server.answer("GET", kStatus + "job-x", 200, jobAnswer("job-x"));
        auto vm = fastViewModel();
        QVERIFY(finishVoid(vm->startConversion("PDF to DOC", uploadRecord("in.pdf"))));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requestsTo("GET", kStatus + "job-x").size() >= 2, 5000);
        vm.reset();
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        // A check in flight may still land; after it, nothing more.
        for (int i = 0; i < 5 && received.wait(300); ++i) {
        }
        const int settled = m_server.requestCount();
        QVERIFY(!received.wait(300));
        QCOMPARE(m_server.requestCount(), settled);
    }

    void viewModelGoneDuringUpload() {
        ScriptedResponse slow = ScriptedResponse::json(200, uploadAnswer("s.pdf"));
        slow.delayMs = 200;
        m_server.script("POST", kUpload, {slow});
        auto vm = fastViewModel();
        vm->addPickedFiles({file("s.pdf")});
        const auto done = started(vm->processFiles("PDF to DOC"));
        QSignalSpy received(&m_server, &ScriptedServer::requestReceived);
        QVERIFY(received.wait(5000));
        vm.reset();
        QTRY_VERIFY_WITH_TIMEOUT(*done, 5000);
        QCOMPARE(m_server.requestsTo("POST", kConvert).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
