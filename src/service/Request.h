#pragma once

#include "service/AnswerLimits.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

#include <optional>

namespace quorvel {

// A request ready to send: the Qt request plus what QNetworkRequest cannot carry
// (method, body, our own timeouts, the most of an answer taken into memory).
struct Request {
    QNetworkRequest request;
    QByteArray method;
    std::optional<QByteArray> body;
    int timeoutMs = 30'000; // inactivity limit
    int totalLimitMs = 0;   // limit for the whole transfer; 0 = none
    // For a transfer as long as a file: fewer bytes than this moved (either way) within one
    // inactivity period ends it as timed out, so a peer that drips a byte at a time cannot
    // hold it for ever. 0: any byte restarts the inactivity limit. Direct transfers only.
    qint64 minProgressBytes = 0;
    // A longer answer body is refused (a body streamed to a sink does not count).
    qint64 maxBodyBytes = answerLimits(AnswerKind::Small).maxBodyBytes;
    // Path and query exactly as sent, for what QUrl cannot hold: it turns "%2E" back into a
    // dot, and the network manager resolves dot segments. Only a direct transfer honours it.
    QByteArray target;

    QUrl url() const { return request.url(); }
    // Sets a header, replacing an earlier value of the same name in place.
    void setHeader(const QByteArray &name, const QByteArray &value);
    void applyLimits(const AnswerLimits &limits);
    // The header map as the log renders it, the token shortened.
    QString renderedHeaders() const;
};

struct RequestLogOptions {
    // What the "📦 Request body: " line shows instead of the body (a body with a password).
    std::optional<QString> bodyForLog;
};

// Builds a JSON request to apiBase() + path with the bearer token read from the
// preferences store now and the limits of a record answer (`applyLimits` changes them).
// Yields nothing, and logs nothing, when the URL is not valid.
std::optional<Request> createRequest(const QString &path, const QByteArray &method,
                                     const std::optional<QByteArray> &body = std::nullopt,
                                     const RequestLogOptions &logOptions = {});

// Sets "Authorization: Bearer <token>" when a token is stored: the one place that header is
// built.
void applyStoredToken(Request &request);

// A URL made of apiBase() and path, or nothing when it is not an absolute http(s) URL.
std::optional<QUrl> serviceUrl(const QString &path);

// A job id as one path segment or query value: percent-encoded, so an id can
// never address another endpoint. "." and ".." have their dots encoded as well.
QString encodeIdForPath(const QString &id);
// Whether the id is a whole dot segment ("." or ".."), which a QUrl cannot carry encoded.
bool isDotSegment(const QString &id);
// The request target of apiBase() + path, for Request::target.
QByteArray serviceTarget(const QString &encodedPath);

} // namespace quorvel
