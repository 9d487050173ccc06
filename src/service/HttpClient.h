#pragma once

#include "service/Request.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>

#include <QCoroTask>

class QNetworkAccessManager;
class QNetworkReply;

namespace quorvel {

struct HttpResponse {
    bool isHttp = false; // false: the answer carried no HTTP status
    int status = 0;
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QString description() const;
    QString renderedHeaders() const;
};

// The process-wide shared session: one network manager for the main thread.
QNetworkAccessManager &sharedSession();

// Sends a request and waits for the whole answer. Transport failures (no HTTP answer,
// connection lost, our inactivity timeout, the total limit) are thrown as ServiceError
// of the URL-loading domain; any HTTP status is an answer.
QCoro::Task<HttpResponse> send(QNetworkAccessManager &session, Request request);

// The same, received on a network thread of its own with its own session, and handed back
// to the caller's thread whole: for answers so large that receiving them piece by piece
// would stall the GUI thread. Failures are thrown on the caller's thread as with `send`.
QCoro::Task<HttpResponse> sendInBackground(Request request);

} // namespace quorvel
