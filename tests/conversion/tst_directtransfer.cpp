#include "ClientTest.h"

#include "conversion/DirectTransfer.h"
#include "conversion/MultipartBody.h"
#include "service/LocalFile.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>

#include <QCoroTask>

#include <memory>

using namespace quorvel;
using namespace quorvel::test;

namespace {

const QByteArray kTarget = "/api/v2/up?x=1";

using Result = Outcome<HttpResponse>;

std::shared_ptr<Result> run(Request request, QIODevice *body, DirectOptions::Sink sink = {}) {
    return finish(sendDirect(std::move(request), DirectOptions{body, std::move(sink), {}}), 10000);
}

Request requestTo(quint16 port, const QByteArray &method = "POST", int timeoutMs = 30'000) {
    Request r;
    r.request.setUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port) + kTarget));
    r.method = method;
    r.setHeader("Accept", "application/json");
    r.setHeader("Content-Type", "multipart/form-data; boundary=B");
    r.timeoutMs = timeoutMs;
    return r;
}

ScriptedResponse raw(const QByteArray &bytes) {
    ScriptedResponse r;
    r.raw = bytes;
    return r;
}

} // namespace

// The hand-written HTTP/1.1 transfer against a loopback server that answers with exact bytes.
class TestDirectTransfer : public QObject {
    Q_OBJECT
    ScriptedServer m_server;

    static std::shared_ptr<Result> post(const QByteArray &data, Request r) {
        QBuffer body;
        body.setData(data);
        body.open(QIODevice::ReadOnly);
        return run(std::move(r), &body);
    }

private Q_SLOTS:
    void init() {
        m_server.clearScripts();
        m_server.clearRequests();
    }

    void requestBytes() {
        m_server.script("POST", kTarget, {raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
        QByteArray data(3 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char(i * 31 % 251);
        Request r = requestTo(m_server.port());
        // A header value cannot add lines of its own.
        r.setHeader("Authorization", "Bearer abc\r\nX-Evil: 1");
        auto out = post(data, r);
        QVERIFY2(out->value, out->failure().constData());
        const ReceivedRequest sent = m_server.requests().value(0);
        QCOMPARE(sent.header("Host"), "127.0.0.1:" + QByteArray::number(m_server.port()));
        QCOMPARE(sent.header("Accept"), QByteArray("application/json"));
        QCOMPARE(sent.header("Content-Type"), QByteArray("multipart/form-data; boundary=B"));
        QCOMPARE(sent.header("Content-Length"), QByteArray::number(data.size()));
        QCOMPARE(sent.header("Authorization"), QByteArray("Bearer abc  X-Evil: 1"));
        QVERIFY(!sent.hasHeader("X-Evil"));
        QVERIFY(sent.body == data);
    }

    void answers_data() {
        QTest::addColumn<ScriptedResponse>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("errorCode");
        QTest::newRow("chunked") << raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: "
                                        "chunked\r\n\r\n5;x=y\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")
                                 << 200 << QByteArray("hello world") << qint64(0);
        QTest::newRow("until close") << raw("HTTP/1.0 413 Too Large\r\n\r\nno room") << 413
                                     << QByteArray("no room") << qint64(0);
        QTest::newRow("interim answer first")
            << raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: "
                   "2\r\n\r\nok")
            << 201 << QByteArray("ok") << qint64(0);
        QTest::newRow("not HTTP") << raw("SSH-2.0-x\r\n\r\n") << 0 << QByteArray() << qint64(-1017);
        QTest::newRow("closed mid-answer")
            << raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc") << 0 << QByteArray()
            << qint64(-1005);
        QTest::newRow("answer too large")
            << raw("HTTP/1.1 200 OK\r\nContent-Length: 999999999999\r\n\r\n") << 0 << QByteArray()
            << qint64(-1103);
        QTest::newRow("bad chunk size")
            << raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n") << 0
            << QByteArray() << qint64(-1017);
        ScriptedResponse silent;
        silent.action = ScriptedResponse::Action::Hang;
        QTest::newRow("silent server: our timeout") << silent << 0 << QByteArray() << qint64(-1001);
    }
    void answers() {
        QFETCH(ScriptedResponse, answer);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(qint64, errorCode);
        m_server.script("POST", kTarget, {answer});
        auto out = post("payload", requestTo(m_server.port(), "POST", 2000));
        QVERIFY(out->done);
        if (errorCode == 0) {
            QVERIFY2(out->value, out->failure().constData());
            QVERIFY(out->value->isHttp);
            QCOMPARE(out->value->status, status);
            QCOMPARE(out->value->body, body);
        } else {
            QVERIFY(out->error);
            QCOMPARE(out->error->domain(), ServiceError::kUrlErrorDomain);
            QCOMPARE(out->error->code(), errorCode);
        }
    }

    // A file cut short after the size was announced fails the upload instead of
    // sending a body shorter than its Content-Length.
    void fileShrinkingDuringUploadFails() {
        m_server.script("POST", kTarget, {raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
        QTemporaryDir dir;
        const QString path = dir.filePath("big.pdf");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write(QByteArray(2 << 20, 'b')) == (2 << 20));
        }
        QString error;
        MultipartBody body(openRegularFile(path, &error), "big.pdf", "B");
        QVERIFY(body.open(QIODevice::ReadOnly));
        QVERIFY(QFile::resize(path, 1000));
        auto out = run(requestTo(m_server.port()), &body);
        QVERIFY(out->error);
        QCOMPARE(out->error->domain(),
                 QStringLiteral("Failed to read file: The file changed while it was uploaded."));
        QCOMPARE(m_server.requestCount(), 0);
    }

    // A download: no request body, and a 200 body goes to the sink instead of memory.
    void answerBodyToSink_data() {
        QTest::addColumn<ScriptedResponse>("answer");
        QTest::addColumn<QByteArray>("sunk");
        QTest::addColumn<QByteArray>("collected");
        const QByteArray big(3 << 20, 'z');
        QTest::newRow("200 with length")
            << raw("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(big.size()) +
                   "\r\n\r\n" + big)
            << big << QByteArray();
        QTest::newRow("200 chunked") << raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: "
                                            "chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n")
                                     << QByteArray("abcde") << QByteArray();
        QTest::newRow("200 until close")
            << raw("HTTP/1.1 200 OK\r\n\r\nrest") << QByteArray("rest") << QByteArray();
        QTest::newRow("404 is collected, not sunk")
            << raw("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone") << QByteArray()
            << QByteArray("gone");
    }
    void answerBodyToSink() {
        QFETCH(ScriptedResponse, answer);
        QFETCH(QByteArray, sunk);
        QFETCH(QByteArray, collected);
        m_server.script("GET", kTarget, {answer});
        QByteArray received;
        auto out = run(requestTo(m_server.port(), "GET"), nullptr, [&](const QByteArray &piece) {
            received += piece;
            return std::nullopt;
        });
        QVERIFY2(out->value, out->failure().constData());
        QVERIFY(received == sunk);
        QCOMPARE(out->value->body, collected);
        QVERIFY(!m_server.requests().value(0).hasHeader("Content-Length"));
    }

    void refusedConnection() {
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        auto out = post("x", requestTo(port));
        QVERIFY(out->error);
        QCOMPARE(out->error->code(), qint64(-1004));
    }
};

QTEST_GUILESS_MAIN(TestDirectTransfer)
#include "tst_directtransfer.moc"
