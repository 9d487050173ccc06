#pragma once

#include "service/HttpClient.h"
#include "service/Request.h"
#include "service/ServiceError.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

class QIODevice;
class QTcpSocket;

namespace quorvel {

// One HTTP/1.1 exchange (plain or TLS) over a connection of its own, for the two
// transfers whose size is the file's: the upload body is read from a device in
// large pieces paced by the socket, and the body of a 200 answer can go straight
// from the socket to a sink. The shared network manager passes bodies between its
// threads in small pieces, which costs a large transfer a third to a half of its
// speed; this keeps at most a few MiB of a file in memory at any time.
struct DirectOptions {
    // Request body: open, positioned at its start, with a known size.
    QIODevice *body = nullptr;
    // Receives the body of a 200 answer piece by piece instead of collecting it; a
    // piece is valid only during the call. Returning an error ends the transfer with it.
    using Sink = std::function<std::optional<ServiceError>(const QByteArray &piece)>;
    Sink sink;
    // Told the body length a 200 answer announces (-1 when it has none) before any
    // of the body reaches the sink; returning an error refuses the answer with it.
    std::function<std::optional<ServiceError>(qint64 length)> expect;
};

// Failures are thrown as send()'s are: transport errors in the URL-loading domain. An answer
// body that is collected (no sink, or not a 200 answer) stops at the request's maxBodyBytes:
// past it the exchange fails, or for a refused download ends there, as only its status is
// used.
QCoro::Task<HttpResponse> sendDirect(Request request, DirectOptions options = {});

class DirectTransfer : public QObject {
    Q_OBJECT
public:
    DirectTransfer(Request request, DirectOptions options);
    ~DirectTransfer() override;
    void start();

    bool isDone() const { return m_done; }
    const HttpResponse &response() const { return m_response; }
    const std::optional<ServiceError> &error() const { return m_error; }

Q_SIGNALS:
    void finished();

private:
    enum class Stage { Head, Body, Chunks, UntilClose, Done };

    void sendHead();
    void pump();
    void onReadable();
    void parse();
    bool parseHead();
    void parseChunks();
    QByteArray takeBody();
    bool deliver(const QByteArray &piece);
    void onDisconnected();
    void onSocketError();
    void fail(ServiceError error);
    void succeed();
    void finish();
    void touch();

    Request m_request;
    DirectOptions m_options;
    std::unique_ptr<QTcpSocket> m_socket;
    QTimer m_idle;
    QTimer m_total;
    QByteArray m_in;
    QByteArray m_readBuffer;
    bool m_bodySent = false;
    bool m_started = false;
    Stage m_stage = Stage::Head;
    qint64 m_bodyLeft = 0;
    // The current chunk's data has all passed; its closing CR LF is next.
    bool m_chunkDataEnded = false;
    // Bytes sent and received in the current inactivity period.
    qint64 m_moved = 0;
    HttpResponse m_response;
    std::optional<ServiceError> m_error;
    bool m_done = false;
};

} // namespace quorvel
