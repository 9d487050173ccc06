#include "ClientTest.h"

#include "history/ConversionTaskModel.h"
#include "history/EnvelopeReader.h"
#include "history/HistoryParser.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>

#include <QCoroTask>

using namespace quorvel;
using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

const QString kStart = QStringLiteral("🔍 开始获取转换历史记录...");
const QString kParseA = QStringLiteral("🔄 开始解析标准格式...");
const QString kStructureBad =
    QStringLiteral("⚠️ JSON结构验证失败，不符合预期格式");
const QString kFormat =
    QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
const QString kMissing = QStringLiteral("The data couldn’t be read because it is missing.");
const QString kAFailed =
    QStringLiteral("⚠️ 标准格式解析失败，尝试替代解析方式: ");
const QString kBFailed = QStringLiteral("⚠️ 数组格式解析也失败: ");
const QString kStructureError =
    QStringLiteral("The operation couldn’t be completed. (JSON structure invalid error -1.)");
const QString kCTried = QStringLiteral("🔍 检测到标准格式，尝试手动提取...");
const QString kDTried = QStringLiteral("🛠️ 尝试修复畸形JSON");
const QString kFTried = QStringLiteral("🧩 尝试解析JSON片段");
const QString kNothing =
    QStringLiteral("ℹ️ 当前账号可能没有历史记录或格式不同，显示空列表");

// "id|fileName|status|createAt" of a published job; a generated id shows as "<uuid>",
// a generated creation time as "<now>".
QString summary(const ConversionTask &t) {
    QString id = t.id;
    if (isMadeUpId(id))
        id = QStringLiteral("<uuid>");
    QString createAt = t.createAt;
    if (isServiceTime(createAt)) {
        const QDateTime when =
            QDateTime::fromString(createAt.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QDateTime utc = when;
        utc.setTimeSpec(Qt::UTC);
        if (qAbs(utc.secsTo(QDateTime::currentDateTimeUtc())) < 120)
            createAt = QStringLiteral("<now>");
    }
    return QStringLiteral("%1|%2|%3|%4").arg(id, t.fileName, QString::number(t.status), createAt);
}

QStringList summaries(const QList<ConversionTask> &tasks) {
    QStringList out;
    for (const ConversionTask &t : tasks)
        out << summary(t);
    return out;
}

// Lines written after the fetch's start line.
QStringList linesAfterStart(const LogCapture &log) {
    const qsizetype start = log.indexOf(kStart);
    return start < 0 ? QStringList{} : log.lines().mid(start + 1);
}

// Compares lines; an expected line ending in "…" matches any line with that prefix.
bool sameLines(const QStringList &actual, const QStringList &expected, QString *why) {
    for (qsizetype i = 0; i < qMax(actual.size(), expected.size()); ++i) {
        const QString a = actual.value(i, QStringLiteral("<none>"));
        const QString e = expected.value(i, QStringLiteral("<none>"));
        const bool match = e.endsWith(u'…') ? a.startsWith(e.chopped(1)) : a == e;
        if (!match) {
            *why = QStringLiteral("line %1:\n  actual:   %2\n  expected: %3")
                       .arg(i)
                       .arg(a.left(300), e.left(300));
            return false;
        }
    }
    return true;
}

} // namespace

class TestHistoryFetch : public QObject {
    Q_OBJECT
    ScriptedService m_server;

private Q_SLOTS:
    void init() { m_server.reset(); }

    // Every shape of answer ends in a defined list and defined lines.
    void answerShapes_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("lines"); // after the status and raw-body lines
        QTest::addColumn<QStringList>("tasks");
        const auto ok = [](const QByteArray &jobs) -> QByteArray {
            return "{\"code\":0,\"msg\":\"ok\",\"data\":{\"converts\":[" + jobs + "]}}";
        };
        const auto valid = [](int code, int jobs) {
            return QStringLiteral("✅ JSON结构验证成功: 包含code=%1和%2条记录").arg(code).arg(jobs);
        };
        // Read by the standard decoder; `answer` is a prefix when it ends in "…".
        const auto byA = [&](int code, int jobs, const QString &answer = QStringLiteral("…")) {
            return QStringList{kParseA, valid(code, jobs),
                               "historyResponse>>>>>>>>>>>>>>>>>: " + answer,
                               QStringLiteral("✅ 成功获取历史记录，共 %1 条").arg(jobs)};
        };
        const auto ab = [](const QString &whyA) {
            return QStringList{kAFailed + whyA, kBFailed + kFormat};
        };
        const auto byC = [](const QStringList &ids) {
            QStringList lines{kCTried};
            for (const QString &id : ids)
                lines << "处理记录: " + id;
            return lines << QStringLiteral("✅ 手动提取成功，共 %1 条记录").arg(ids.size());
        };
        const auto byF = [](const QString &id) {
            return QStringList{kFTried, "🔍 成功从JSON片段提取任务: " + id,
                               "✅ 从JSON片段解析出1条记录"};
        };
        const QStringList badShape{kParseA, kStructureBad, kAFailed + kStructureError};
        const QStringList badShapeB = badShape + QStringList{kBFailed + kFormat};
        const QStringList noFragment{kFTried, kNothing};
        const QStringList badFragment{kFTried, "⚠️ JSON片段解析为任务失败: " + kFormat,
                                      kNothing};

        QTest::newRow("envelope, no jobs")
            << 200 << ok("")
            << byA(0, 0,
                   "ConversionHistoryResponse(code: 0, msg: \"ok\", data: "
                   "ConversionHistoryData(converts: 0 jobs))")
            << QStringList{};
        QTest::newRow("envelope, code value ignored, undefined status kept")
            << 200
            << QByteArray("{\"code\":1,\"msg\":\"x\",\"data\":{\"converts\":[{\"id\":\"a1\",\"file_"
                          "name\":\"a.pdf\",\"status\":1,\"create_at\":\"2025-01-01\"},{\"id\":"
                          "\"a2\",\"status\":3}]}}")
            << byA(1, 2, "ConversionHistoryResponse(code: 1, msg: \"x\"…")
            << QStringList{"a1|a.pdf|1|2025-01-01", "a2||3|"};
        QTest::newRow("envelope beyond the quick reader")
            << 200
            << QByteArray("{\"code\":2.0,\"msg\":\"\\ud83d\\udcc4\",\"data\":{\"meta\":{\"v\":[1]},"
                          "\"converts\":[{\"id\":\"b1\",\"status\":1.0,\"page_number\":2e0,\"file_"
                          "name\":\"x\\ud83d\\udcc4.pdf\"}]}}")
            << byA(2, 1, "ConversionHistoryResponse(code: 2, msg: \"📄\"…")
            << QStringList{"b1|x📄.pdf|1|"};
        QTest::newRow("number id, no msg: manual extraction")
            << 200
            << QByteArray("{\"code\":0,\"data\":{\"converts\":[{\"id\":5,\"file_name\":\"a.pdf\","
                          "\"status\":1}]}}")
            << QStringList{kParseA, valid(0, 1)} + ab(kMissing) + byC({"5"})
            << QStringList{"5|a.pdf|1|<now>"};
        QTest::newRow("string status: manual extraction with defaults")
            << 200 << ok("{\"id\":\"s1\",\"status\":\"1\",\"page_number\":\"2\"}")
            << QStringList{kParseA, valid(0, 1)} + ab(kFormat) + byC({"s1"})
            << QStringList{"s1|Unknown File|0|<now>"};
        QTest::newRow("null and missing ids")
            << 200
            << ok("{\"id\":null,\"file_name\":\"x.pdf\"},{\"file_name\":\"y.pdf\"},{\"id\":2.5},"
                  "{\"id\":true}")
            << QStringList{kParseA, valid(0, 4)} + ab(kMissing) +
                   byC({"<null>", "未知ID", "2.5", "1"})
            << QStringList{"<uuid>|x.pdf|0|<now>", "<uuid>|y.pdf|0|<now>",
                           "2.5|Unknown File|0|<now>", "<uuid>|Unknown File|0|<now>"};
        QTest::newRow("bare array")
            << 200 << QByteArray("[{\"id\":\"t1\",\"file_name\":\"b.pdf\",\"status\":0}]")
            << badShape + QStringList{"✅ 成功解析为任务数组，共 1 条"}
            << QStringList{"t1|b.pdf|0|"};
        QTest::newRow("empty array is B, not E")
            << 200 << QByteArray("[]") << badShape + QStringList{"✅ 成功解析为任务数组，共 0 条"}
            << QStringList{};
        QTest::newRow("lost head, repair fails, fragment found")
            << 200 << QByteArray(",{\"id\":\"t2\",\"file_name\":\"c.pdf\"}]")
            << QStringList{kParseA} + ab(kFormat) +
                   QStringList{kDTried, "⚠️ 修复后的JSON解析仍然失败: " + kFormat} +
                   byF("t2")
            << QStringList{"t2|c.pdf|0|<now>"};
        QTest::newRow("lost head with bracket, repaired")
            << 200 << QByteArray("],{\"id\":\"t3\"},{\"id\":\"t4\",\"status\":1}")
            << QStringList{kParseA} + ab(kFormat) +
                   QStringList{kDTried, "✅ 成功解析修复后的JSON，共 2 条"}
            << QStringList{"t3||0|", "t4||1|"};
        QTest::newRow("empty object")
            << 200 << QByteArray("{}")
            << badShapeB + QStringList{"🔍 检测到空数据返回",
                                       "ℹ️ 账号无历史记录，显示空列表"}
            << QStringList{};
        QTest::newRow("fragment inside text")
            << 200
            << QByteArray(
                   "oops {\"id\":\"f1\",\"file_name\":\"z.pdf\",\"status\":2,\"page_number\":4} "
                   "tail")
            << QStringList{kParseA} + ab(kFormat) + byF("f1") << QStringList{"f1|z.pdf|2|<now>"};
        QTest::newRow("spaced envelope skips C, fragment unparsable")
            << 200
            << QByteArray("{\"code\": 0, \"msg\": \"ok\", \"data\": {\"converts\": [{\"id\": 7}]}}")
            << QStringList{kParseA, valid(0, 1)} + ab(kFormat) + badFragment << QStringList{};
        QTest::newRow("no jobs and no msg: C moves on")
            << 200 << QByteArray("{\"code\":0,\"data\":{\"converts\":[]}}")
            << QStringList{kParseA, valid(0, 0)} + ab(kMissing) + QStringList{kCTried} + noFragment
            << QStringList{};
        QTest::newRow("code as text")
            << 200
            << QByteArray(
                   "{\"code\":\"0\",\"msg\":\"ok\",\"data\":{\"converts\":[{\"id\":\"q1\"}]}}")
            << badShapeB + badFragment << QStringList{};
        QTest::newRow("fractional code")
            << 200 << QByteArray("{\"code\":0.5,\"msg\":\"ok\",\"data\":{\"converts\":[]}}")
            << badShapeB + QStringList{kCTried} + noFragment << QStringList{};
        QTest::newRow("truncated document")
            << 200
            << QByteArray("{\"code\":0,\"msg\":\"ok\",\"data\":{\"converts\":[{\"id\":\"k1\","
                          "\"file_name\":\"a.pdf\"},{\"id\":\"k2\",\"file_na")
            << QStringList{kParseA} + ab(kFormat) +
                   QStringList{kCTried, "⚠️ 手动提取失败: " + kFormat} + byF("k1")
            << QStringList{"k1|a.pdf|0|<now>"};
        QTest::newRow("nested too deep")
            << 200 << QByteArray(100000, '[') << QStringList{kParseA} + ab(kFormat) + noFragment
            << QStringList{};
        QTest::newRow("megabytes of whitespace")
            << 200 << QByteArray(2 << 20, ' ') + ok("{\"id\":\"w1\"}") + QByteArray(2 << 20, '\n')
            << byA(0, 1) << QStringList{"w1||0|"};
        QTest::newRow("401 with body")
            << 401 << QByteArray("{\"code\":401,\"msg\":\"token expired\"}")
            << QStringList{"🔐 身份验证失败，可能需要重新登录"} << QStringList{};
        QTest::newRow("401 empty: empty body comes first")
            << 401 << QByteArray() << QStringList{"⚠️ 响应数据为空"} << QStringList{};
        const QString failed500 = QStringLiteral(
            "The operation couldn’t be completed. (Failed to fetch history error 500.)");
        QTest::newRow("500 with a valid history is still a failure")
            << 500
            << QByteArray("{\"code\":0,\"msg\":\"ok\",\"data\":{\"converts\":[{\"id\":\"x\"}]}}")
            << QStringList{"❌ 获取历史记录失败: " + failed500,
                           "Error fetching history: " + failed500}
            << QStringList{};
    }

    void answerShapes() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, tasks);

        PDFViewModel vm;
        // A list shown before is replaced, never appended to.
        vm.publishTasks({task(QStringLiteral("old"))});
        m_server.answer("GET", kHistory, status, body);
        LogCapture log;
        QCoro::waitFor(vm.fetchConversionHistory());

        QCOMPARE(m_server.requestsTo("GET", kHistory).size(), 1);
        // The request builder's lines come before the fetch's start line.
        QVERIFY(log.indexOfPrefix(QStringLiteral("🌐 Request URL: ")) < log.indexOf(kStart));
        QVERIFY(!vm.isLoadingHistory());
        QCOMPARE(summaries(vm.conversionTasks()), tasks);
        QCOMPARE(vm.filteredTaskModel()->rowCount(), tasks.size());

        const QStringList after = linesAfterStart(log);
        QVERIFY2(!after.isEmpty(), "no start line");
        QCOMPARE(after.value(0), QStringLiteral("📥 历史记录响应状态码: %1").arg(status));
        const QString text = QStringLiteral("📄 原始响应内容: ") + QString::fromUtf8(body);
        QVERIFY2(after.value(1) == text, qPrintable(after.value(1).left(200)));
        QString why;
        QVERIFY2(sameLines(after.mid(2), lines, &why), qPrintable(why));
    }

    // A failed fetch is reported with its code, after the list is in place and its line is
    // written; an empty answer is "no jobs" only from a success.
    void failureReported_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("action");
        QTest::addColumn<qint64>("code"); // 0: not reported
        const int respond = int(ScriptedResponse::Action::Respond);
        QTest::newRow("200 empty") << 200 << QByteArray() << respond << qint64(0);
        QTest::newRow("500 empty") << 500 << QByteArray() << respond << qint64(500);
        QTest::newRow("redirect empty") << 302 << QByteArray() << respond << qint64(302);
        QTest::newRow("500") << 500 << QByteArray("x") << respond << qint64(500);
        QTest::newRow("401") << 401 << QByteArray("{}") << respond << qint64(401);
        QTest::newRow("empty account") << 200 << QByteArray("[]") << respond << qint64(0);
        QTest::newRow("connection dropped")
            << 200 << QByteArray("[]") << int(ScriptedResponse::Action::Drop) << qint64(-1005);
    }
    void failureReported() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, action);
        QFETCH(qint64, code);
        m_server.script("GET", kHistory, {acting(ScriptedResponse::Action(action), status, body)});
        PDFViewModel vm;
        vm.publishTasks({task(QStringLiteral("old"))});
        LogCapture log;
        QSignalSpy failed(&vm, &PDFViewModel::historyFetchFailed);
        QCoro::waitFor(vm.fetchConversionHistory());
        QVERIFY(!vm.isLoadingHistory());
        QVERIFY(vm.conversionTasks().isEmpty());
        QCOMPARE(failed.size(), code == 0 ? 0 : 1);
        if (code == 0)
            return;
        QCOMPARE(failed[0][1].toLongLong(), code);
        // An empty or refused answer ends on its own line instead.
        if (status != 401 && !body.isEmpty()) {
            QCOMPARE(log.withPrefix(QStringLiteral("❌ 获取历史记录失败: ")).size(), 1);
            QCOMPARE(log.lines().last(),
                     QStringLiteral("Error fetching history: ") + failed[0][0].toString());
        }
    }

    void nonUtf8Body_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("tasks");
        QTest::addColumn<QString>("lastLine");
        // Strategies C to F see only the placeholder; A and B refuse what is not UTF-8.
        QTest::newRow("bad byte in an envelope")
            << QByteArray("{\"code\":0,\"msg\":\"ok\",\"data\":{\"converts\":[{\"id\":\"u1\","
                          "\"file_name\":\"\xff.pdf\"}]}}")
            << QStringList{} << kNothing;
        QTest::newRow("cut multi-byte sequence at the end")
            << QByteArray("[{\"id\":\"u2\"}]\xe4\xb8") << QStringList{} << kNothing;
        QTest::newRow("overlong slash")
            << QByteArray("[{\"id\":\"u3\xc0\xaf\"}]") << QStringList{} << kNothing;
        QTest::newRow("encoded surrogate")
            << QByteArray("[{\"id\":\"u4\xed\xa0\x80\"}]") << QStringList{} << kNothing;
        QTest::newRow("valid multi-byte at the end")
            << QByteArray("[{\"id\":\"u5\"}]  \xe4\xb8\xad")
            << QStringList{"u5|Unknown File|0|<now>"}
            << QStringLiteral("✅ 从JSON片段解析出1条记录");
    }

    void nonUtf8Body() {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, tasks);
        QFETCH(QString, lastLine);
        m_server.answer("GET", kHistory, 200, body);
        PDFViewModel vm;
        LogCapture log;
        QCoro::waitFor(vm.fetchConversionHistory());
        QCOMPARE(summaries(vm.conversionTasks()), tasks);
        const bool utf8 = Log::isValidUtf8(body);
        QCOMPARE(log.indexOf(QStringLiteral("📄 原始响应内容: 无法解析的响应数据")) >= 0, !utf8);
        QCOMPARE(log.lines().last(), lastLine);
    }

    // The parser decides the same whether or not the log is listening: with the log
    // silent it skips forming texts, never decisions.
    void silentLogSameOutcome_data() { nonUtf8Body_data(); }
    void silentLogSameOutcome() {
        QFETCH(QByteArray, body);
        QByteArray valid =
            "{\"code\":0,\"msg\":\"ok\",\"data\":{\"converts\":[{\"id\":\"v1\"},{\"id\":\"v2\"}]}}";
        for (const QByteArray &bytes : {body, valid, valid + "\xe4\xb8", "\xef\xbb\xbf" + valid}) {
            HistoryOutcome loud;
            {
                LogCapture log;
                loud = interpretHistoryAnswer(true, 200, bytes);
            }
            Log::setSink({});
            const HistoryOutcome silent = interpretHistoryAnswer(true, 200, bytes);
            Log::useStandardOutput();
            QCOMPARE(summaries(silent.tasks), summaries(loud.tasks));
            QCOMPARE(silent.lineAfterPublish, loud.lineAfterPublish);
        }
    }

    // "fail_reason" and "note" came later than the other keys: a string is kept, anything else
    // reads as none and never fails the job or the history, on every parsing path.
    void additiveKeys_data() {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("text");
        for (const char *key : {"fail_reason", "note"}) {
            const auto row = [key](const char *name) -> QTestData & {
                return QTest::newRow(qPrintable(u"%1: %2"_s.arg(key, name))) << QByteArray(key);
            };
            row("text") << QByteArray("\"too large for the engine's memory\"")
                        << u"too large for the engine's memory"_s;
            row("escaped text") << QByteArray("\"timed \\u0022out\\u0022\"") << u"timed \"out\""_s;
            row("null") << QByteArray("null") << QString();
            row("number") << QByteArray("7") << QString();
            row("object") << QByteArray("{\"why\":\"x\"}") << QString();
        }
    }
    void additiveKeys() {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QString, text);
        const auto member = key == "note" ? &ConversionTask::note : &ConversionTask::failReason;
        const QByteArray job = "{\"id\":\"f1\",\"status\":2,\"" + key + "\":" + value + "}";
        QCOMPARE(ConversionTask::decode(QJsonDocument::fromJson(job).object()).*member, text);
        for (const QByteArray &body :
             {"{\"code\":0,\"msg\":\"ok\",\"data\":{\"converts\":[" + job + "]}}",
              "[" + job + "]"}) {
            LogCapture log;
            const HistoryOutcome outcome = interpretHistoryAnswer(true, 200, body);
            QCOMPARE(outcome.tasks.size(), 1);
            QCOMPARE(outcome.tasks.first().status, 2);
            QCOMPARE(outcome.tasks.first().*member, text);
        }
    }

    // The quick UTF-8 check judges exactly as Qt's decoder does.
    void strictUtf8() {
        QList<QByteArray> samples{QByteArray(), QByteArray(1000, 'a'), QByteArray(1, '\0')};
        for (const char *bytes :
             {"caf\xc3\xa9", "\xe5\xb9\xb4\xe5\xba\xa6", "\xf0\x9f\x93\x84", "\xf4\x8f\xbf\xbf",
              "\xef\xbf\xbe", "abc\x80", "\xc0\xaf", "\xc1\xbf", "\xe0\x80\xaf", "\xf0\x80\x80\xaf",
              "\xed\xa0\x80", "\xed\x9f\xbf", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xff",
              "abcdefgh\xc3", "abcdefgh\xf0\x9f\x93", "abcdefgh\xe5\xb9zzzzzzzz",
              "abcdefgh\xc3\xa9ijklmnop\xe2\x82\xac"})
            samples << bytes;
        for (const QByteArray &bytes : samples)
            QVERIFY2(isStrictUtf8(bytes) == Log::isValidUtf8(bytes), bytes.toHex().constData());
    }

    // The quick envelope reader takes the usual answers and leaves everything doubtful
    // to the general path; whatever it takes, it reads exactly as the JSON document does.
    void quickEnvelopeReader() {
        const auto jobs = [](const QByteArray &items) {
            return R"({"code":0,"msg":"ok","data":{"converts":[)" + items + "]}}";
        };
        const QList<QByteArray> taken{
            jobs(
                R"({"id":"a","file_name":"a.pdf","status":1,"page_number":3,"typ":"pdf2doc","user_id":"u","source_file_path":"/p","source_file_typ":"pdf","result_file_typ":"docx","source_file_md5":"m","create_at":"2025"})"),
            jobs(""),
            " {\n \"code\" : -7 ,\r\n\t\"msg\":\"\" , \"data\" : { \"converts\" : [ { \"id\" : "
            "\"s\" } , {\"id\":\"t\"} ] } } \n",
            jobs("{\"id\":\"e\\\"1\",\"file_name\":\"a\\/b\\\\c\\n\\t\\u00e9\\u5e74\\u0000.pdf\"}"),
            jobs("{\"id\":\"\xe5\xb9\xb4\",\"file_name\":\"\xf0\x9f\x93\x84\"}"),
            jobs(
                R"({"id":"n","file_name":null,"status":null,"page_number":null,"create_at":null})"),
            R"({"extra":true,"code":0,"x":null,"msg":"ok","data":{"n":1,"converts":[{"id":"u","flag":false,"note":"x"}],"t":"y"},"z":-3})",
            jobs(R"({"id":"b","status":-0,"page_number":999999999999999999})")};
        QList<QByteArray> declined{R"({"code":0,"code":1,"msg":"ok","data":{"converts":[]}})",
                                   R"({"code":0,"data":{"converts":[]}})",
                                   R"([{"id":"a"}])",
                                   "\xef\xbb\xbf" + jobs(R"({"id":"c"})"),
                                   jobs(R"({"id":"c"})") + "x",
                                   jobs(R"({"id":"c")").left(40)};
        for (const char *job : {R"({"id":"\ud83d\udcc4"})", R"({"id":"n","meta":{"a":1}})",
                                R"({"id":"d1","id":"d2"})", R"({"id":"f","status":1.0})",
                                R"({"id":"f","status":1e0})", R"({"id":"z","status":01})",
                                R"({"id":"g","page_number":1000000000000000000})", R"({"id":5})",
                                R"({"id":null})", R"({"id":"s","status":"1"})", "{}",
                                R"({"id":"c"},)", "{\"id\":\"a\tb\"}", R"({"\u0069d":"k"})"})
            declined << jobs(job);
        for (const QByteArray &body : declined)
            QVERIFY2(!readHistoryEnvelope(body), body.constData());
        for (const QByteArray &body : taken) {
            const std::optional<ConversionHistoryResponse> read = readHistoryEnvelope(body);
            QVERIFY2(read, body.constData());
            const ConversionHistoryResponse reference = ConversionHistoryResponse::decode(body);
            QCOMPARE(read->code, reference.code);
            QCOMPARE(read->msg, reference.msg);
            QCOMPARE(read->data.converts.size(), reference.data.converts.size());
            for (qsizetype i = 0; i < read->data.converts.size(); ++i)
                QVERIFY2(read->data.converts[i].sameContent(reference.data.converts[i]),
                         qPrintable(read->data.converts[i].render()));
        }
    }

    // QT_LOGGING_RULES selects lines by subsystem; the lines written stay the same.
    void loggingCategoriesSelectLines() {
        const QByteArray body = R"({"code":0,"msg":"ok","data":{"converts":[{"id":"a"}]}})";
        LogCapture all;
        interpretHistoryAnswer(true, 200, body);
        const QStringList lines = all.lines();
        QVERIFY(!lines.isEmpty());
        QLoggingCategory::setFilterRules(QStringLiteral("quorvel.history=false"));
        LogCapture none;
        interpretHistoryAnswer(true, 200, body);
        QLoggingCategory::setFilterRules(QStringLiteral("quorvel.http=false"));
        LogCapture again;
        interpretHistoryAnswer(true, 200, body);
        QLoggingCategory::setFilterRules({});
        QCOMPARE(none.lines(), QStringList{});
        QCOMPARE(again.lines(), lines);
    }

    void notHttpAnswer() {
        LogCapture log;
        const HistoryOutcome outcome = interpretHistoryAnswer(false, 0, "[]");
        QVERIFY(outcome.tasks.isEmpty());
        const QString d =
            QStringLiteral("The operation couldn’t be completed. (Invalid response error -1.)");
        QCOMPARE(log.lines(), QStringList{"❌ 获取历史记录失败: " + d});
        QCOMPARE(outcome.lineAfterPublish, "Error fetching history: " + d);
    }

    // List replaced, loading flag cleared, then the line: the count in the line always
    // matches what the page shows.
    void publishOrder_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("A")
            << 200
            << QByteArray("{\"code\":0,\"msg\":\"ok\",\"data\":{\"converts\":[{\"id\":\"p1\"}]}}")
            << "✅ 成功获取历史记录，共 1 条";
        QTest::newRow("failure") << 503 << QByteArray("x")
                                 << "Error fetching history: The operation couldn’t be completed. "
                                    "(Failed to fetch history error 503.)";
    }
    void publishOrder() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, lastLine);
        m_server.answer("GET", kHistory, status, body);
        PDFViewModel vm;
        vm.publishTasks({task(QStringLiteral("old"))});
        QStringList events;
        connect(vm.conversionTaskModel(), &ConversionTaskModel::tasksChanged, this,
                [&] { events << QStringLiteral("list"); });
        connect(&vm, &PDFViewModel::isLoadingHistoryChanged, this, [&] {
            events << (vm.isLoadingHistory() ? QStringLiteral("loading")
                                             : QStringLiteral("loaded"));
        });
        Log::setSink([&](const QString &line) {
            if (line == lastLine)
                events << QStringLiteral("line");
        });
        QCoro::waitFor(vm.fetchConversionHistory());
        Log::useStandardOutput();
        QCOMPARE(events, (QStringList{"loading", "list", "loaded", "line"}));
    }

    // Two fetches overlap: the one that finishes last decides the list, and the flag
    // is clear once both are done.
    void overlappingFetches() {
        ScriptedResponse slow = ScriptedResponse::json(200, "[{\"id\":\"slow\"}]");
        slow.delayMs = 300;
        m_server.script("GET", kHistory,
                        {slow, ScriptedResponse::json(200, "[{\"id\":\"fast\"}]")});
        PDFViewModel vm;
        LogCapture log;
        auto first = vm.fetchConversionHistory();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(), 1, 5000);
        auto second = vm.fetchConversionHistory();
        QCoro::waitFor(std::move(second));
        QCOMPARE(summaries(vm.conversionTasks()), QStringList{"fast||0|"});
        QCoro::waitFor(std::move(first));
        QCOMPARE(summaries(vm.conversionTasks()), QStringList{"slow||0|"});
        QVERIFY(!vm.isLoadingHistory());
    }

    // The view model goes away while its fetch waits for the answer: nothing is
    // touched afterwards, nothing crashes.
    void viewModelGoneDuringFetch() {
        ScriptedResponse slow = ScriptedResponse::json(200, "[{\"id\":\"late\"}]");
        slow.delayMs = 200;
        m_server.script("GET", kHistory, {slow});
        auto *vm = new PDFViewModel;
        LogCapture log;
        auto pending = vm->fetchConversionHistory();
        QVERIFY(vm->isLoadingHistory());
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(), 1, 5000);
        delete vm;
        QCoro::waitFor(std::move(pending));
        QCOMPARE(log.indexOfPrefix(QStringLiteral("📥 历史记录响应状态码")), -1);
    }

    void extractTaskFieldsDefaults_data() {
        QTest::addColumn<QByteArray>("object");
        QTest::addColumn<QString>(
            "expected"); // id|userId|typ|fileName|pageNumber|path|srcTyp|resTyp|md5|status
        QTest::newRow("all wrong types")
            << QByteArray("{\"id\":1,\"user_id\":2,\"typ\":[],\"file_name\":{},\"page_number\":"
                          "\"3\",\"source_file_path\":null,\"source_file_typ\":true,\"result_file_"
                          "typ\":1.5,\"source_file_md5\":[1],\"status\":1.5}")
            << "1|||Unknown File|0|||||0";
        QTest::newRow("integral floats count as numbers")
            << QByteArray("{\"id\":\"i\",\"page_number\":3.0,\"status\":2e0}")
            << "i|||Unknown File|3|||||2";
        QTest::newRow("huge numbers take the default")
            << QByteArray("{\"id\":\"i\",\"page_number\":1e300,\"status\":-1e300}")
            << "i|||Unknown File|0|||||0";
        QTest::newRow("empty object") << QByteArray("{}") << "<uuid>|||Unknown File|0|||||0";
    }
    void extractTaskFieldsDefaults() {
        QFETCH(QByteArray, object);
        QFETCH(QString, expected);
        const ConversionTask t = extractTaskFields(QJsonDocument::fromJson(object).object());
        const QString id = isMadeUpId(t.id) ? QStringLiteral("<uuid>") : t.id;
        const QString actual = QStringList{id,
                                           t.userId,
                                           t.typ,
                                           t.fileName,
                                           QString::number(t.pageNumber),
                                           t.sourceFilePath,
                                           t.sourceFileTyp,
                                           t.resultFileTyp,
                                           t.sourceFileMd5,
                                           QString::number(t.status)}
                                   .join(u'|');
        QCOMPARE(actual, expected);
        QVERIFY2(isServiceTime(t.createAt), qPrintable(t.createAt));
        // Generated ids differ on every call.
        QVERIFY(extractTaskFields({}).id != extractTaskFields({}).id);
    }

    void fragment_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("id"); // empty: nothing
        QTest::newRow("spaced marker is not found") << "{ \"id\":\"a\"}"
                                                    << "";
        QTest::newRow("first marker to last brace") << "x{\"id\":\"a\"}y{\"id\":\"b\"}"
                                                    << "";
        QTest::newRow("nested object inside") << "{\"id\":\"n\",\"x\":{\"y\":1}}"
                                              << "n";
        QTest::newRow("brace in a later string") << "..{\"id\":\"s\",\"file_name\":\"a}b\"}.."
                                                 << "s";
    }
    void fragment() {
        QFETCH(QString, text);
        QFETCH(QString, id);
        LogCapture log;
        const std::optional<ConversionTask> t = extractTaskFromFragment(text);
        QCOMPARE(t ? t->id : QString(), id);
        if (t)
            QCOMPARE(log.lines().last(), QStringLiteral("🔍 成功从JSON片段提取任务: ") + id);
    }

    // A job whose every field holds something else than its default reads the same on every
    // path, encodes back to the same body and shows the same in every model role: a field
    // one path forgets fails here.
    void everyFieldOnEveryPath() {
        ConversionTask job;
        job.id = QStringLiteral("j-1");
        job.userId = QStringLiteral("u-2");
        job.typ = QStringLiteral("pdf2img");
        job.fileName = QStringLiteral("年度 report.pdf");
        job.pageNumber = 12;
        job.sourceFilePath = QStringLiteral("/src/a.pdf");
        job.sourceFileTyp = QStringLiteral("pdf");
        job.resultFileTyp = QStringLiteral("zip");
        job.sourceFileMd5 = QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");
        job.status = 2;
        job.createAt = QStringLiteral("2025-01-31 08:15:00 +0000");
        job.failReason = QStringLiteral("engine stopped");
        job.note = QStringLiteral("no text found on page(s) 2");
        const QByteArray object =
            R"({"id":"j-1","user_id":"u-2","typ":"pdf2img","file_name":"年度 report.pdf",)"
            R"("page_number":12,"source_file_path":"/src/a.pdf","source_file_typ":"pdf",)"
            R"("result_file_typ":"zip","source_file_md5":"d41d8cd98f00b204e9800998ecf8427e",)"
            R"("status":2,"create_at":"2025-01-31 08:15:00 +0000","fail_reason":"engine stopped",)"
            R"("note":"no text found on page(s) 2"})";
        const auto envelope = [](const QByteArray &data) {
            return R"({"code":0,"msg":"ok","data":)" + data + '}';
        };
        const QByteArray history = envelope(R"({"converts":[)" + object + "]}");
        const auto same = [&job](const ConversionTask &read, const char *path) {
            QVERIFY2(read.sameContent(job),
                     qPrintable(QString::fromLatin1(path) + QStringLiteral(": ") + read.render()));
        };
        LogCapture log;
        same(ConversionTask::decode(QJsonDocument::fromJson(object).object()), "lenient");
        same(ConversionResponse::decode(envelope(object)).data, "convert answer");
        same(ConversionHistoryResponse::decode(history).data.converts.value(0), "strict");
        const std::optional<ConversionHistoryResponse> quick = readHistoryEnvelope(history);
        QVERIFY(quick);
        same(quick->data.converts.value(0), "quick reader");
        same(extractTaskFields(QJsonDocument::fromJson(object).object()), "by hand");
        const std::optional<ConversionTask> fragment =
            extractTaskFromFragment(QStringLiteral("noise ") + QString::fromUtf8(object));
        QVERIFY(fragment);
        same(*fragment, "fragment");
        same(decodeTaskArray('[' + object + ']').value(0), "bare array");
        // The usual answer, the one the quick reader declines (an object it does not
        // descend into), the bare array and the answer without "msg" (by hand).
        const QByteArray nested = QByteArray(object).replace("\"id\":", "\"x\":{\"y\":1},\"id\":");
        for (const QByteArray &body :
             {history, envelope(R"({"converts":[)" + nested + "]}"), '[' + object + ']',
              QByteArray(R"({"code":0,"data":{"converts":[)" + object + "]}}")}) {
            const HistoryOutcome outcome = interpretHistoryAnswer(true, 200, body);
            QCOMPARE(outcome.tasks.size(), 1);
            same(outcome.tasks.first(), body.constData());
        }
        // The encoder writes what the decoders read.
        QCOMPARE(job.toJson(), QJsonDocument::fromJson(object).object());
        ConversionTask plain = job;
        plain.failReason.clear();
        plain.note.clear();
        QVERIFY(!plain.toJson().contains(QStringLiteral("fail_reason")));
        QVERIFY(!plain.toJson().contains(QStringLiteral("note")));
        // Every role of the list model carries its field.
        ConversionTaskModel model;
        model.setTasks({job});
        const QHash<int, QByteArray> roles = model.roleNames();
        const QJsonObject encoded = job.toJson();
        for (const TaskField &f : kTaskFields) {
            const QVariant value = model.data(model.index(0), roles.key(f.name.data()));
            QCOMPARE(QJsonValue::fromVariant(value), encoded.value(f.key));
        }
        QVERIFY(roles.values().contains("failReason"));
        QVERIFY(roles.values().contains("note"));
    }
};

QTEST_GUILESS_MAIN(TestHistoryFetch)
#include "tst_history_fetch.moc"
