#include "service/ServiceOrigin.h"

#include <QHostAddress>
#include <QUrl>

#ifndef QUORVEL_BUILTIN_ORIGIN
#define QUORVEL_BUILTIN_ORIGIN "http://127.0.0.1:8740"
#endif

namespace quorvel {
namespace {

bool isLoopbackHost(const QString &host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

} // namespace

QString builtInOrigin() {
    return QStringLiteral(QUORVEL_BUILTIN_ORIGIN);
}

OriginResolution resolveOrigin(const QString &configured) {
    QString text = configured.trimmed();
    while (text.endsWith(u'/'))
        text.chop(1);
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const auto refuse = [&](const QString &why) {
        return OriginResolution{
            {}, QStringLiteral("The service origin \"%1\" is not usable: %2").arg(configured, why)};
    };
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return refuse(QStringLiteral("expected an origin such as https://convert.example.com or "
                                     "http://127.0.0.1:8740."));
    if (!url.path().isEmpty() || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return refuse(QStringLiteral("an origin has no path, query, fragment or user name."));
    if (scheme == u"http" && !isLoopbackHost(url.host()))
        return refuse(QStringLiteral("plain HTTP is accepted only for a loopback host (localhost, "
                                     "127.0.0.1, ::1); use https:// so the sign-in token is never "
                                     "sent in clear."));
    return OriginResolution{url.toString(QUrl::FullyEncoded), {}};
}

OriginResolution currentOrigin() {
    const QString fromEnvironment = qEnvironmentVariable("QUORVEL_API_ORIGIN");
    return resolveOrigin(fromEnvironment.isEmpty() ? builtInOrigin() : fromEnvironment);
}

QString apiBase() {
    const OriginResolution resolved = currentOrigin();
    return resolved.origin.isEmpty() ? QString() : resolved.origin + QStringLiteral("/api");
}

} // namespace quorvel
