#include "conversion/DirectTransfer.h"
#include "conversion/MultipartBody.h"

#include <QBuffer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <QCoroTask>

#include <memory>

using namespace quorvel;

namespace {

// A loopback peer that reads one request (head and Content-Length body) and answers
// with canned bytes, to reach the answer shapes the scripted server never sends.
class RawPeer : public QObject {
public:
    QByteArray answer;
    bool closeAfterAnswer = true;
    bool answerAtAll = true;
    bool abortOnHead = false;
    QByteArray received;
    bool complete = false;

    RawPeer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *s = m_server.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, this, [this, s] { onReadable(s); });
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    QByteArray body() const { return received.mid(received.indexOf("\r\n\r\n") + 4); }
    QByteArray head() const { return received.left(received.indexOf("\r\n\r\n")); }

private:
    void onReadable(QTcpSocket *s) {
        received += s->readAll();
        const qsizetype end = received.indexOf("\r\n\r\n");
        if (end < 0 || complete)
            return;
        if (abortOnHead) {
            s->abort();
            return;
        }
        qint64 length = 0;
        for (const QByteArray &line : received.left(end).split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (received.size() - end - 4 < length)
            return;
        complete = true;
        if (!answerAtAll)
            return;
        s->write(answer);
        if (closeAfterAnswer)
            s->disconnectFromHost();
    }
    QTcpServer m_server;
};

struct Result {
    bool done = false;
    std::optional<HttpResponse> response;
    std::optional<ServiceError> error;
};

std::shared_ptr<Result> run(Request request, QIODevice *body, DirectOptions::Sink sink = {}) {
    auto out = std::make_shared<Result>();
    [](Request r, DirectOptions options, std::shared_ptr<Result> o) -> QCoro::Task<> {
        try {
            o->response = co_await sendDirect(std::move(r), std::move(options));
        } catch (const ServiceError &e) {
            o->error = e;
        }
        o->done = true;
    }(std::move(request), DirectOptions{body, std::move(sink), {}}, out);
    (void)QTest::qWaitFor([out] { return out->done; }, 10000);
    return out;
}

Request requestTo(quint16 port, int timeoutMs = 30'000) {
    Request r;
    r.request.setUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v2/up?x=1").arg(port)));
    r.method = "POST";
    r.setHeader("Accept", "application/json");
    r.setHeader("Content-Type", "multipart/form-data; boundary=B");
    r.timeoutMs = timeoutMs;
    return r;
}

} // namespace

class TestDirectTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requestBytes() {
        RawPeer peer;
        peer.answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        QByteArray data(3 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char(i * 31 % 251);
        QBuffer body(&data);
        QVERIFY(body.open(QIODevice::ReadOnly));
        auto out = run(requestTo(peer.port()), &body);
        QVERIFY(out->done);
        QVERIFY2(out->response, out->error ? qPrintable(out->error->rendering()) : "");
        const QList<QByteArray> lines = peer.head().split('\n');
        QCOMPARE(lines.first().trimmed(), QByteArray("POST /api/v2/up?x=1 HTTP/1.1"));
        QVERIFY(lines.contains("Host: 127.0.0.1:" + QByteArray::number(peer.port()) + "\r"));
        QVERIFY(lines.contains("Accept: application/json\r"));
        QVERIFY(lines.contains("Content-Type: multipart/form-data; boundary=B\r"));
        QVERIFY(lines.contains("Content-Length: " + QByteArray::number(data.size()) + "\r"));
        QVERIFY(peer.body() == data);
    }

    void headerValueCannotAddLines() {
        RawPeer peer;
        peer.answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        Request r = requestTo(peer.port());
        r.setHeader("Authorization", "Bearer abc\r\nX-Evil: 1");
        QByteArray data("x");
        QBuffer device(&data);
        QVERIFY(device.open(QIODevice::ReadOnly));
        auto out = run(r, &device);
        QVERIFY(out->response);
        const QList<QByteArray> lines = peer.head().split('\n');
        QVERIFY(lines.contains("Authorization: Bearer abc  X-Evil: 1\r"));
        for (const QByteArray &line : lines)
            QVERIFY(!line.startsWith("X-Evil"));
    }

    void answers_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("errorCode");
        QTest::newRow("content length")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello") << 200
            << QByteArray("hello") << qint64(0);
        QTest::newRow("chunked") << QByteArray(
                                        "HTTP/1.1 200 OK\r\nTransfer-Encoding: "
                                        "chunked\r\n\r\n5;x=y\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")
                                 << 200 << QByteArray("hello world") << qint64(0);
        QTest::newRow("until close") << QByteArray("HTTP/1.0 413 Too Large\r\n\r\nno room") << 413
                                     << QByteArray("no room") << qint64(0);
        QTest::newRow("interim answer first")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: "
                          "2\r\n\r\nok")
            << 201 << QByteArray("ok") << qint64(0);
        QTest::newRow("not HTTP") << QByteArray("SSH-2.0-x\r\n\r\n") << 0 << QByteArray()
                                  << qint64(-1017);
        QTest::newRow("closed without answer")
            << QByteArray() << 0 << QByteArray() << qint64(-1005);
        QTest::newRow("closed mid-answer")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc") << 0 << QByteArray()
            << qint64(-1005);
        QTest::newRow("answer too large")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 999999999999\r\n\r\n") << 0
            << QByteArray() << qint64(-1103);
        QTest::newRow("bad chunk size")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n") << 0
            << QByteArray() << qint64(-1017);
    }
    void answers() {
        QFETCH(QByteArray, answer);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(qint64, errorCode);
        RawPeer peer;
        peer.answer = answer;
        QByteArray data("payload");
        QBuffer device(&data);
        QVERIFY(device.open(QIODevice::ReadOnly));
        auto out = run(requestTo(peer.port()), &device);
        QVERIFY(out->done);
        if (errorCode == 0) {
            QVERIFY2(out->response, out->error ? qPrintable(out->error->rendering()) : "");
            QVERIFY(out->response->isHttp);
            QCOMPARE(out->response->status, status);
            QCOMPARE(out->response->body, body);
        } else {
            QVERIFY(out->error);
            QCOMPARE(out->error->domain(), ServiceError::kUrlErrorDomain);
            QCOMPARE(out->error->code(), errorCode);
        }
    }

    // A file cut short after the size was announced fails the upload instead of
    // sending a body shorter than its Content-Length.
    void fileShrinkingDuringUploadFails() {
        RawPeer peer;
        peer.answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        QTemporaryDir dir;
        const QString path = dir.filePath("big.pdf");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write(QByteArray(2 << 20, 'b')) == (2 << 20));
        }
        MultipartBody body(path, "big.pdf", "B");
        QVERIFY(body.open(QIODevice::ReadOnly));
        QVERIFY(QFile::resize(path, 1000));
        auto out = run(requestTo(peer.port()), &body);
        QVERIFY(out->done);
        QVERIFY(out->error);
        QCOMPARE(out->error->domain(),
                 QStringLiteral("Failed to read file: The file changed while it was uploaded."));
        QVERIFY(!peer.complete);
    }

    void connectionDroppedMidUpload() {
        RawPeer peer;
        peer.abortOnHead = true;
        QByteArray data(16 << 20, 'm');
        QBuffer device(&data);
        QVERIFY(device.open(QIODevice::ReadOnly));
        auto out = run(requestTo(peer.port()), &device);
        QVERIFY(out->done);
        QVERIFY(out->error);
        QCOMPARE(out->error->domain(), ServiceError::kUrlErrorDomain);
        QCOMPARE(out->error->code(), qint64(-1005));
    }

    // A download: no request body, and a 200 body goes to the sink instead of memory.
    void answerBodyToSink_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("sunk");
        QTest::addColumn<QByteArray>("collected");
        const QByteArray big(3 << 20, 'z');
        QTest::newRow("200 with length")
            << "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(big.size()) + "\r\n\r\n" +
                   big
            << big << QByteArray();
        QTest::newRow("200 chunked")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: "
                          "chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n")
            << QByteArray("abcde") << QByteArray();
        QTest::newRow("200 until close")
            << QByteArray("HTTP/1.1 200 OK\r\n\r\nrest") << QByteArray("rest") << QByteArray();
        QTest::newRow("404 is collected, not sunk")
            << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone") << QByteArray()
            << QByteArray("gone");
    }
    void answerBodyToSink() {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, sunk);
        QFETCH(QByteArray, collected);
        RawPeer peer;
        peer.answer = answer;
        Request r = requestTo(peer.port());
        r.method = "GET";
        QByteArray received;
        auto out = run(r, nullptr, [&](const QByteArray &piece) {
            received += piece;
            return std::nullopt;
        });
        QVERIFY(out->done);
        QVERIFY2(out->response, out->error ? qPrintable(out->error->rendering()) : "");
        QVERIFY(received == sunk);
        QCOMPARE(out->response->body, collected);
        QVERIFY(peer.head().startsWith("GET /api/v2/up?x=1 HTTP/1.1\r\n"));
        QVERIFY(!peer.head().toLower().contains("content-length"));
    }

    void failingSinkEndsTheTransfer() {
        RawPeer peer;
        peer.answer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
        Request r = requestTo(peer.port());
        r.method = "GET";
        auto out = run(r, nullptr, [](const QByteArray &) {
            return std::optional(ServiceError::transportCode(-3003, QStringLiteral("full")));
        });
        QVERIFY(out->error);
        QCOMPARE(out->error->code(), qint64(-3003));
        QCOMPARE(out->error->description(), QStringLiteral("full"));
    }

    void silentPeerTimesOut() {
        RawPeer peer;
        peer.answerAtAll = false;
        QByteArray data("x");
        QBuffer device(&data);
        QVERIFY(device.open(QIODevice::ReadOnly));
        auto out = run(requestTo(peer.port(), 200), &device);
        QVERIFY(out->done);
        QVERIFY(out->error);
        QCOMPARE(out->error->code(), qint64(-1001));
    }

    void refusedConnection() {
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        QByteArray data("x");
        QBuffer device(&data);
        QVERIFY(device.open(QIODevice::ReadOnly));
        auto out = run(requestTo(port), &device);
        QVERIFY(out->error);
        QCOMPARE(out->error->code(), qint64(-1004));
    }
};

QTEST_GUILESS_MAIN(TestDirectTransfer)
#include "tst_directtransfer.moc"
