#include "service/HttpClient.h"

#include "service/BackgroundWork.h"
#include "service/Log.h"
#include "service/ServiceError.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPromise>
#include <QThread>
#include <QTimer>

#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QCoroSignal>

#include <algorithm>
#include <memory>

namespace quorvel {

QString HttpResponse::description() const {
    return QStringLiteral("<HTTPURLResponse> { URL: %1 } { Status Code: %2 }")
        .arg(url.toString(QUrl::FullyEncoded), QString::number(status));
}

QString HttpResponse::renderedHeaders() const {
    QList<QPair<QString, QString>> entries;
    for (const auto &[name, value] : headers)
        entries.append({QString::fromLatin1(name), QString::fromUtf8(value)});
    return Log::renderMap(entries);
}

namespace {

QNetworkAccessManager *newSession(QObject *parent = nullptr) {
    auto *m = new QNetworkAccessManager(parent);
    // A moved endpoint of the service is followed; the token never leaves its origin.
    m->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    return m;
}

// The background thread and its session, started on first use and stopped with the
// application.
struct NetworkThread {
    QThread thread;
    QNetworkAccessManager *session = nullptr;

    static NetworkThread &instance() {
        static NetworkThread *running = [] {
            auto *t = new NetworkThread;
            t->thread.setObjectName(QStringLiteral("quorvel-network"));
            t->session = newSession();
            t->session->moveToThread(&t->thread);
            QObject::connect(&t->thread, &QThread::finished, t->session, &QObject::deleteLater);
            t->thread.start();
            QMetaObject::invokeMethod(t->session, &giveWayToTheWindow);
            qAddPostRoutine([] {
                running->thread.quit();
                running->thread.wait();
            });
            return t;
        }();
        return *running;
    }
};

QCoro::Task<> sendOnNetworkThread(Request request, std::shared_ptr<HttpResponse> response,
                                  std::shared_ptr<std::optional<ServiceError>> failure,
                                  std::shared_ptr<QPromise<void>> done) {
    try {
        *response = co_await send(*NetworkThread::instance().session, std::move(request));
    } catch (const ServiceError &e) {
        *failure = e;
    } catch (...) {
        // Whatever went wrong, the caller must not wait forever.
        *failure =
            ServiceError::transportCode(-1, QStringLiteral("The answer could not be received"));
    }
    done->finish();
}

} // namespace

QNetworkAccessManager &sharedSession() {
    static QNetworkAccessManager *manager = newSession();
    return *manager;
}

QCoro::Task<HttpResponse> sendInBackground(Request request) {
    auto response = std::make_shared<HttpResponse>();
    auto failure = std::make_shared<std::optional<ServiceError>>();
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    // Named, not a temporary of the co_await: GCC 12 may destroy such a temporary twice.
    QFuture<void> finished = done->future();
    QMetaObject::invokeMethod(NetworkThread::instance().session,
                              [request = std::move(request), response, failure, done]() mutable {
                                  // Runs on by itself; `done` reports its end.
                                  sendOnNetworkThread(std::move(request), response, failure, done);
                              });
    co_await finished;
    if (*failure)
        throw **failure;
    co_return std::move(*response);
}

namespace {

bool isTransportFailure(QNetworkReply::NetworkError error) {
    const int code = int(error);
    // Network-layer (1-99) and proxy (101-199) failures: no trustworthy answer arrived.
    return (code >= 1 && code <= 199);
}

} // namespace

QCoro::Task<HttpResponse> send(QNetworkAccessManager &session, Request request) {
    QNetworkRequest qreq = request.request;
    // Our own timers decide: Qt's transfer timeout would report a plain cancellation.
    qreq.setTransferTimeout(0);
    qreq.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                      QNetworkRequest::SameOriginRedirectPolicy);

    QNetworkReply *reply = nullptr;
    if (request.body)
        reply = session.sendCustomRequest(qreq, request.method, *request.body);
    else
        reply = session.sendCustomRequest(qreq, request.method);
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owner(
        reply, [](QNetworkReply *r) { r->deleteLater(); });

    auto timedOut = std::make_shared<bool>(false);
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(request.timeoutMs);
    QObject::connect(&idle, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    QTimer total;
    total.setSingleShot(true);
    if (request.totalLimitMs > 0) {
        QObject::connect(&total, &QTimer::timeout, reply, [reply, timedOut] {
            *timedOut = true;
            reply->abort();
        });
        total.start(request.totalLimitMs);
    }
    if (request.timeoutMs > 0) {
        idle.start();
        const auto restart = [&idle] { idle.start(); };
        QObject::connect(reply, &QNetworkReply::uploadProgress, &idle, restart);
        QObject::connect(reply, &QNetworkReply::downloadProgress, &idle, restart);
    }
    // The body is taken as it arrives: reading a large answer in one go at the end costs the
    // GUI thread far more than a frame (the reply holds it in many small pieces). Past the
    // request's cap the transfer ends: an endless answer must not take the memory with it.
    // The cap counts decoded bytes, so a compressed answer cannot inflate past it either.
    auto body = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    const qint64 cap = request.maxBodyBytes;
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, body, tooLarge, cap] {
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (length > cap && reply->rawHeader("Content-Encoding").isEmpty()) {
            *tooLarge = true;
            reply->abort();
            return;
        }
        constexpr qint64 kMostReserved = 256 << 20;
        if (length > 0 && length <= std::min(cap, kMostReserved))
            body->reserve(length);
    });
    // Read straight into the body: a readAll() first would allocate and copy every piece once
    // more on the GUI thread.
    const auto take = [reply, body, tooLarge, cap] {
        const qint64 available = reply->bytesAvailable();
        if (available <= 0 || *tooLarge)
            return;
        const qsizetype had = body->size();
        if (had + available > cap) {
            *tooLarge = true;
            body->clear();
            reply->abort();
            return;
        }
        body->resize(had + available);
        const qint64 got = reply->read(body->data() + had, available);
        body->resize(had + std::max<qint64>(got, 0));
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
    if (!reply->isFinished())
        co_await qCoro(reply).waitForFinished(std::chrono::milliseconds(-1));

    const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (*tooLarge)
        throw ServiceError::answerTooLarge();
    if (*timedOut)
        throw ServiceError::transport(error, reply->errorString(), true);
    if (error == QNetworkReply::InsecureRedirectError) {
        const QUrl to =
            reply->url().resolved(reply->header(QNetworkRequest::LocationHeader).toUrl());
        throw ServiceError(QStringLiteral("Redirect to another origin refused: ") +
                               to.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded),
                           -1);
    }
    if (isTransportFailure(error) || (!statusAttr.isValid() && error != QNetworkReply::NoError))
        throw ServiceError::transport(error, reply->errorString());

    HttpResponse response;
    response.url = reply->url();
    response.isHttp = statusAttr.isValid();
    response.status = statusAttr.toInt();
    for (const auto &pair : reply->rawHeaderPairs())
        response.headers.append(pair);
    take();
    response.body = std::move(*body);
    co_return response;
}

} // namespace quorvel
