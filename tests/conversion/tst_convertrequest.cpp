#include "ClientTest.h"

#include "conversion/OperationCatalogue.h"

using namespace quorvel;
using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

FileUploadData record(const QString &name = QStringLiteral("deck.pdf"), qint64 pages = 12) {
    FileUploadData u = uploadRecord(name, pages);
    u.status = 5; // not carried over: the request always says 0
    return u;
}

} // namespace

class TestConvertRequest : public QObject {
    Q_OBJECT
    ScriptedService m_server;

private Q_SLOTS:
    void init() { m_server.reset(QStringLiteral("tok-convert-1")); }

    void bodyAndHeaders_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("typ");
        QTest::addColumn<QString>("ruleLine");
        QTest::newRow("forward") << u"PDF to PPTX"_s << u"PDF2PPTX"_s
                                 << u"convertToPDF - 正向转换: PDF2PPTX"_s;
        QTest::newRow("reverse") << u"IMG to PDF"_s << u"IMG2PDF"_s
                                 << u"convertToPDF - 反向转换: IMG2PDF"_s;
        QTest::newRow("markdown") << u"MD to PDF"_s << u"MD2PDF"_s
                                  << u"convertToPDF - MD to PDF特殊处理: MD2PDF"_s;
    }
    void bodyAndHeaders() {
        QFETCH(QString, operation);
        QFETCH(QString, typ);
        QFETCH(QString, ruleLine);
        m_server.answer("POST", kConvert, 200, jobAnswer("job-1"));
        auto vm = fastViewModel();
        LogCapture log;
        auto out = finish(vm->convertToPDF(operation, record()));
        QVERIFY(out->value);
        QCOMPARE(out->value->id, QString("job-1"));

        const auto received = m_server.requestsTo("POST", kConvert);
        QCOMPARE(received.size(), 1);
        const ReceivedRequest &r = received[0];
        QCOMPARE(r.target, kConvert);
        QCOMPARE(r.header("Authorization"), QByteArray("Bearer tok-convert-1"));
        QVERIFY2(r.body.count('\n') >= 8, r.body.constData()); // pretty-printed, one member a line
        const QJsonObject body = QJsonDocument::fromJson(r.body).object();
        const QJsonObject expected{{"source_file_md5", "md5-deck.pdf"},
                                   {"typ", typ},
                                   {"source_file_path", "store/deck.pdf"},
                                   {"source_file_typ", "pdf"},
                                   {"page_number", 12},
                                   {"status", 0},
                                   {"file_name", "deck.pdf"}};
        QCOMPARE(body, expected);

        // The rule line is the only one of the three.
        QCOMPARE(log.withPrefix("convertToPDF - 正向转换: ").size() +
                     log.withPrefix("convertToPDF - 反向转换: ").size() +
                     log.withPrefix("convertToPDF - MD to PDF特殊处理: ").size(),
                 1);
        const QStringList order = {"convertToPDF - 开始，操作: " + operation,
                                   "🔄 开始转换: " + operation,
                                   "📄 文件: deck.pdf, 页数: 12",
                                   "🌐 Request URL: " + m_server.origin() + "/api/v1/tollan/convert",
                                   "convertToPDF - 操作: " + operation,
                                   ruleLine,
                                   "📋 使用页数: 12",
                                   "📤 请求数据: ConvertRequest(",
                                   "📦 JSON数据: {",
                                   "convertToPDF - 发送转换请求",
                                   "🔄 转换响应状态码: 200",
                                   "📥 转换响应内容: {",
                                   "转换响应JSON结构: {",
                                   "convertToPDF - 转换成功，返回任务"};
        QCOMPARE(log.missingInOrder(order), QString());
        QCOMPARE(log.indexOfPrefix("📦 Request body: "), -1);
    }

    void failures_data() {
        QTest::addColumn<ScriptedResponse>("answer");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<qint64>("code");
        QTest::addColumn<QString>("description");
        QTest::newRow("402 with text")
            << ScriptedResponse::json(402, "no pages left")
            << u"Conversion failed with status 402: no pages left"_s << qint64(402)
            << u"The operation couldn’t be completed. (Conversion failed with status 402: no pages "
               "left error 402.)"_s;
        QTest::newRow("500 not UTF-8")
            << ScriptedResponse::json(500, "\xff\xfe")
            << u"Conversion failed with status 500: 无法解析的响应数据"_s << qint64(500) << u""_s;
        QTest::newRow("data not an object")
            << ScriptedResponse::json(200, R"({"code":0,"msg":"ok","data":"queued"})")
            << u"NSCocoaErrorDomain"_s << qint64(4864) << u""_s;
        QTest::newRow("connection dropped")
            << acting(ScriptedResponse::Action::Drop) << QString(ServiceError::kUrlErrorDomain)
            << qint64(-1005) << u""_s;
    }
    void failures() {
        QFETCH(ScriptedResponse, answer);
        QFETCH(QString, domain);
        QFETCH(qint64, code);
        QFETCH(QString, description);
        m_server.script("POST", kConvert, {answer});
        auto vm = fastViewModel();
        LogCapture log;
        auto out = finish(vm->convertToPDF("PDF to DOC", record()));
        QVERIFY(out->error);
        QCOMPARE(out->error->domain(), domain);
        QCOMPARE(out->error->code(), code);
        if (!description.isEmpty())
            QCOMPARE(out->error->description(), description);
        if (answer.status != 200)
            QCOMPARE(log.withPrefix("convertToPDF - 转换失败，状态码: ").size(), 1);
        // A failed transfer has a line of its own.
        const bool transport = out->error->family() == ServiceError::Family::Transport;
        QCOMPARE(log.withPrefix("❌ 转换错误: "),
                 transport ? QStringList{"❌ 转换错误: " + out->error->description()}
                           : QStringList{});
    }

    // A job whose record does not decode is built from what the client knows.
    void manuallyBuiltJob_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QString>("resultFileTyp");
        QTest::newRow("no id, reverse") << u"DOCX to PDF"_s << QByteArray(R"({"status":"queued"})")
                                        << u""_s << u""_s << u"pdf"_s;
        QTest::newRow("numeric id, forward")
            << u"PDF to MD"_s << QByteArray(R"({"id":42,"user_id":"u7"})") << u"42"_s << u"u7"_s
            << u"docx"_s;
        QTest::newRow("id kept, bad status")
            << u"PDF to DOC"_s << QByteArray(R"({"id":"j-9","status":"0"})") << u"j-9"_s << u""_s
            << u"docx"_s;
    }
    void manuallyBuiltJob() {
        QFETCH(QString, operation);
        QFETCH(QByteArray, data);
        QFETCH(QString, id);
        QFETCH(QString, userId);
        QFETCH(QString, resultFileTyp);
        m_server.answer("POST", kConvert, 200, R"({"code":0,"msg":"ok","data":)" + data + "}");
        auto vm = fastViewModel();
        LogCapture log;
        auto out = finish(vm->convertToPDF(operation, record("in.docx", 4)));
        QVERIFY2(out->value, out->failure().constData());
        const ConversionTask &t = *out->value;
        if (id.isEmpty())
            QVERIFY2(isMadeUpId(t.id), qPrintable(t.id));
        else
            QCOMPARE(t.id, id);
        QCOMPARE(t.userId, userId);
        QCOMPARE(t.typ, OperationCatalogue::conversionTypeCode(operation));
        QCOMPARE(t.fileName, QString("in.docx"));
        QCOMPARE(t.pageNumber, qint64(4));
        QCOMPARE(t.sourceFilePath, QString("store/in.docx"));
        QCOMPARE(t.sourceFileMd5, QString("md5-in.docx"));
        QCOMPARE(t.resultFileTyp, resultFileTyp);
        QCOMPARE(t.status, qint64(0));
        QVERIFY2(isServiceTime(t.createAt), qPrintable(t.createAt));
        QCOMPARE(log.withPrefix("手动创建的转换任务: ").size(), 1);
    }

    void emptyRecordSendsNothing() {
        auto vm = fastViewModel();
        LogCapture log;
        auto out = finish(vm->convertToPDF("PDF to DOC", FileUploadData{}));
        QVERIFY(out->error);
        QCOMPARE(out->error->domain(), QString("No file selected"));
        QCOMPARE(m_server.requestCount(), 0);
        QVERIFY(log.indexOf("convertToPDF - 错误：没有找到上传的文件数据") >= 0);
    }
};

QTEST_GUILESS_MAIN(TestConvertRequest)
#include "tst_convertrequest.moc"
