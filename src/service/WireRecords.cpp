#include "service/WireRecords.h"

#include <QJsonDocument>

namespace quorvel {

namespace {

// "Type(name: value, …)" built by concatenation, not QString::arg: values come from
// the service and may themselves contain "%1".
class Rendering {
public:
    explicit Rendering(QLatin1String type) { m_out = type + u'('; }
    Rendering &text(QLatin1String name, const QString &value) {
        return raw(name, json::quoted(value));
    }
    Rendering &number(QLatin1String name, qint64 value) {
        return raw(name, QString::number(value));
    }
    Rendering &flag(QLatin1String name, bool value) {
        return raw(name, value ? QStringLiteral("true") : QStringLiteral("false"));
    }
    Rendering &raw(QLatin1String name, const QString &value) {
        if (!m_first)
            m_out += QStringLiteral(", ");
        m_first = false;
        m_out += name + QStringLiteral(": ") + value;
        return *this;
    }
    QString done() const { return m_out + u')'; }

private:
    QString m_out;
    bool m_first = true;
};

} // namespace

LoginData LoginData::decode(const QJsonValue &v, const json::Path &path) {
    const QJsonObject o = json::object(v, path);
    return {json::string(o, QStringLiteral("token"), path)};
}

QString LoginData::render() const {
    return Rendering(QLatin1String("LoginData")).text(QLatin1String("token"), token).done();
}

User User::decode(const QJsonValue &v, const json::Path &path) {
    const QJsonObject o = json::object(v, path);
    User u;
    u.id = json::string(o, QStringLiteral("id"), path);
    u.email = json::string(o, QStringLiteral("email"), path);
    u.name = json::string(o, QStringLiteral("name"), path);
    return u;
}

QString User::render() const {
    return Rendering(QLatin1String("User"))
        .text(QLatin1String("id"), id)
        .text(QLatin1String("email"), email)
        .text(QLatin1String("name"), name)
        .done();
}

UserInfoData UserInfoData::decode(const QJsonValue &v, const json::Path &path) {
    const QJsonObject o = json::object(v, path);
    UserInfoData d;
    d.email = json::string(o, QStringLiteral("email"), path);
    d.is_lifetimedeal_member = json::boolean(o, QStringLiteral("is_lifetimedeal_member"), path);
    d.lifetime_member_description =
        json::string(o, QStringLiteral("lifetime_member_description"), path);
    d.page_balcance_description =
        json::string(o, QStringLiteral("page_balcance_description"), path);
    d.lft_daily_usage = json::integer(o, QStringLiteral("lft_daily_usage"), path);
    d.lft_daily_total = json::integer(o, QStringLiteral("lft_daily_total"), path);
    return d;
}

QJsonObject UserInfoData::toJson() const {
    return {{QStringLiteral("email"), email},
            {QStringLiteral("is_lifetimedeal_member"), is_lifetimedeal_member},
            {QStringLiteral("lifetime_member_description"), lifetime_member_description},
            {QStringLiteral("page_balcance_description"), page_balcance_description},
            {QStringLiteral("lft_daily_usage"), lft_daily_usage},
            {QStringLiteral("lft_daily_total"), lft_daily_total}};
}

QString UserInfoData::render() const {
    return Rendering(QLatin1String("UserInfoData"))
        .text(QLatin1String("email"), email)
        .flag(QLatin1String("is_lifetimedeal_member"), is_lifetimedeal_member)
        .text(QLatin1String("lifetime_member_description"), lifetime_member_description)
        .text(QLatin1String("page_balcance_description"), page_balcance_description)
        .number(QLatin1String("lft_daily_usage"), lft_daily_usage)
        .number(QLatin1String("lft_daily_total"), lft_daily_total)
        .done();
}

PageBalanceData PageBalanceData::decode(const QJsonValue &v, const json::Path &path) {
    const QJsonObject o = json::object(v, path);
    PageBalanceData d;
    d.total_pages = json::integer(o, QStringLiteral("total_pages"), path);
    d.consumed_pages = json::integer(o, QStringLiteral("consumed_pages"), path);
    return d;
}

QJsonObject PageBalanceData::toJson() const {
    return {{QStringLiteral("total_pages"), total_pages},
            {QStringLiteral("consumed_pages"), consumed_pages}};
}

QString PageBalanceData::render() const {
    return Rendering(QLatin1String("PageBalanceData"))
        .number(QLatin1String("total_pages"), total_pages)
        .number(QLatin1String("consumed_pages"), consumed_pages)
        .done();
}

FileUploadData FileUploadData::decode(const QJsonValue &v, const json::Path &path) {
    const QJsonObject o = json::object(v, path);
    FileUploadData d;
    d.file_name = json::string(o, QStringLiteral("file_name"), path);
    d.source_file_path = json::string(o, QStringLiteral("source_file_path"), path);
    d.source_file_typ = json::string(o, QStringLiteral("source_file_typ"), path);
    d.source_file_md5 = json::string(o, QStringLiteral("source_file_md5"), path);
    d.page_number = json::integer(o, QStringLiteral("page_number"), path);
    d.status = json::integer(o, QStringLiteral("status"), path);
    return d;
}

QString FileUploadData::render() const {
    return Rendering(QLatin1String("FileUploadData"))
        .text(QLatin1String("file_name"), file_name)
        .text(QLatin1String("source_file_path"), source_file_path)
        .text(QLatin1String("source_file_typ"), source_file_typ)
        .text(QLatin1String("source_file_md5"), source_file_md5)
        .number(QLatin1String("page_number"), page_number)
        .number(QLatin1String("status"), status)
        .done();
}

QJsonObject ConvertRequest::toJson() const {
    return {{QStringLiteral("source_file_md5"), source_file_md5},
            {QStringLiteral("typ"), typ},
            {QStringLiteral("source_file_path"), source_file_path},
            {QStringLiteral("source_file_typ"), source_file_typ},
            {QStringLiteral("page_number"), page_number},
            {QStringLiteral("status"), status},
            {QStringLiteral("file_name"), file_name}};
}

QByteArray ConvertRequest::encode() const {
    return QJsonDocument(toJson()).toJson(QJsonDocument::Indented);
}

QString ConvertRequest::render() const {
    return Rendering(QLatin1String("ConvertRequest"))
        .text(QLatin1String("source_file_md5"), source_file_md5)
        .text(QLatin1String("typ"), typ)
        .text(QLatin1String("source_file_path"), source_file_path)
        .text(QLatin1String("source_file_typ"), source_file_typ)
        .number(QLatin1String("page_number"), page_number)
        .number(QLatin1String("status"), status)
        .text(QLatin1String("file_name"), file_name)
        .done();
}

ConversionTask ConversionTask::decode(const QJsonValue &v, const json::Path &path) {
    const QJsonObject o = json::object(v, path);
    ConversionTask t;
    // Key order matters: the first offending key is the one reported.
    static const QList<QString> keys = [] {
        QList<QString> out;
        for (const TaskField &f : kTaskFields)
            out.append(f.key);
        return out;
    }();
    for (qsizetype i = 0; i < kTaskFieldCount; ++i) {
        const TaskField &f = kTaskFields[i];
        const QString &key = keys[i];
        if (f.number)
            t.*f.number = json::optionalInteger(o, key, path);
        else if (f.additive)
            t.*f.text = o.value(key).isString() ? o.value(key).toString() : QString();
        else
            t.*f.text =
                f.required ? json::string(o, key, path) : json::optionalString(o, key, path);
    }
    return t;
}

QJsonObject ConversionTask::toJson() const {
    QJsonObject o;
    for (const TaskField &f : kTaskFields) {
        if (f.number)
            o.insert(f.key, this->*f.number);
        else if (!f.omitEmpty || !(this->*f.text).isEmpty())
            o.insert(f.key, this->*f.text);
    }
    return o;
}

QString ConversionTask::render() const {
    Rendering r(QLatin1String("ConversionTask"));
    for (const TaskField &f : kTaskFields) {
        if (f.number)
            r.number(f.name, this->*f.number);
        else if (!f.omitEmpty || !(this->*f.text).isEmpty())
            r.text(f.name, this->*f.text);
    }
    return r.done();
}

bool ConversionTask::sameContent(const ConversionTask &o) const {
    for (const TaskField &f : kTaskFields)
        if (f.number ? this->*f.number != o.*f.number : this->*f.text != o.*f.text)
            return false;
    return true;
}

// Every member has its row: a member added without one does not build.
static_assert([] {
    size_t size = 0;
    for (const TaskField &f : kTaskFields)
        size += f.number ? sizeof(qint64) : sizeof(QString);
    return size;
}() == sizeof(ConversionTask));

qsizetype taskFieldOfKey(QByteArrayView key) {
    for (qsizetype i = 0; i < kTaskFieldCount; ++i)
        if (key == QByteArrayView(kTaskFields[i].key.data(), kTaskFields[i].key.size()))
            return i;
    return -1;
}

namespace {

QList<ConversionTask> decodeTasks(const QJsonArray &items, const json::Path &path) {
    QList<ConversionTask> tasks;
    tasks.reserve(items.size());
    for (qsizetype i = 0; i < items.size(); ++i)
        tasks.append(ConversionTask::decode(items.at(i), path.index(i)));
    return tasks;
}

} // namespace

ConversionHistoryData ConversionHistoryData::decode(const QJsonValue &v, const json::Path &path) {
    const QJsonObject o = json::object(v, path);
    const json::Path at = path.key(QStringLiteral("converts"));
    return {decodeTasks(json::array(json::member(o, QStringLiteral("converts"), path), at), at)};
}

QString ConversionHistoryData::render() const {
    // A history can hold 100 000 jobs; the line names the count and the first few.
    QString out = QStringLiteral("ConversionHistoryData(converts: %1 jobs").arg(converts.size());
    const qsizetype shown = qMin<qsizetype>(converts.size(), 3);
    if (shown) {
        out += QStringLiteral(", first: [");
        for (qsizetype i = 0; i < shown; ++i)
            out += (i ? QStringLiteral(", ") : QString()) + converts[i].render();
        out += u']';
    }
    return out + u')';
}

QList<ConversionTask> decodeTaskArray(const QByteArray &bytes) {
    const json::Path root;
    return decodeTasks(json::array(json::parse(bytes), root), root);
}

} // namespace quorvel
