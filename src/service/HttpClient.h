#pragma once

#include "service/Request.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>

#include <QCoroTask>

#include <functional>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;

namespace quorvel {

struct HttpResponse {
    bool isHttp = false; // false: the answer carried no HTTP status
    int status = 0;
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body; // empty when the body went to a sink

    QString description() const;
    QString renderedHeaders() const;
};

struct SendOptions {
    // Streams the request body from this device instead of Request::body; it must be
    // open, random-access and report its size, so the transfer never holds it whole.
    QIODevice *bodyDevice = nullptr;
    // Receives the body of a 200 answer piece by piece instead of collecting it.
    // Returning false aborts the transfer (a write failed).
    std::function<bool(const QByteArray &chunk)> bodySink;
    // Told about upload progress (bytes sent, bytes total).
    std::function<void(qint64, qint64)> onUploadProgress;
};

// The process-wide shared session: one network manager for the main thread.
QNetworkAccessManager &sharedSession();

// Sends a request and waits for the whole answer. Transport failures (no HTTP answer,
// connection lost, our inactivity timeout, the total limit) are thrown as ServiceError
// of the URL-loading domain; any HTTP status is an answer.
QCoro::Task<HttpResponse> send(QNetworkAccessManager &session, Request request,
                               SendOptions options = {});

} // namespace quorvel
