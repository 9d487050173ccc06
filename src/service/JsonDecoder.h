#pragma once

#include "service/ServiceError.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Strict typed decoding of JSON into wire records, reporting the four kinds of
// decoding error (type mismatch, value not found, key not found, data corrupted)
// with the offending type or key and where it was met.
namespace quorvel::json {

// The coding path of a value, rendered "data.converts[3].status".
class Path {
public:
    Path() = default;
    Path key(const QString &k) const;
    Path index(qsizetype i) const;
    const QString &text() const { return m_text; }

private:
    QString m_text;
};

// Parses bytes into a JSON value of any kind; invalid JSON or non-UTF-8 is "data corrupted".
QJsonValue parse(const QByteArray &bytes);
// Parses without throwing; nullopt on a syntax error, with the error's description.
std::optional<QJsonValue> tryParse(const QByteArray &bytes, QString *errorDescription = nullptr);

// The JSON kind as a decoding message names it: "a string", "a number", "null", …
QString kindName(const QJsonValue &value);

QJsonObject object(const QJsonValue &value, const Path &path);
QJsonArray array(const QJsonValue &value, const Path &path);

// Required members: missing → key not found, null → value not found, wrong kind →
// type mismatch; a non-integral or out-of-range number → data corrupted.
QString string(const QJsonObject &o, const QString &key, const Path &path);
qint64 integer(const QJsonObject &o, const QString &key, const Path &path);
bool boolean(const QJsonObject &o, const QString &key, const Path &path);
QJsonValue member(const QJsonObject &o, const QString &key, const Path &path);

// Optional members: missing or null give the default; a wrong kind still fails.
QString optionalString(const QJsonObject &o, const QString &key, const Path &path,
                       const QString &fallback = {});
qint64 optionalInteger(const QJsonObject &o, const QString &key, const Path &path,
                       qint64 fallback = 0);

// A number with an integral value that fits in 64 bits.
std::optional<qint64> asInteger(const QJsonValue &value);

// A job id as text: a string as it is, a number by its digits ("5"); nothing for any
// other kind, so only a job without a usable id gets a generated one.
std::optional<QString> idText(const QJsonValue &value);

// Renders a string as a quoted literal for record renderings.
QString quoted(const QString &text);

} // namespace quorvel::json
