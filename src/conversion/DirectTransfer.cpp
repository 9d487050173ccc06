#include "conversion/DirectTransfer.h"

#include <QIODevice>
#include <QSslSocket>
#include <QTcpSocket>

#include <utility>

#include <QCoroSignal>

namespace quorvel {

namespace {

constexpr qint64 kChunk = 1 << 20;
// Bytes queued in the socket before reading more of the file.
constexpr qint64 kHighWater = 4 << 20;
constexpr qsizetype kMaxHead = 64 * 1024;
// A chunk-size line: hex digits and perhaps extensions, never this long.
constexpr qsizetype kMaxChunkLine = 4 * 1024;

QNetworkReply::NetworkError replyError(QAbstractSocket::SocketError error) {
    using S = QAbstractSocket;
    using R = QNetworkReply;
    switch (error) {
    case S::ConnectionRefusedError:
        return R::ConnectionRefusedError;
    case S::RemoteHostClosedError:
        return R::RemoteHostClosedError;
    case S::HostNotFoundError:
        return R::HostNotFoundError;
    case S::SocketTimeoutError:
        return R::TimeoutError;
    case S::SslHandshakeFailedError:
        return R::SslHandshakeFailedError;
    case S::NetworkError:
        return R::TemporaryNetworkFailureError;
    default:
        return R::UnknownNetworkError;
    }
}

ServiceError protocolError(const QString &what) {
    // The URL-loading domain's "cannot parse response".
    return ServiceError::transportCode(-1017, what);
}

} // namespace

DirectTransfer::DirectTransfer(Request request, DirectOptions options)
    : m_request(std::move(request))
    , m_options(std::move(options)) {
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (m_request.minProgressBytes > 0 && m_moved >= m_request.minProgressBytes) {
            m_moved = 0;
            m_idle.start(m_request.timeoutMs);
            return;
        }
        fail(ServiceError::transport(QNetworkReply::TimeoutError, {}, true));
    });
    m_total.setSingleShot(true);
    connect(&m_total, &QTimer::timeout, this,
            [this] { fail(ServiceError::transport(QNetworkReply::TimeoutError, {}, true)); });
}

DirectTransfer::~DirectTransfer() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void DirectTransfer::start() {
    const QUrl url = m_request.url();
    const bool tls = url.scheme() == QLatin1String("https");
    m_response.url = url;
    if (tls) {
        if (!QSslSocket::supportsSsl()) {
            fail(ServiceError::transport(QNetworkReply::ProtocolUnknownError,
                                         QStringLiteral("TLS is not available.")));
            return;
        }
        auto *ssl = new QSslSocket;
        m_socket.reset(ssl);
        connect(ssl, &QSslSocket::encrypted, this, &DirectTransfer::sendHead);
        connect(ssl, &QSslSocket::encryptedBytesWritten, this, &DirectTransfer::pump);
    } else {
        m_socket = std::make_unique<QTcpSocket>();
        connect(m_socket.get(), &QTcpSocket::connected, this, &DirectTransfer::sendHead);
    }
    // The socket's buffers pace the file both ways: no more than kHighWater waits to be
    // sent, and no more than kChunk is read ahead of the sink.
    m_socket->setReadBufferSize(kChunk);
    connect(m_socket.get(), &QTcpSocket::bytesWritten, this, [this](qint64 bytes) {
        m_moved += bytes;
        pump();
    });
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &DirectTransfer::onReadable);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &DirectTransfer::onDisconnected);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &DirectTransfer::onSocketError);

    const quint16 port = quint16(url.port(tls ? 443 : 80));
    if (m_request.timeoutMs > 0)
        m_idle.start(m_request.timeoutMs);
    if (m_request.totalLimitMs > 0)
        m_total.start(m_request.totalLimitMs);
    if (tls)
        static_cast<QSslSocket *>(m_socket.get())->connectToHostEncrypted(url.host(), port);
    else
        m_socket->connectToHost(url.host(), port);
}

void DirectTransfer::touch() {
    // With a progress floor the period runs out whatever arrives, and is judged then.
    if (m_request.timeoutMs > 0 && m_request.minProgressBytes <= 0 && !m_done)
        m_idle.start(m_request.timeoutMs);
}

void DirectTransfer::sendHead() {
    const QUrl url = m_request.url();
    QByteArray target =
        !m_request.target.isEmpty()
            ? m_request.target
            : url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.isEmpty())
        target = "/";
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() != -1)
        host += ':' + QByteArray::number(url.port());

    QByteArray head = m_request.method + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const QByteArray &name : m_request.request.rawHeaderList()) {
        const QByteArray lower = name.toLower();
        if (lower == "content-length" || lower == "host" || lower == "connection")
            continue;
        // A value (a stored token, say) can never add a header line of its own.
        QByteArray value = m_request.request.rawHeader(name);
        value.replace('\r', ' ').replace('\n', ' ');
        head += name + ": " + value + "\r\n";
    }
    if (m_options.body)
        head += "Content-Length: " +
                QByteArray::number(m_options.body->size() - m_options.body->pos()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    m_started = true;
    m_bodySent = !m_options.body;
    m_socket->write(head);
    pump();
}

void DirectTransfer::pump() {
    touch();
    if (!m_started || m_bodySent || m_done)
        return;
    while (m_socket->bytesToWrite() < kHighWater) {
        // A fresh piece each time: the socket keeps the array itself in its buffer
        // instead of copying it.
        QByteArray piece(kChunk, Qt::Uninitialized);
        const qint64 n = m_options.body->read(piece.data(), kChunk);
        // A read error, or a file that ended before its announced size.
        if (n < 0 || (n == 0 && !m_options.body->atEnd())) {
            const QString reason = m_options.body->errorString();
            fail(ServiceError(QStringLiteral("Failed to read file: ") + reason, -1));
            return;
        }
        if (n == 0) {
            m_bodySent = true;
            return;
        }
        piece.truncate(n);
        m_socket->write(piece);
    }
}

void DirectTransfer::onReadable() {
    touch();
    if (m_done)
        return;
    // A body that goes to the sink is read straight into one reused buffer: no
    // allocation per piece, and nothing collected.
    while (m_in.isEmpty() && m_options.sink && m_response.status == 200 &&
           (m_stage == Stage::Body || m_stage == Stage::UntilClose)) {
        if (m_readBuffer.isEmpty())
            m_readBuffer.resize(kChunk);
        const qint64 want = m_stage == Stage::Body ? qMin<qint64>(m_bodyLeft, kChunk) : kChunk;
        const qint64 n = m_socket->read(m_readBuffer.data(), want);
        if (n <= 0)
            return;
        m_moved += n;
        if (!deliver(QByteArray::fromRawData(m_readBuffer.constData(), n)))
            return;
        if (m_stage == Stage::Body && (m_bodyLeft -= n) == 0) {
            succeed();
            return;
        }
    }
    const QByteArray arrived = m_socket->readAll();
    m_moved += arrived.size();
    m_in += arrived;
    parse();
}

// Consumes what has arrived, as far as it goes.
void DirectTransfer::parse() {
    while (!m_done) {
        switch (m_stage) {
        case Stage::Head:
            if (!parseHead())
                return;
            break;
        case Stage::Body: {
            if (deliver(takeBody()) && m_bodyLeft == 0)
                succeed();
            return;
        }
        case Stage::Chunks:
            parseChunks();
            return;
        case Stage::UntilClose: {
            deliver(std::exchange(m_in, {}));
            return;
        }
        case Stage::Done:
            return;
        }
    }
}

// As much of what has arrived as the body (or the current chunk) still has, out of m_in.
QByteArray DirectTransfer::takeBody() {
    const qint64 take = qMin<qint64>(m_bodyLeft, m_in.size());
    m_bodyLeft -= take;
    if (take == m_in.size())
        return std::exchange(m_in, {});
    QByteArray piece = m_in.left(take);
    m_in.remove(0, take);
    return piece;
}

// Body bytes of the answer: to the sink for a 200 answer, else collected (bounded).
bool DirectTransfer::deliver(const QByteArray &piece) {
    if (piece.isEmpty())
        return true;
    if (m_options.sink && m_response.status == 200) {
        if (auto error = m_options.sink(piece)) {
            fail(std::move(*error));
            return false;
        }
        return true;
    }
    if (m_response.body.size() + piece.size() > m_request.maxBodyBytes) {
        if (m_options.sink)
            succeed(); // a refused download's body is not kept, and may never end
        else
            fail(ServiceError::answerTooLarge());
        return false;
    }
    m_response.body += piece;
    return true;
}

bool DirectTransfer::parseHead() {
    const qsizetype end = m_in.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_in.size() > kMaxHead)
            fail(protocolError(QStringLiteral("The answer's header is too large.")));
        return false;
    }
    const QList<QByteArray> lines = m_in.left(end).split('\n');
    m_in.remove(0, end + 4);
    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    bool ok = false;
    const int status = statusLine.value(1).toInt(&ok);
    if (!statusLine.value(0).startsWith("HTTP/1.") || !ok) {
        fail(protocolError(QStringLiteral("The answer is not HTTP.")));
        return false;
    }
    if (status >= 100 && status < 200)
        return true; // an interim answer; the real one follows

    m_response.isHttp = true;
    m_response.status = status;
    m_response.headers.clear();
    qint64 length = -1;
    bool chunked = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        m_response.headers.append({name, value});
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = value.toLongLong(&ok);
        else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0 &&
                 value.toLower().contains("chunked"))
            chunked = true;
    }
    // Whatever body this answer has, the request's own is no longer wanted.
    m_bodySent = true;
    if (m_options.expect && m_options.sink && status == 200) {
        if (auto error = m_options.expect(chunked ? -1 : length)) {
            fail(std::move(*error));
            return false;
        }
    }
    if (chunked) {
        m_stage = Stage::Chunks;
        m_bodyLeft = -1;
    } else if (length >= 0) {
        if (length > m_request.maxBodyBytes && !m_options.sink) {
            fail(ServiceError::answerTooLarge());
            return false;
        }
        m_stage = Stage::Body;
        m_bodyLeft = length;
        if (length == 0) {
            succeed();
            return false;
        }
    } else {
        m_stage = Stage::UntilClose;
    }
    return true;
}

// Chunk data goes on as it arrives, whatever size a chunk announces: only the size line and
// the CR LF after the data are waited for, so the buffer never holds more than one read.
void DirectTransfer::parseChunks() {
    while (!m_done) {
        if (m_chunkDataEnded) {
            if (m_in.size() < 2)
                return;
            if (!m_in.startsWith("\r\n")) {
                fail(protocolError(QStringLiteral("The answer's chunks are malformed.")));
                return;
            }
            m_in.remove(0, 2);
            m_chunkDataEnded = false;
            m_bodyLeft = -1;
        }
        if (m_bodyLeft < 0) {
            const qsizetype eol = m_in.indexOf("\r\n");
            if (eol < 0) {
                if (m_in.size() > kMaxChunkLine)
                    fail(protocolError(QStringLiteral("The answer's chunks are malformed.")));
                return;
            }
            const QByteArray sizeText = m_in.left(eol).split(';').first().trimmed();
            bool ok = false;
            const qint64 size = sizeText.toLongLong(&ok, 16);
            if (!ok || size < 0) {
                fail(protocolError(QStringLiteral("The answer's chunks are malformed.")));
                return;
            }
            m_in.remove(0, eol + 2);
            if (size == 0) {
                succeed();
                return;
            }
            m_bodyLeft = size;
        }
        if (m_in.isEmpty())
            return;
        const QByteArray piece = takeBody();
        m_chunkDataEnded = m_bodyLeft == 0;
        if (!deliver(piece))
            return;
    }
}

void DirectTransfer::onDisconnected() {
    if (m_done)
        return;
    // What is still buffered may complete the answer.
    onReadable();
    if (m_done)
        return;
    if (m_stage == Stage::UntilClose) {
        succeed();
        return;
    }
    fail(ServiceError::transport(QNetworkReply::RemoteHostClosedError,
                                 QStringLiteral("Connection closed")));
}

void DirectTransfer::onSocketError() {
    if (m_done)
        return;
    // Whatever arrived before the error may already be the whole answer.
    if (m_socket->bytesAvailable() > 0)
        onReadable();
    if (m_done)
        return;
    // On an established connection a reset is a lost connection, not being offline.
    const auto error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError ||
        (m_started && error == QAbstractSocket::NetworkError)) {
        onDisconnected();
        return;
    }
    fail(ServiceError::transport(replyError(error), m_socket->errorString()));
}

void DirectTransfer::fail(ServiceError error) {
    if (m_done)
        return;
    m_error = std::move(error);
    finish();
}

void DirectTransfer::succeed() {
    if (m_done)
        return;
    m_stage = Stage::Done;
    finish();
}

void DirectTransfer::finish() {
    m_done = true;
    m_idle.stop();
    m_total.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    Q_EMIT finished();
}

QCoro::Task<HttpResponse> sendDirect(Request request, DirectOptions options) {
    auto transfer = std::make_unique<DirectTransfer>(std::move(request), std::move(options));
    transfer->start();
    if (!transfer->isDone())
        co_await qCoro(transfer.get(), &DirectTransfer::finished);
    if (transfer->error())
        throw *transfer->error();
    co_return transfer->response();
}

} // namespace quorvel
