#include "service/ServiceError.h"

namespace quorvel {

ServiceError::ServiceError(QString domain, qint64 code)
    : m_family(Family::Service)
    , m_domain(std::move(domain))
    , m_code(code) {
    refreshWhat();
}

int urlErrorCode(QNetworkReply::NetworkError error) {
    using E = QNetworkReply::NetworkError;
    switch (error) {
    case E::ConnectionRefusedError:
    case E::ProxyConnectionRefusedError:
    case E::ProxyNotFoundError:
        return -1004; // cannot connect to host
    case E::RemoteHostClosedError:
    case E::ProxyConnectionClosedError:
        return -1005; // network connection lost
    case E::HostNotFoundError:
        return -1003; // cannot find host
    case E::TimeoutError:
    case E::ProxyTimeoutError:
        return -1001; // timed out
    case E::OperationCanceledError:
        return -999; // cancelled
    case E::SslHandshakeFailedError:
        return -1200; // secure connection failed
    case E::TemporaryNetworkFailureError:
    case E::NetworkSessionFailedError:
        return -1009; // not connected to the internet
    case E::ProtocolUnknownError:
        return -1002; // unsupported URL
    case E::TooManyRedirectsError:
        return -1007;
    case E::InsecureRedirectError:
        return -1022;
    case E::BackgroundRequestNotAllowedError:
        return -997;
    case E::ProxyAuthenticationRequiredError:
    case E::AuthenticationRequiredError:
        return -1013; // user authentication required
    default:
        return -1; // unknown
    }
}

ServiceError ServiceError::transport(QNetworkReply::NetworkError error, const QString &qtText,
                                     bool timedOut) {
    if (timedOut)
        return transportCode(-1001, QStringLiteral("The request timed out."));
    return transportCode(urlErrorCode(error), qtText);
}

ServiceError ServiceError::answerTooLarge() {
    // The URL-loading domain's "data length exceeds maximum".
    return transportCode(-1103, QStringLiteral("The answer is too large."));
}

ServiceError ServiceError::transportCode(int code, const QString &description) {
    ServiceError e;
    e.m_family = Family::Transport;
    e.m_domain = kUrlErrorDomain;
    e.m_code = code;
    e.m_transportText = description;
    e.refreshWhat();
    return e;
}

ServiceError ServiceError::decoding(DecodingKind kind, QString typeOrKey, QString debugDescription,
                                    QString codingPath) {
    ServiceError e;
    e.m_family = Family::Decoding;
    e.m_domain = kDecodingDomain;
    // The codes Foundation gives bridged decoding errors: corrupt data 4864, missing value 4865.
    e.m_code =
        (kind == DecodingKind::KeyNotFound || kind == DecodingKind::ValueNotFound) ? 4865 : 4864;
    e.m_decodingKind = kind;
    e.m_typeOrKey = std::move(typeOrKey);
    e.m_debugDescription = std::move(debugDescription);
    e.m_codingPath = std::move(codingPath);
    e.refreshWhat();
    return e;
}

QString ServiceError::description() const {
    switch (m_family) {
    case Family::Transport:
        return m_transportText;
    case Family::Decoding:
        return m_code == 4865
                   ? QStringLiteral("The data couldn’t be read because it is missing.")
                   : QStringLiteral("The data couldn’t be read because it isn’t in the correct "
                                    "format.");
    case Family::Service:
        break;
    }
    // One pass: a domain text carrying the service's answer may itself hold "%1".
    return QStringLiteral("The operation couldn’t be completed. (%1 error %2.)")
        .arg(m_domain, QString::number(m_code));
}

QString ServiceError::rendering() const {
    switch (m_family) {
    case Family::Transport:
        return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"")
            .arg(m_domain, QString::number(m_code), m_transportText);
    case Family::Decoding: {
        const QString context =
            QStringLiteral("Context(codingPath: [%1], debugDescription: \"%2\")")
                .arg(m_codingPath, m_debugDescription);
        switch (m_decodingKind) {
        case DecodingKind::TypeMismatch:
            return QStringLiteral("typeMismatch(%1, %2)").arg(m_typeOrKey, context);
        case DecodingKind::ValueNotFound:
            return QStringLiteral("valueNotFound(%1, %2)").arg(m_typeOrKey, context);
        case DecodingKind::KeyNotFound:
            return QStringLiteral("keyNotFound(\"%1\", %2)").arg(m_typeOrKey, context);
        case DecodingKind::DataCorrupted:
            return QStringLiteral("dataCorrupted(%1)").arg(context);
        }
        break;
    }
    case Family::Service:
        break;
    }
    return QStringLiteral("Error Domain=%1 Code=%2 \"(null)\"")
        .arg(m_domain, QString::number(m_code));
}

void ServiceError::refreshWhat() {
    m_what = rendering().toUtf8();
}

} // namespace quorvel
