#pragma once

#include "service/JsonDecoder.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QString>
#include <QUuid>

// Small helpers shared by the upload, the conversion request and the download.
namespace quorvel::conversion {

// Compact JSON text of any value (scalars included) for diagnostic lines.
inline QString renderJson(const QJsonValue &value)
{
    // QJsonDocument only holds containers: wrap the value and strip the brackets.
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2));
}

// The body parsed as JSON and its "data" member, when both are objects.
inline std::optional<QJsonObject> dataObject(const QByteArray &body)
{
    const auto parsed = json::tryParse(body);
    if (!parsed || !parsed->isObject())
        return std::nullopt;
    const QJsonValue data = parsed->toObject().value(QStringLiteral("data"));
    if (!data.isObject())
        return std::nullopt;
    return data.toObject();
}

inline QString stringOr(const QJsonObject &o, const QString &key, const QString &fallback = {})
{
    const QJsonValue v = o.value(key);
    return v.isString() ? v.toString() : fallback;
}

inline qint64 integerOr(const QJsonObject &o, const QString &key, qint64 fallback = 0)
{
    return json::asInteger(o.value(key)).value_or(fallback);
}

// A random UUID in canonical upper-case text form.
inline QString upperUuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

// The current date and time as the service's clients render it: "2025-01-31 08:15:00 +0000".
inline QString currentDateText()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(" +0000");
}

} // namespace quorvel::conversion
