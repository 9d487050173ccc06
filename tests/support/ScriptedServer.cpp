#include "ScriptedServer.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace quorvel::test {

QByteArray ReceivedRequest::header(const QByteArray &name) const {
    for (const auto &[n, v] : headers)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

bool ReceivedRequest::hasHeader(const QByteArray &name) const {
    for (const auto &pair : headers)
        if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

struct ScriptedServer::Connection {
    QByteArray buffer;
    bool inBody = false;
    qint64 remaining = 0;
    ReceivedRequest current;
    std::unique_ptr<QCryptographicHash> md5;
    bool closing = false;
};

ScriptedServer::ScriptedServer(QObject *parent)
    : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

ScriptedServer::~ScriptedServer() {
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        it.key()->disconnect(this);
        delete it.value();
    }
}

QString ScriptedServer::origin() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void ScriptedServer::script(const QByteArray &method, const QByteArray &target,
                            QList<ScriptedResponse> responses) {
    m_exact.insert(method + ' ' + target, std::move(responses));
}

void ScriptedServer::scriptPrefix(const QByteArray &method, const QByteArray &prefix,
                                  QList<ScriptedResponse> responses) {
    m_prefixes.append({method + ' ' + prefix, std::move(responses)});
}

void ScriptedServer::clearScripts() {
    m_exact.clear();
    m_prefixes.clear();
}

QList<ReceivedRequest> ScriptedServer::requests() const {
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

QList<ReceivedRequest> ScriptedServer::requestsTo(const QByteArray &method,
                                                  const QByteArray &targetPrefix) const {
    QList<ReceivedRequest> out;
    for (const ReceivedRequest &r : requests())
        if (r.method == method && r.target.startsWith(targetPrefix))
            out << r;
    return out;
}

int ScriptedServer::requestCount() const {
    QMutexLocker lock(&m_mutex);
    return int(m_requests.size());
}

void ScriptedServer::clearRequests() {
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

void ScriptedServer::onNewConnection() {
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        m_connections.insert(socket, new Connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
        // Freed from the event loop: a disconnect can happen while onReadable() still
        // holds the connection.
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            Connection *c = m_connections.take(socket);
            QTimer::singleShot(0, this, [c] { delete c; });
            socket->deleteLater();
        });
    }
}

void ScriptedServer::onReadable(QTcpSocket *socket) {
    Connection *c = m_connections.value(socket);
    if (!c)
        return;
    c->buffer += socket->readAll();
    for (;;) {
        if (!c->inBody) {
            const qsizetype end = c->buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = c->buffer.left(end).split('\n');
            c->buffer.remove(0, end + 4);
            c->current = ReceivedRequest{};
            const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
            c->current.method = requestLine.value(0);
            c->current.target = requestLine.value(1);
            c->remaining = 0;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon <= 0)
                    continue;
                const QByteArray name = line.left(colon).trimmed();
                const QByteArray value = line.mid(colon + 1).trimmed();
                c->current.headers.append({name, value});
                if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                    c->remaining = value.toLongLong();
            }
            c->md5 = std::make_unique<QCryptographicHash>(QCryptographicHash::Md5);
            c->inBody = true;
        }
        const qint64 take = qMin<qint64>(c->remaining, c->buffer.size());
        if (take > 0) {
            const QByteArrayView piece(c->buffer.constData(), take);
            c->md5->addData(piece);
            if (m_recordBodies)
                c->current.body.append(piece.data(), piece.size());
            c->current.bodySize += take;
            c->remaining -= take;
            c->buffer.remove(0, take);
        }
        if (c->remaining > 0)
            return;
        c->inBody = false;
        c->current.bodyMd5 = c->md5->result().toHex();
        handle(socket, std::move(c->current));
        if (c->buffer.isEmpty())
            return;
    }
}

ScriptedResponse ScriptedServer::nextResponse(const QByteArray &method, const QByteArray &target) {
    const auto take = [](QList<ScriptedResponse> &queue) {
        return queue.size() > 1 ? queue.takeFirst() : queue.first();
    };
    const QByteArray key = method + ' ' + target;
    auto it = m_exact.find(key);
    if (it != m_exact.end() && !it->isEmpty())
        return take(*it);
    for (auto &[prefix, queue] : m_prefixes)
        if (key.startsWith(prefix) && !queue.isEmpty())
            return take(queue);
    ScriptedResponse notFound;
    notFound.status = 404;
    return notFound;
}

void ScriptedServer::handle(QTcpSocket *socket, ReceivedRequest request) {
    const ScriptedResponse response = nextResponse(request.method, request.target);
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(std::move(request));
    }
    Q_EMIT requestReceived();
    if (response.action == ScriptedResponse::Action::Hang)
        return;
    if (response.delayMs > 0) {
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(response.delayMs, this, [this, guard, response] {
            if (guard)
                writeResponse(guard, response);
        });
        return;
    }
    writeResponse(socket, response);
}

void ScriptedServer::writeResponse(QTcpSocket *socket, const ScriptedResponse &response) {
    if (response.action == ScriptedResponse::Action::Drop) {
        QTimer::singleShot(0, socket, [socket] { socket->abort(); });
        return;
    }
    if (!response.raw.isEmpty()) {
        socket->write(response.raw);
        socket->disconnectFromHost();
        return;
    }
    const qint64 length =
        response.generatedBodySize > 0 ? response.generatedBodySize : response.body.size();
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (response.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (!response.untilClose && response.dripMs <= 0)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    socket->write(head + "\r\n");
    if (response.chunked)
        socket->write(QByteArray::number(length, 16) + "\r\n");

    if (response.dripMs > 0) {
        auto *drip = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        connect(drip, &QTimer::timeout, socket, [socket, sent, body = response.body] {
            socket->write(*sent < body.size() ? body.mid((*sent)++, 1) : QByteArray(" "));
        });
        drip->start(response.dripMs);
        return;
    }

    if (response.action == ScriptedResponse::Action::DropMidBody) {
        if (response.generatedBodySize > 0)
            socket->write(QByteArray(int(qMin<qint64>(length / 2, 1 << 20)), 'x'));
        else
            socket->write(response.body.left(response.body.size() / 2));
        socket->flush();
        QTimer::singleShot(50, socket, [socket] { socket->abort(); });
        return;
    }
    if (response.generatedBodySize <= 0) {
        socket->write(response.body);
        if (response.untilClose)
            socket->disconnectFromHost();
        return;
    }
    // Stream generated bytes, topping the socket up as it drains.
    auto left = std::make_shared<qint64>(length);
    const QByteArray chunk(1 << 18, 'q');
    auto pump = [socket, left, chunk] {
        while (*left > 0 && socket->bytesToWrite() < (4 << 20)) {
            const qint64 n = qMin<qint64>(*left, chunk.size());
            socket->write(chunk.constData(), n);
            *left -= n;
        }
    };
    auto connection = std::make_shared<QMetaObject::Connection>();
    const bool close = response.untilClose;
    *connection =
        connect(socket, &QTcpSocket::bytesWritten, socket, [socket, pump, left, connection, close] {
            pump();
            if (*left > 0)
                return;
            QObject::disconnect(*connection);
            if (close)
                socket->disconnectFromHost();
        });
    pump();
}

} // namespace quorvel::test
