#include "ClientTest.h"

#include "conversion/MultipartBody.h"
#include "service/LocalFile.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>

using namespace quorvel;
using namespace quorvel::test;

namespace {

QString boundaryOf(const ReceivedRequest &r) {
    static const QRegularExpression re(
        QStringLiteral("^multipart/form-data; boundary=([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
                       "[0-9A-F]{4}-[0-9A-F]{12})$"));
    const auto m = re.match(QString::fromLatin1(r.header("Content-Type")));
    return m.hasMatch() ? m.captured(1) : QString();
}

QByteArray expectedBody(const QString &boundary, const QByteArray &filenameParam,
                        const QByteArray &content) {
    const QByteArray b = boundary.toLatin1();
    return "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
           filenameParam + "\"\r\nContent-Type: application/pdf\r\n\r\n" + content + "\r\n--" + b +
           "--\r\n";
}

} // namespace

class TestUpload : public QObject {
    Q_OBJECT
    ScriptedService m_server;
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init() { m_server.reset(QStringLiteral("tok-abcdef-123")); }

    // The body on the wire is exactly the form's rows around the file's bytes.
    void bodyIsExactlyTheFormRows_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("filenameParam");
        QTest::addColumn<QByteArray>("content");
        QByteArray random(300'001, Qt::Uninitialized);
        QRandomGenerator gen(7);
        for (char &c : random)
            c = char(gen.bounded(256));
        QTest::newRow("empty file") << "empty.pdf" << QByteArray("empty.pdf") << QByteArray();
        QTest::newRow("binary, CR LF inside") << "scan.pdf" << QByteArray("scan.pdf") << random;
        QTest::newRow("quote escaped")
            << "say \"hi\".pdf" << QByteArray("say %22hi%22.pdf") << QByteArray("q");
        QTest::newRow("CR and LF escaped")
            << "a\r\nX-Evil: 1.pdf" << QByteArray("a%0D%0AX-Evil: 1.pdf") << QByteArray("c");
        QTest::newRow("utf-8 name") << QStringLiteral("报告 ü.pdf")
                                    << QStringLiteral("报告 ü.pdf").toUtf8() << QByteArray("u");
    }
    void bodyIsExactlyTheFormRows() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, filenameParam);
        QFETCH(QByteArray, content);
        m_server.answer("POST", kUpload, 200, uploadAnswer(fileName));
        const QString path = writeFile(m_dir, fileName, content);
        auto vm = fastViewModel();

        auto out = finish(vm->uploadFile(QUrl::fromLocalFile(path)));
        QVERIFY2(out->value, out->failure().constData());
        QCOMPARE(out->value->file_name, fileName);

        const auto received = m_server.requestsTo("POST", kUpload);
        QCOMPARE(received.size(), 1); // sent once, not twice
        const QString boundary = boundaryOf(received[0]);
        QVERIFY2(!boundary.isEmpty(), received[0].header("Content-Type").constData());
        const QByteArray expected = expectedBody(boundary, filenameParam, content);
        QCOMPARE(received[0].bodySize, qint64(expected.size()));
        QCOMPARE(received[0].header("Content-Length"), QByteArray::number(expected.size()));
        QVERIFY(received[0].body == expected);
    }

    void requestHeadersAndFreshBoundary() {
        m_server.answer("POST", kUpload, 200, uploadAnswer("a.pdf"));
        const QString path = writeFile(m_dir, "a.pdf", "abc");
        auto vm = fastViewModel();
        QVERIFY(!finish(vm->uploadFile(QUrl::fromLocalFile(path)))->error);
        TokenStore::remove();
        QVERIFY(!finish(vm->uploadFile(QUrl::fromLocalFile(path)))->error);

        const auto received = m_server.requestsTo("POST", kUpload);
        QCOMPARE(received.size(), 2);
        QCOMPARE(received[0].header("Authorization"), QByteArray("Bearer tok-abcdef-123"));
        QVERIFY(!received[1].hasHeader("Authorization"));
        QVERIFY(!boundaryOf(received[0]).isEmpty());
        QVERIFY(boundaryOf(received[0]) != boundaryOf(received[1]));
    }

    // Files that cannot be read end with a clear error before anything is sent.
    void unreadableInputSendsNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("domainPrefix");
        QTest::newRow("directory") << "directory"
                                   << "Failed to read file: ";
        QTest::newRow("missing file") << "missing"
                                      << "File not found";
        QTest::newRow("not a local file") << "remote"
                                          << "Permission denied";
        QTest::newRow("no read permission") << "mode000"
                                            << "Failed to read file: ";
    }
    void unreadableInputSendsNothing() {
        QFETCH(QString, kind);
        QFETCH(QString, domainPrefix);
        m_server.answer("POST", kUpload, 200, uploadAnswer("a.pdf"));
        QTemporaryDir dir;
        QUrl url;
        if (kind == "directory") {
            QVERIFY(QDir(dir.path()).mkdir("folder.pdf"));
            url = QUrl::fromLocalFile(dir.filePath("folder.pdf"));
        } else if (kind == "missing") {
            url = QUrl::fromLocalFile(dir.filePath("gone.pdf"));
        } else if (kind == "remote") {
            url = QUrl(QStringLiteral("https://example.com/a.pdf"));
        } else {
            if (geteuid() == 0)
                QSKIP("file modes do not restrict the superuser");
            const QString path = writeFile(dir, "locked.pdf", "x");
            QFile::setPermissions(path, {});
            url = QUrl::fromLocalFile(path);
        }
        auto vm = fastViewModel();
        LogCapture log;
        auto out = finish(vm->uploadFile(url));
        QVERIFY(out->done);
        QVERIFY(out->error);
        QVERIFY2(out->error->domain().startsWith(domainPrefix), qPrintable(out->error->domain()));
        QVERIFY(out->error->domain().size() > domainPrefix.size() ||
                domainPrefix != "Failed to read file: ");
        QCOMPARE(out->error->code(), -1);
        QCOMPARE(m_server.requestCount(), 0);
        QVERIFY(log.lines().isEmpty());
    }

    // Answers that are not a usable record end in a clear error; loose records are rebuilt.
    void answers_data() {
        QTest::addColumn<ScriptedResponse>("answer");
        QTest::addColumn<QString>("errorDomain");
        QTest::addColumn<qint64>("errorCode");
        QTest::addColumn<QString>("fileName");
        ScriptedResponse notUtf8 =
            ScriptedResponse::json(200, QByteArray("{\"data\":\"\xff\xfe\"}"));
        QTest::newRow("loose record, manual extraction")
            << ScriptedResponse::json(
                   200, R"({"code":7,"data":{"file_name":"only.pdf","page_number":"9"}})")
            << "" << qint64(0) << "only.pdf";
        QTest::newRow("status 413")
            << ScriptedResponse::json(413, "too big") << "Upload failed" << qint64(413) << "";
        QTest::newRow("data not an object")
            << ScriptedResponse::json(200, R"({"code":0,"msg":"ok","data":[1,2]})")
            << "NSCocoaErrorDomain" << qint64(4864) << "";
        QTest::newRow("not UTF-8") << notUtf8 << "NSCocoaErrorDomain" << qint64(4864) << "";
        QTest::newRow("empty data: no upload record")
            << ScriptedResponse::json(200, R"({"code":0,"msg":"ok","data":{}})")
            << "The service's answer held no upload record" << qint64(-1) << "";
    }
    void answers() {
        QFETCH(ScriptedResponse, answer);
        QFETCH(QString, errorDomain);
        QFETCH(qint64, errorCode);
        QFETCH(QString, fileName);
        m_server.script("POST", kUpload, {answer});
        const QString path = writeFile(m_dir, "in.pdf", "data");
        auto vm = fastViewModel();
        LogCapture log;
        auto out = finish(vm->uploadFile(QUrl::fromLocalFile(path)));
        QVERIFY(out->done);
        if (errorDomain.isEmpty()) {
            QVERIFY2(out->value, out->failure().constData());
            QCOMPARE(out->value->file_name, fileName);
        } else {
            QVERIFY(out->error);
            QCOMPARE(out->error->domain(), errorDomain);
            QCOMPARE(out->error->code(), errorCode);
        }
        if (answer.status != 200) {
            QVERIFY(log.indexOfPrefix("uploadFile httpResponse.......: ") >= 0);
            QCOMPARE(log.indexOf("===== 上传响应字符串 ====="), -1);
        }
        if (QTest::currentDataTag() == QByteArray("not UTF-8"))
            QVERIFY(log.indexOf("无法解析的响应数据") >= 0);
    }

    void traceLinesInOrder() {
        m_server.answer("POST", kUpload, 200, uploadAnswer("t.pdf"));
        const QString path = writeFile(m_dir, "t.pdf", "12345");
        auto vm = fastViewModel();
        LogCapture log;
        QVERIFY(!finish(vm->uploadFile(QUrl::fromLocalFile(path)))->error);
        const QString url = m_server.origin() + "/api/v2/uploadfilepdf";
        const qint64 bodySize = MultipartBody::headFor("t.pdf", QString(36, 'A')).size() + 5 +
                                MultipartBody::tailFor(QString(36, 'A')).size();
        const QStringList expected = {
            ">>>>>>>>>>>>>>>>>>>>>>>>>>..1111",
            ">>>>>>>>>>>>>>>>>>>>>>>>>>..222222",
            "🌐 Request URL: " + url,
            "📝 Request method: POST",
            ">>>>>>>>>>>>>>>>>>>>>>>>>>..333333 request: " + url,
            ">>>>>>>>>>>>>>>>>>>>>>>>>>..444444 data: 0 bytes",
            QStringLiteral(">>>>>>>>>>>>>>>>>>>>>>>>>>..555555 data: %1 bytes").arg(bodySize),
            "uploadFile.......: ",
            "uploadFile httpResponse.......: ",
            "===== 上传响应字符串 =====",
            QString::fromUtf8(uploadAnswer("t.pdf")),
            "========================",
            "上传响应解析为JSON: ",
            "成功解码为FileUploadResponse",
        };
        QCOMPARE(log.missingInOrder(expected), QString());
        QVERIFY(log.indexOfPrefix("🔑 Headers: ") >= 0);
    }

    // The transfer's completion is the milestone: the bar ends at exactly 1.
    void progressReachesOneOnCompletion() {
        ScriptedResponse slow = ScriptedResponse::json(200, uploadAnswer("p.pdf"));
        slow.delayMs = 150;
        m_server.script("POST", kUpload, {slow});
        const QString path = writeFile(m_dir, "p.pdf", QByteArray(2'500'000, 'p'));
        auto vm = fastViewModel();
        QList<double> actual;
        connect(vm.get(), &PDFViewModel::actualUploadProgressChanged, this,
                [&] { actual << vm->actualUploadProgress(); });
        QVERIFY(!finish(vm->uploadFile(QUrl::fromLocalFile(path)))->error);
        QCOMPARE(vm->actualUploadProgress(), 1.0);
        QTRY_COMPARE_WITH_TIMEOUT(vm->uploadProgress(), 1.0, 5000);
        // Zeroed first, then simulated steps below 0.95 before the milestone.
        QVERIFY(actual.size() >= 3);
        QCOMPARE(actual.first(), 0.0);
        QVERIFY(actual[1] > 0 && actual[1] < 0.95);
        QCOMPARE(actual.last(), 1.0);
    }

    void multipartBodySeeksAndReadsAcrossParts() {
        const QString path = writeFile(m_dir, "m.pdf", "0123456789");
        QString error;
        MultipartBody body(openRegularFile(path, &error), "m.pdf", "B");
        QVERIFY(body.open(QIODevice::ReadOnly));
        const QByteArray all = body.readAll();
        QCOMPARE(all, expectedBody("B", "m.pdf", "0123456789"));
        QCOMPARE(body.size(), qint64(all.size()));
        QVERIFY(body.atEnd());
        // Rewinding (a resend) and reading from inside the file give the same bytes.
        const qint64 fileStart = body.head().size();
        QVERIFY(body.seek(fileStart + 4));
        QCOMPARE(body.read(8), all.mid(fileStart + 4, 8));
        QVERIFY(body.seek(0));
        QCOMPARE(body.readAll(), all);
        QVERIFY(!body.seek(all.size() + 1));
    }
};

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
