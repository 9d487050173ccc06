#pragma once

#include "service/HttpClient.h"
#include "service/Request.h"
#include "service/ServiceError.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <QCoroTask>

#include <memory>
#include <optional>

class QIODevice;
class QTcpSocket;

namespace quorvel {

// Sends a request whose body is read from `body` (open, with a known size) over a
// connection of its own, in large writes paced by the socket. The shared network
// manager forwards upload bodies between its threads in small pieces, which halves
// the throughput of large uploads; this keeps one file in flight at full speed and
// never holds more than a few MiB of it. HTTP/1.1, plain or TLS; the answer is
// collected whole (it is a small JSON record). Failures are thrown like send()'s.
QCoro::Task<HttpResponse> sendStreamed(Request request, QIODevice *body);

class StreamedUpload : public QObject
{
    Q_OBJECT
public:
    StreamedUpload(Request request, QIODevice *body);
    ~StreamedUpload() override;
    void start();

    bool isDone() const { return m_done; }
    const HttpResponse &response() const { return m_response; }
    const std::optional<ServiceError> &error() const { return m_error; }

    // Largest answer accepted; anything bigger is not the small record expected.
    static constexpr qint64 kMaxAnswer = 64 << 20;

Q_SIGNALS:
    void finished();

private:
    enum class Stage { Head, Body, Chunks, UntilClose, Done };

    void sendHead();
    void pump();
    void onReadable();
    bool parse();
    bool parseHead();
    bool parseChunks();
    void onDisconnected();
    void onSocketError();
    void fail(ServiceError error);
    void succeed();
    void finish();
    void touch();

    Request m_request;
    QIODevice *m_body;
    std::unique_ptr<QTcpSocket> m_socket;
    QTimer m_idle;
    QByteArray m_chunk;
    QByteArray m_in;
    qint64 m_sent = 0;
    bool m_bodySent = false;
    bool m_started = false;
    Stage m_stage = Stage::Head;
    qint64 m_bodyLeft = 0;
    HttpResponse m_response;
    std::optional<ServiceError> m_error;
    bool m_done = false;
};

} // namespace quorvel
