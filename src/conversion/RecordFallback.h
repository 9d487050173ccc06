#pragma once

#include "service/JsonDecoder.h"
#include "service/LogCategories.h"
#include "service/ServiceError.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QString>
#include <QUuid>

// The upload and the conversion request read their answer the same way: the strict
// record, or else the record rebuilt by hand from the answer's "data" object.
namespace quorvel::conversion {

// Compact JSON text of any value (scalars included) for diagnostic lines.
inline QString renderJson(const QJsonValue &value) {
    // QJsonDocument only holds containers: wrap the value and strip the brackets.
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2));
}

// The body parsed as JSON and its "data" member, when both are objects.
inline std::optional<QJsonObject> dataObject(const QByteArray &body) {
    const auto parsed = json::tryParse(body);
    if (!parsed || !parsed->isObject())
        return std::nullopt;
    const QJsonValue data = parsed->toObject().value(QStringLiteral("data"));
    if (!data.isObject())
        return std::nullopt;
    return data.toObject();
}

inline QString stringOr(const QJsonObject &o, const QString &key, const QString &fallback = {}) {
    const QJsonValue v = o.value(key);
    return v.isString() ? v.toString() : fallback;
}

inline qint64 integerOr(const QJsonObject &o, const QString &key, qint64 fallback = 0) {
    return json::asInteger(o.value(key)).value_or(fallback);
}

// A random UUID in canonical upper-case text form.
inline QString upperUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// The current date and time as the service's clients render it: "2025-01-31 08:15:00 +0000".
inline QString currentDateText() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(" +0000");
}

// The lines that tell which way an answer was read.
struct FallbackLines {
    QString decoded;     // the strict record decoded
    QString decodeError; // followed by the decoding error's rendering
    QString errorDetail; // followed by its user-facing description
    QString extracting;  // followed by the "data" object
    QString built;       // followed by the rebuilt record's rendering
};

// The record decoded strictly, or else rebuilt from the "data" object; the decoding
// error is thrown when the answer has no such object.
template <typename Record, typename Decode, typename Rebuild>
Record decodeOrRebuild(const QByteArray &body, const FallbackLines &lines, Decode decode,
                       Rebuild rebuild) {
    try {
        Record record = decode(body);
        Log::write(lcConversion(), lines.decoded);
        return record;
    } catch (const ServiceError &error) {
        Log::write(lcConversion(), lines.decodeError + error.rendering());
        Log::write(lcConversion(), lines.errorDetail + error.description());
        const auto data = dataObject(body);
        if (!data)
            throw;
        Log::write(lcConversion(), lines.extracting + renderJson(*data));
        Record record = rebuild(*data);
        Log::write(lcConversion(), lines.built + record.render());
        return record;
    }
}

} // namespace quorvel::conversion
