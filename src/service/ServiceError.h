#pragma once

#include <QNetworkReply>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>

namespace quorvel {

// The error value of every failing service operation. Three families share it:
// errors the client raises itself (a domain text and a code: -1 or an HTTP status),
// transport errors of the HTTP client (URL-loading domain and codes), and decoding
// errors of a wire record (kind, offending type or key, context).
class ServiceError : public std::exception {
public:
    enum class Family { Service, Transport, Decoding };
    enum class DecodingKind { TypeMismatch, ValueNotFound, KeyNotFound, DataCorrupted };

    static inline const QString kUrlErrorDomain = QStringLiteral("NSURLErrorDomain");
    static inline const QString kDecodingDomain = QStringLiteral("NSCocoaErrorDomain");

    ServiceError(QString domain, qint64 code);

    // A transport failure of a reply; `timedOut` marks an abort by our own timeout.
    static ServiceError transport(QNetworkReply::NetworkError error, const QString &qtText,
                                  bool timedOut = false);
    static ServiceError transportCode(int urlErrorCode, const QString &description);
    // An answer longer than the request takes into memory.
    static ServiceError answerTooLarge();
    static ServiceError decoding(DecodingKind kind, QString typeOrKey, QString debugDescription,
                                 QString codingPath = {});

    Family family() const { return m_family; }
    const QString &domain() const { return m_domain; }
    qint64 code() const { return m_code; }
    // What users read: "The operation couldn’t be completed. (<domain> error <code>.)"
    // for the client's own errors, the HTTP client's text for transport errors.
    QString description() const;
    // The full textual rendering used by "Error fetching …" lines and decoding reports.
    QString rendering() const;
    const std::optional<QString> &underlying() const { return m_underlying; }
    void setUnderlying(QString text) { m_underlying = std::move(text); }

    DecodingKind decodingKind() const { return m_decodingKind; }
    const QString &typeOrKey() const { return m_typeOrKey; }
    const QString &debugDescription() const { return m_debugDescription; }
    const QString &codingPath() const { return m_codingPath; }

    const char *what() const noexcept override { return m_what.constData(); }

private:
    ServiceError() = default;
    void refreshWhat();

    Family m_family = Family::Service;
    QString m_domain;
    qint64 m_code = -1;
    QString m_transportText;
    std::optional<QString> m_underlying;
    DecodingKind m_decodingKind = DecodingKind::DataCorrupted;
    QString m_typeOrKey;
    QString m_debugDescription;
    QString m_codingPath;
    QByteArray m_what;
};

// The URL-loading code for a QNetworkReply error (-1009 offline, -1004 cannot connect, …).
int urlErrorCode(QNetworkReply::NetworkError error);

} // namespace quorvel
