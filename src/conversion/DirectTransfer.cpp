#include "conversion/StreamedUpload.h"

#include <QIODevice>
#include <QSslSocket>
#include <QTcpSocket>

#include <QCoroSignal>

namespace quorvel {

namespace {

constexpr qint64 kChunk = 1 << 20;
// Bytes queued in the socket before reading more of the file.
constexpr qint64 kHighWater = 4 << 20;
constexpr qsizetype kMaxHead = 64 * 1024;

QNetworkReply::NetworkError replyError(QAbstractSocket::SocketError error)
{
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

ServiceError tooLarge()
{
    // The URL-loading domain's "data length exceeds maximum".
    return ServiceError::transportCode(-1103, QStringLiteral("The answer is too large."));
}

ServiceError protocolError(const QString &what)
{
    // The URL-loading domain's "cannot parse response".
    return ServiceError::transportCode(-1017, what);
}

} // namespace

StreamedUpload::StreamedUpload(Request request, QIODevice *body)
    : m_request(std::move(request))
    , m_body(body)
{
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        fail(ServiceError::transport(QNetworkReply::TimeoutError, {}, true));
    });
}

StreamedUpload::~StreamedUpload()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void StreamedUpload::start()
{
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
        connect(ssl, &QSslSocket::encrypted, this, &StreamedUpload::sendHead);
        connect(ssl, &QSslSocket::encryptedBytesWritten, this, &StreamedUpload::pump);
    } else {
        m_socket = std::make_unique<QTcpSocket>();
        connect(m_socket.get(), &QTcpSocket::connected, this, &StreamedUpload::sendHead);
    }
    // The socket's own buffer paces the file: no more than kHighWater waits in it.
    connect(m_socket.get(), &QTcpSocket::bytesWritten, this, &StreamedUpload::pump);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &StreamedUpload::onReadable);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &StreamedUpload::onDisconnected);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &StreamedUpload::onSocketError);

    const quint16 port = quint16(url.port(tls ? 443 : 80));
    if (m_request.timeoutMs > 0)
        m_idle.start(m_request.timeoutMs);
    if (tls)
        static_cast<QSslSocket *>(m_socket.get())->connectToHostEncrypted(url.host(), port);
    else
        m_socket->connectToHost(url.host(), port);
}

void StreamedUpload::touch()
{
    if (m_request.timeoutMs > 0 && !m_done)
        m_idle.start(m_request.timeoutMs);
}

void StreamedUpload::sendHead()
{
    const QUrl url = m_request.url();
    QByteArray target =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
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
        head += name + ": " + m_request.request.rawHeader(name) + "\r\n";
    }
    head += "Content-Length: " + QByteArray::number(m_body->size() - m_body->pos()) +
            "\r\nConnection: close\r\n\r\n";
    m_started = true;
    m_socket->write(head);
    m_chunk.resize(kChunk);
    pump();
}

void StreamedUpload::pump()
{
    touch();
    if (!m_started || m_bodySent || m_done)
        return;
    while (m_socket->bytesToWrite() < kHighWater) {
        const qint64 n = m_body->read(m_chunk.data(), kChunk);
        // A read error, or a file that ended before its announced size.
        if (n < 0 || (n == 0 && !m_body->atEnd())) {
            const QString reason = m_body->errorString();
            fail(ServiceError(QStringLiteral("Failed to read file: ") + reason, -1));
            return;
        }
        if (n == 0) {
            m_bodySent = true;
            m_chunk = QByteArray();
            return;
        }
        m_sent += n;
        m_socket->write(m_chunk.constData(), n);
    }
}

void StreamedUpload::onReadable()
{
    touch();
    if (m_done)
        return;
    m_in += m_socket->readAll();
    if (!parse())
        return;
}

// Consumes what has arrived; false when finished (either way) or waiting for more.
bool StreamedUpload::parse()
{
    for (;;) {
        switch (m_stage) {
        case Stage::Head:
            if (!parseHead())
                return false;
            break;
        case Stage::Body: {
            const qint64 take = qMin<qint64>(m_bodyLeft, m_in.size());
            m_response.body += m_in.left(take);
            m_in.remove(0, take);
            m_bodyLeft -= take;
            if (m_bodyLeft == 0)
                succeed();
            return false;
        }
        case Stage::Chunks:
            return parseChunks();
        case Stage::UntilClose:
            if (m_response.body.size() + m_in.size() > kMaxAnswer) {
                fail(tooLarge());
                return false;
            }
            m_response.body += m_in;
            m_in.clear();
            return false;
        case Stage::Done:
            return false;
        }
    }
}

bool StreamedUpload::parseHead()
{
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
    if (chunked) {
        m_stage = Stage::Chunks;
        m_bodyLeft = -1;
    } else if (length >= 0) {
        if (length > kMaxAnswer) {
            fail(tooLarge());
            return false;
        }
        m_stage = Stage::Body;
        m_bodyLeft = length;
    } else {
        m_stage = Stage::UntilClose;
    }
    return true;
}

bool StreamedUpload::parseChunks()
{
    for (;;) {
        if (m_bodyLeft < 0) {
            const qsizetype eol = m_in.indexOf("\r\n");
            if (eol < 0)
                return false;
            const QByteArray sizeText = m_in.left(eol).split(';').first().trimmed();
            bool ok = false;
            const qint64 size = sizeText.toLongLong(&ok, 16);
            if (!ok || size < 0) {
                fail(protocolError(QStringLiteral("The answer's chunks are malformed.")));
                return false;
            }
            m_in.remove(0, eol + 2);
            if (size == 0) {
                succeed();
                return false;
            }
            if (m_response.body.size() + size > kMaxAnswer) {
                fail(tooLarge());
                return false;
            }
            m_bodyLeft = size;
        }
        // The chunk's data and its closing CR LF.
        if (m_in.size() < m_bodyLeft + 2)
            return false;
        m_response.body += m_in.left(m_bodyLeft);
        m_in.remove(0, m_bodyLeft + 2);
        m_bodyLeft = -1;
    }
}

void StreamedUpload::onDisconnected()
{
    if (m_done)
        return;
    if (m_stage == Stage::UntilClose) {
        m_in += m_socket->readAll();
        parse();
        if (!m_done)
            succeed();
        return;
    }
    fail(ServiceError::transport(QNetworkReply::RemoteHostClosedError,
                                 QStringLiteral("Connection closed")));
}

void StreamedUpload::onSocketError()
{
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

void StreamedUpload::fail(ServiceError error)
{
    if (m_done)
        return;
    m_error = std::move(error);
    finish();
}

void StreamedUpload::succeed()
{
    if (m_done)
        return;
    m_stage = Stage::Done;
    finish();
}

void StreamedUpload::finish()
{
    m_done = true;
    m_idle.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    Q_EMIT finished();
}

QCoro::Task<HttpResponse> sendStreamed(Request request, QIODevice *body)
{
    auto upload = std::make_unique<StreamedUpload>(std::move(request), body);
    upload->start();
    if (!upload->isDone())
        co_await qCoro(upload.get(), &StreamedUpload::finished);
    if (upload->error())
        throw *upload->error();
    co_return upload->response();
}

} // namespace quorvel
