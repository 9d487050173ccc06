#include "service/JsonDecoder.h"

#include "service/Log.h"

#include <cmath>

namespace quorvel::json {

using Kind = ServiceError::DecodingKind;

Path Path::key(const QString &k) const {
    Path p;
    p.m_text = m_text.isEmpty() ? k : m_text + u'.' + k;
    return p;
}

Path Path::index(qsizetype i) const {
    Path p;
    p.m_text = m_text + QStringLiteral("[%1]").arg(i);
    return p;
}

std::optional<QJsonValue> tryParse(const QByteArray &bytes, QString *errorDescription) {
    // Qt's parser replaces invalid UTF-8 instead of refusing it; a body that is not
    // UTF-8 is not valid JSON.
    if (!Log::isValidUtf8(bytes)) {
        if (errorDescription)
            *errorDescription = QStringLiteral("The given data was not valid JSON.");
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        if (errorDescription)
            *errorDescription = error.errorString();
        return std::nullopt;
    }
    if (doc.isObject())
        return QJsonValue(doc.object());
    if (doc.isArray())
        return QJsonValue(doc.array());
    // QJsonDocument holds only objects and arrays; a bare scalar is still JSON.
    const QJsonDocument wrapped =
        QJsonDocument::fromJson(QByteArray("[") + bytes + QByteArray("]"), &error);
    if (error.error == QJsonParseError::NoError && wrapped.array().size() == 1)
        return wrapped.array().first();
    if (errorDescription)
        *errorDescription = QStringLiteral("The given data was not valid JSON.");
    return std::nullopt;
}

QJsonValue parse(const QByteArray &bytes) {
    QString why;
    if (auto value = tryParse(bytes, &why))
        return *value;
    throw ServiceError::decoding(Kind::DataCorrupted, {},
                                 QStringLiteral("The given data was not valid JSON."), {});
}

QString kindName(const QJsonValue &value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("bool");
    case QJsonValue::Double:
        return QStringLiteral("number");
    case QJsonValue::String:
        return QStringLiteral("string");
    case QJsonValue::Array:
        return QStringLiteral("array");
    case QJsonValue::Object:
        return QStringLiteral("dictionary");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

namespace {

[[noreturn]] void mismatch(const QString &type, const QJsonValue &found, const Path &path) {
    const QString article = found.isNull() ? QString() : QStringLiteral("a ");
    if (found.isNull())
        throw ServiceError::decoding(
            Kind::ValueNotFound, type,
            QStringLiteral("Expected %1 value but found null instead.").arg(type), path.text());
    throw ServiceError::decoding(Kind::TypeMismatch, type,
                                 QStringLiteral("Expected to decode %1 but found %2%3 instead.")
                                     .arg(type, article, kindName(found)),
                                 path.text());
}

} // namespace

QJsonObject object(const QJsonValue &value, const Path &path) {
    if (!value.isObject())
        mismatch(QStringLiteral("Dictionary<String, Any>"), value, path);
    return value.toObject();
}

QJsonArray array(const QJsonValue &value, const Path &path) {
    if (!value.isArray())
        mismatch(QStringLiteral("Array<Any>"), value, path);
    return value.toArray();
}

QJsonValue member(const QJsonObject &o, const QString &key, const Path &path) {
    const auto it = o.constFind(key);
    if (it == o.constEnd())
        throw ServiceError::decoding(
            Kind::KeyNotFound, key, QStringLiteral("No value associated with key \"%1\".").arg(key),
            path.text());
    return it.value();
}

QString string(const QJsonObject &o, const QString &key, const Path &path) {
    const QJsonValue v = member(o, key, path);
    if (!v.isString())
        mismatch(QStringLiteral("String"), v, path.key(key));
    return v.toString();
}

std::optional<qint64> asInteger(const QJsonValue &value) {
    if (!value.isDouble())
        return std::nullopt;
    const qint64 whole = value.toInteger(std::numeric_limits<qint64>::min());
    if (whole != std::numeric_limits<qint64>::min())
        return whole;
    const double d = value.toDouble();
    if (std::isfinite(d) && d == std::trunc(d) && d >= -9.2233720368547758e18 &&
        d < 9.2233720368547758e18)
        return qint64(d);
    return std::nullopt;
}

namespace {

qint64 integerValue(const QJsonValue &v, const Path &path) {
    if (!v.isDouble())
        mismatch(QStringLiteral("Int"), v, path);
    if (const auto whole = asInteger(v))
        return *whole;
    throw ServiceError::decoding(
        Kind::DataCorrupted, {},
        QStringLiteral("Parsed JSON number <%1> does not fit in Int.").arg(v.toDouble()),
        path.text());
}

} // namespace

qint64 integer(const QJsonObject &o, const QString &key, const Path &path) {
    return integerValue(member(o, key, path), path.key(key));
}

bool boolean(const QJsonObject &o, const QString &key, const Path &path) {
    const QJsonValue v = member(o, key, path);
    if (!v.isBool())
        mismatch(QStringLiteral("Bool"), v, path.key(key));
    return v.toBool();
}

QString optionalString(const QJsonObject &o, const QString &key, const Path &path,
                       const QString &fallback) {
    const auto it = o.constFind(key);
    if (it == o.constEnd() || it.value().isNull())
        return fallback;
    if (!it.value().isString())
        mismatch(QStringLiteral("String"), it.value(), path.key(key));
    return it.value().toString();
}

qint64 optionalInteger(const QJsonObject &o, const QString &key, const Path &path,
                       qint64 fallback) {
    const auto it = o.constFind(key);
    if (it == o.constEnd() || it.value().isNull())
        return fallback;
    return integerValue(it.value(), path.key(key));
}

QString quoted(const QString &text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        out += c;
    }
    return out + u'"';
}

std::optional<QString> idText(const QJsonValue &value) {
    if (value.isString())
        return value.toString();
    if (!value.isDouble())
        return std::nullopt;
    if (const auto whole = asInteger(value))
        return QString::number(*whole);
    return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
}

} // namespace quorvel::json
