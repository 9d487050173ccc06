#include "history/HistoryParser.h"

#include "history/EnvelopeReader.h"

#include "service/JsonDecoder.h"
#include "service/LogCategories.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>
#include <QUuid>

#include <limits>

namespace quorvel {
namespace {

const QString kNotUtf8 = QStringLiteral("无法解析的响应数据");

} // namespace

namespace {

// The answer body, with its UTF-8 text formed only when something needs it: a
// history of 100 000 jobs is 30 MB, and the typed path needs no text when the log
// is silent.
class Body {
public:
    explicit Body(const QByteArray &bytes)
        : m_bytes(bytes) {}

    const QByteArray &bytes() const { return m_bytes; }

    bool isUtf8() {
        if (!m_valid)
            m_valid = isStrictUtf8(m_bytes);
        return *m_valid;
    }

    // The body as UTF-8 text (a byte-order mark kept as a character), or the
    // placeholder when it is not UTF-8.
    const QString &text() {
        if (!m_text)
            m_text = isUtf8() ? QString::fromUtf8(m_bytes) : kNotUtf8;
        return *m_text;
    }

    // The body as generic JSON, parsed once for every strategy that reads the body
    // itself; nothing when it is not JSON.
    const std::optional<QJsonValue> &json() {
        if (!m_parsed) {
            m_parsed = true;
            if (isUtf8())
                m_json = parseUtf8Json(m_bytes);
        }
        return m_json;
    }

    // Callers check UTF-8 first; a bare scalar is still JSON even though
    // QJsonDocument holds only containers.
    static std::optional<QJsonValue> parseUtf8Json(const QByteArray &bytes) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
        if (error.error == QJsonParseError::NoError) {
            if (doc.isObject())
                return QJsonValue(doc.object());
            if (doc.isArray())
                return QJsonValue(doc.array());
        }
        const QJsonDocument wrapped = QJsonDocument::fromJson('[' + bytes + ']', &error);
        if (error.error == QJsonParseError::NoError && wrapped.array().size() == 1)
            return wrapped.array().first();
        return std::nullopt;
    }

    static std::optional<QJsonValue> parse(const QByteArray &bytes) {
        return isStrictUtf8(bytes) ? parseUtf8Json(bytes) : std::nullopt;
    }

private:
    const QByteArray &m_bytes;
    std::optional<QString> m_text;
    std::optional<bool> m_valid;
    bool m_parsed = false;
    std::optional<QJsonValue> m_json;
};

// The lenient job decoding for the common case, reading values in place instead of
// through intermediate copies. False when anything is unusual; the caller then runs
// the reference decoder, which reports the exact error.
bool decodeTaskFast(const QJsonObject &o, ConversionTask &t) {
    const auto text = [&o](QLatin1StringView key, QString &out, bool required) {
        const auto it = o.constFind(key);
        if (it == o.constEnd())
            return !required;
        const QJsonValueConstRef v = it.value();
        const QJsonValue::Type type = v.type();
        if (type == QJsonValue::String) {
            out = v.toString();
            return true;
        }
        return type == QJsonValue::Null && !required;
    };
    const auto number = [&o](QLatin1StringView key, qint64 &out) {
        const auto it = o.constFind(key);
        if (it == o.constEnd())
            return true;
        const QJsonValueConstRef v = it.value();
        const QJsonValue::Type type = v.type();
        if (type == QJsonValue::Null)
            return true;
        if (type != QJsonValue::Double)
            return false;
        constexpr qint64 kUnsure = std::numeric_limits<qint64>::min();
        const qint64 whole = v.toInteger(kUnsure);
        if (whole == kUnsure)
            return false;
        out = whole;
        return true;
    };
    for (const TaskField &f : kTaskFields)
        if (!(f.number ? number(f.key, t.*f.number) : text(f.key, t.*f.text, f.required)))
            return false;
    return true;
}

ServiceError notJson() {
    return ServiceError::decoding(ServiceError::DecodingKind::DataCorrupted, {},
                                  QStringLiteral("The given data was not valid JSON."));
}

// Lenient decoding of a whole array of jobs; one bad job fails it all.
QList<ConversionTask> decodeTasks(const QJsonValue &value) {
    const json::Path root;
    const QJsonArray items = json::array(value, root);
    QList<ConversionTask> tasks;
    tasks.reserve(items.size());
    for (qsizetype i = 0; i < items.size(); ++i)
        tasks.append(ConversionTask::decode(items.at(i), root.index(i)));
    return tasks;
}

QList<ConversionTask> decodeTasks(const std::optional<QJsonValue> &value) {
    if (!value)
        throw notJson();
    return decodeTasks(*value);
}

// The object's "data"."converts" when it is an array of objects.
std::optional<QJsonArray> convertsOf(const QJsonObject &top) {
    const auto data = top.constFind(QStringLiteral("data"));
    if (data == top.constEnd() || !data->isObject())
        return std::nullopt;
    const QJsonObject dataObject = data->toObject();
    const auto converts = dataObject.constFind(QStringLiteral("converts"));
    if (converts == dataObject.constEnd() || !converts->isArray())
        return std::nullopt;
    QJsonArray items = converts->toArray();
    for (const QJsonValue &item : std::as_const(items))
        if (!item.isObject())
            return std::nullopt;
    return items;
}

// Strategy A: the documented envelope. Returns the decoded record or throws the
// error that ends the strategy.
ConversionHistoryResponse decodeEnvelope(Body &body) {
    // The usual answer is read straight into jobs; whatever the quick reader leaves
    // aside goes through the JSON document below, which reaches the same result.
    if (body.isUtf8()) {
        if (std::optional<ConversionHistoryResponse> quick = readHistoryEnvelope(body.bytes())) {
            Log::write(lcHistory(), QStringLiteral("✅ JSON结构验证成功: 包含code=%1和%2条记录")
                                        .arg(quick->code)
                                        .arg(quick->data.converts.size()));
            return std::move(*quick);
        }
    }

    const std::optional<QJsonValue> &value = body.json();
    if (!value)
        throw notJson();

    const QJsonObject top = value->toObject();
    const auto code = top.constFind(QStringLiteral("code"));
    std::optional<qint64> codeValue;
    if (code != top.constEnd())
        codeValue = json::asInteger(*code);
    const std::optional<QJsonArray> converts =
        value->isObject() && !top.isEmpty() && codeValue ? convertsOf(top) : std::nullopt;
    if (!converts) {
        Log::write(lcHistory(),
                   QStringLiteral("⚠️ JSON结构验证失败，不符合预期格式"));
        throw ServiceError(QStringLiteral("JSON structure invalid"), -1);
    }
    Log::write(lcHistory(), QStringLiteral("✅ JSON结构验证成功: 包含code=%1和%2条记录")
                                .arg(*codeValue)
                                .arg(converts->size()));

    // Decoded from the value already parsed: the body is never parsed twice.
    ConversionHistoryResponse response;
    response.code = *codeValue;
    const auto msg = top.constFind(QLatin1StringView("msg"));
    bool usual = msg != top.constEnd() && msg.value().isString();
    if (usual) {
        response.msg = msg.value().toString();
        QList<ConversionTask> &tasks = response.data.converts;
        tasks.resize(converts->size());
        qsizetype i = 0;
        for (auto it = converts->constBegin(); usual && it != converts->constEnd(); ++it, ++i)
            usual = decodeTaskFast((*it).toObject(), tasks[i]);
    }
    if (!usual)
        return ConversionHistoryResponse::decode(*value);
    return response;
}

// The "id" of a loosely shaped job as the progress line shows it.
QString plainText(const QJsonValue &value) {
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        if (const auto whole = json::asInteger(value))
            return QString::number(*whole);
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::Null:
        return QStringLiteral("<null>");
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("未知ID");
}

// Strategy C: field by field from "data"."converts". Nothing when the strategy
// moves on.
std::optional<QList<ConversionTask>> extractManually(Body &body) {
    Log::write(lcHistory(), QStringLiteral("🔍 检测到标准格式，尝试手动提取..."));
    const std::optional<QJsonValue> &value = body.json();
    if (!value) {
        Log::write(lcHistory(),
                   QStringLiteral("⚠️ 手动提取失败: ") + notJson().description());
        return std::nullopt;
    }
    if (!value->isObject())
        return std::nullopt;
    const std::optional<QJsonArray> converts = convertsOf(value->toObject());
    if (!converts)
        return std::nullopt;

    const bool logging = Log::enabled();
    QList<ConversionTask> tasks;
    tasks.reserve(converts->size());
    for (const QJsonValue &item : *converts) {
        const QJsonObject object = item.toObject();
        if (logging) {
            const auto id = object.constFind(QStringLiteral("id"));
            Log::write(lcHistory(),
                       QStringLiteral("处理记录: ") +
                           (id == object.constEnd() ? QStringLiteral("未知ID") : plainText(*id)));
        }
        tasks.append(extractTaskFields(object));
    }
    if (tasks.isEmpty())
        return std::nullopt;
    return tasks;
}

// Strategy D: a list that lost its head, closed again by hand.
std::optional<QList<ConversionTask>> repairList(const QString &text) {
    Log::write(lcHistory(), QStringLiteral("🛠️ 尝试修复畸形JSON"));
    const qsizetype drop = text.startsWith(u',') ? 1 : 2;
    const QByteArray repaired = '[' + QStringView(text).mid(drop).toUtf8() + ']';
    try {
        return decodeTasks(Body::parse(repaired));
    } catch (const ServiceError &e) {
        Log::write(lcHistory(),
                   QStringLiteral("⚠️ 修复后的JSON解析仍然失败: ") + e.description());
        return std::nullopt;
    }
}

QString textOr(const QJsonObject &o, QLatin1StringView key, const QString &fallback) {
    const auto it = o.constFind(key);
    return it != o.constEnd() && it->isString() ? it->toString() : fallback;
}

qint64 integerOr(const QJsonObject &o, QLatin1StringView key, qint64 fallback) {
    const auto it = o.constFind(key);
    if (it == o.constEnd())
        return fallback;
    return json::asInteger(*it).value_or(fallback);
}

} // namespace

QString currentCreateAtText() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
}

ConversionTask extractTaskFields(const QJsonObject &o) {
    ConversionTask t;
    for (const TaskField &f : kTaskFields) {
        if (f.number)
            t.*f.number = integerOr(o, f.key, 0);
        else
            t.*f.text = textOr(o, f.key, {});
    }
    // What the list shows for a job the service described only in part.
    t.id = json::idText(o.value(QLatin1StringView("id")))
               .value_or(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    if (!o.value(QLatin1StringView("file_name")).isString())
        t.fileName = QStringLiteral("Unknown File");
    if (!o.value(QLatin1StringView("create_at")).isString())
        t.createAt = currentCreateAtText();
    return t;
}

std::optional<ConversionTask> extractTaskFromFragment(const QString &text) {
    const qsizetype start = text.indexOf(QLatin1StringView("{\"id\":"));
    const qsizetype end = text.lastIndexOf(u'}');
    if (start < 0 || end < start)
        return std::nullopt;
    const QByteArray fragment = QStringView(text).mid(start, end - start + 1).toUtf8();
    const std::optional<QJsonValue> value = Body::parse(fragment);
    if (!value) {
        Log::write(lcHistory(), QStringLiteral("⚠️ JSON片段解析为任务失败: ") +
                                    notJson().description());
        return std::nullopt;
    }
    if (!value->isObject())
        return std::nullopt;
    ConversionTask task = extractTaskFields(value->toObject());
    Log::write(lcHistory(), QStringLiteral("🔍 成功从JSON片段提取任务: ") + task.id);
    return task;
}

HistoryOutcome historyRequestFailed(const ServiceError &error) {
    const QString description = error.description();
    Log::write(lcHistory(), QStringLiteral("❌ 获取历史记录失败: ") + description);
    return {{}, QStringLiteral("Error fetching history: ") + description, error};
}

HistoryOutcome interpretHistoryAnswer(bool isHttp, int status, const QByteArray &bytes) {
    if (!isHttp)
        return historyRequestFailed(ServiceError(QStringLiteral("Invalid response"), -1));

    Body body(bytes);
    const bool logging = Log::enabled();
    Log::write(lcHistory(), QStringLiteral("📥 历史记录响应状态码: %1").arg(status));
    if (logging)
        Log::write(lcHistory(), QStringLiteral("📄 原始响应内容: ") + body.text());

    if (bytes.isEmpty()) {
        Log::write(lcHistory(), QStringLiteral("⚠️ 响应数据为空"));
        // An empty answer is "no jobs" only when it is a success; a 500, 503 or
        // redirect without a body is still the failure it is.
        if (status == 200)
            return {};
        return {{}, {}, ServiceError(QStringLiteral("Failed to fetch history"), status)};
    }
    if (status == 401) {
        Log::write(lcHistory(), QStringLiteral("🔐 身份验证失败，可能需要重新登录"));
        return {{}, {}, ServiceError(QStringLiteral("Failed to fetch history"), status)};
    }
    if (status != 200)
        return historyRequestFailed(
            ServiceError(QStringLiteral("Failed to fetch history"), status));

    // A: the documented envelope.
    Log::write(lcHistory(), QStringLiteral("🔄 开始解析标准格式..."));
    try {
        ConversionHistoryResponse response = decodeEnvelope(body);
        if (logging)
            Log::write(lcHistory(),
                       QStringLiteral("historyResponse>>>>>>>>>>>>>>>>>: ") +
                           response.render(QStringLiteral("ConversionHistoryResponse")));
        const qsizetype count = response.data.converts.size();
        return {std::move(response.data.converts),
                QStringLiteral("✅ 成功获取历史记录，共 %1 条").arg(count), std::nullopt};
    } catch (const ServiceError &e) {
        Log::write(lcHistory(),
                   QStringLiteral("⚠️ 标准格式解析失败，尝试替代解析方式: ") +
                       e.description());
    }

    // B: a bare array of jobs.
    try {
        QList<ConversionTask> tasks = decodeTasks(body.json());
        const qsizetype count = tasks.size();
        return {std::move(tasks), QStringLiteral("✅ 成功解析为任务数组，共 %1 条").arg(count),
                std::nullopt};
    } catch (const ServiceError &e) {
        Log::write(lcHistory(),
                   QStringLiteral("⚠️ 数组格式解析也失败: ") + e.description());
    }

    const QString &text = body.text();

    // C: field by field, when the text looks like the envelope.
    if (text.contains(QLatin1StringView("\"code\":0")) &&
        text.contains(QLatin1StringView("\"converts\":"))) {
        if (auto tasks = extractManually(body)) {
            const qsizetype count = tasks->size();
            return {std::move(*tasks), QStringLiteral("✅ 手动提取成功，共 %1 条记录").arg(count),
                    std::nullopt};
        }
    }

    // D: a list whose head was cut off.
    if (text.startsWith(u',') || text.startsWith(QLatin1StringView("],"))) {
        if (auto tasks = repairList(text)) {
            const qsizetype count = tasks->size();
            return {std::move(*tasks),
                    QStringLiteral("✅ 成功解析修复后的JSON，共 %1 条").arg(count), std::nullopt};
        }
    }

    // E: nothing to show.
    if (text == QLatin1StringView("[]") || text == QLatin1StringView("{}") || text.isEmpty()) {
        Log::write(lcHistory(), QStringLiteral("🔍 检测到空数据返回"));
        return {{}, QStringLiteral("ℹ️ 账号无历史记录，显示空列表"), std::nullopt};
    }

    // F: one job somewhere in the text.
    Log::write(lcHistory(), QStringLiteral("🧩 尝试解析JSON片段"));
    if (auto task = extractTaskFromFragment(text))
        return {{*task}, QStringLiteral("✅ 从JSON片段解析出1条记录"), std::nullopt};
    return {{},
            QStringLiteral(
                "ℹ️ 当前账号可能没有历史记录或格式不同，显示空列表"),
            std::nullopt};
}

} // namespace quorvel
