#include "service/Request.h"

#include "service/LogCategories.h"
#include "service/ServiceOrigin.h"
#include "service/TokenStore.h"

namespace quorvel {

void Request::setHeader(const QByteArray &name, const QByteArray &value) {
    request.setRawHeader(name, value);
}

void Request::applyLimits(const AnswerLimits &limits) {
    timeoutMs = limits.idleMs;
    totalLimitMs = limits.totalMs;
    maxBodyBytes = limits.maxBodyBytes;
}

QString Request::renderedHeaders() const {
    QList<QPair<QString, QString>> entries;
    for (const QByteArray &name : request.rawHeaderList()) {
        QString value = QString::fromUtf8(request.rawHeader(name));
        if (name.compare("Authorization", Qt::CaseInsensitive) == 0 &&
            value.startsWith(QLatin1String("Bearer ")))
            value = QStringLiteral("Bearer ") + Log::redactToken(value.mid(7));
        entries.append({QString::fromLatin1(name), value});
    }
    return Log::renderMap(entries);
}

std::optional<QUrl> serviceUrl(const QString &path) {
    const QString text = apiBase() + path;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty() ||
        (url.scheme() != u"http" && url.scheme() != u"https"))
        return std::nullopt;
    return url;
}

void applyStoredToken(Request &request) {
    // The store hands out only tokens without control characters, so the value cannot end
    // the header line.
    if (const auto token = TokenStore::read())
        request.setHeader("Authorization", "Bearer " + token->toUtf8());
}

std::optional<Request> createRequest(const QString &path, const QByteArray &method,
                                     const std::optional<QByteArray> &body,
                                     const RequestLogOptions &logOptions) {
    const auto url = serviceUrl(path);
    if (!url)
        return std::nullopt;

    Request r;
    r.request.setUrl(*url);
    r.method = method;
    r.setHeader("Content-Type", "application/json");
    r.setHeader("Accept", "application/json");
    r.request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                           QNetworkRequest::AlwaysNetwork);
    r.applyLimits(answerLimits(AnswerKind::Small));
    applyStoredToken(r);

    if (body) {
        r.body = *body;
        Log::write(lcHttp(),
                   QStringLiteral("📦 Request body: ") +
                       (logOptions.bodyForLog ? *logOptions.bodyForLog
                                              : Log::utf8OrFallback(*body, QStringLiteral("nil"))));
    }
    Log::write(lcHttp(), QStringLiteral("🌐 Request URL: ") + r.url().toString(QUrl::FullyEncoded));
    Log::write(lcHttp(),
               QStringLiteral("📝 Request method: ") +
                   (method.isEmpty() ? QStringLiteral("nil") : QString::fromLatin1(method)));
    Log::write(lcHttp(), QStringLiteral("🔑 Headers: ") + r.renderedHeaders());
    return r;
}

bool isDotSegment(const QString &id) {
    return id == QLatin1String(".") || id == QLatin1String("..");
}

QString encodeIdForPath(const QString &id) {
    return QString::fromLatin1(QUrl::toPercentEncoding(id, {}, isDotSegment(id) ? "." : ""));
}

QByteArray serviceTarget(const QString &encodedPath) {
    return QUrl(apiBase()).path(QUrl::FullyEncoded).toUtf8() + encodedPath.toUtf8();
}

} // namespace quorvel
