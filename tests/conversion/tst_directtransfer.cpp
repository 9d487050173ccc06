#include "conversion/MultipartBody.h"
#include "conversion/StreamedUpload.h"

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
class RawPeer : public QObject
{
public:
    QByteArray answer;
    bool closeAfterAnswer = true;
    bool answerAtAll = true;
    bool abortOnHead = false;
    QByteArray received;
    bool complete = false;

    RawPeer()
    {
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
    void onReadable(QTcpSocket *s)
    {
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

struct Result
{
    bool done = false;
    std::optional<HttpResponse> response;
    std::optional<ServiceError> error;
};

std::shared_ptr<Result> run(Request request, QIODevice *body)
{
    auto out = std::make_shared<Result>();
    [](Request r, QIODevice *b, std::shared_ptr<Result> o) -> QCoro::Task<> {
        try {
            o->response = co_await sendStreamed(std::move(r), b);
        } catch (const ServiceError &e) {
            o->error = e;
        }
        o->done = true;
    }(std::move(request), body, out);
    (void)QTest::qWaitFor([out] { return out->done; }, 10000);
    return out;
}

Request requestTo(quint16 port, int timeoutMs = 30'000)
{
    Request r;
    r.request.setUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v2/up?x=1").arg(port)));
    r.method = "POST";
    r.setHeader("Accept", "application/json");
    r.setHeader("Content-Type", "multipart/form-data; boundary=B");
    r.timeoutMs = timeoutMs;
    return r;
}

} // namespace

class TestStreamedUpload : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void requestBytes()
    {
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

    void answers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("errorCode");
        QTest::newRow("content length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")
                                        << 200 << QByteArray("hello") << qint64(0);
        QTest::newRow("chunked")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x=y\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")
            << 200 << QByteArray("hello world") << qint64(0);
        QTest::newRow("until close") << QByteArray("HTTP/1.0 413 Too Large\r\n\r\nno room") << 413
                                     << QByteArray("no room") << qint64(0);
        QTest::newRow("interim answer first")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok")
            << 201 << QByteArray("ok") << qint64(0);
        QTest::newRow("not HTTP") << QByteArray("SSH-2.0-x\r\n\r\n") << 0 << QByteArray() << qint64(-1017);
        QTest::newRow("closed without answer") << QByteArray() << 0 << QByteArray() << qint64(-1005);
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
    void answers()
    {
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
    void fileShrinkingDuringUploadFails()
    {
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

    void connectionDroppedMidUpload()
    {
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

    void silentPeerTimesOut()
    {
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

    void refusedConnection()
    {
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

QTEST_GUILESS_MAIN(TestStreamedUpload)
#include "tst_streamedupload.moc"
