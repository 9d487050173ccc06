#include "service/WireRecords.h"

#include <QJsonDocument>

namespace quorvel {

using json::quoted;

LoginData LoginData::decode(const QJsonValue &v, const json::Path &path)
{
    const QJsonObject o = json::object(v, path);
    return {json::string(o, QStringLiteral("token"), path)};
}

QString LoginData::render() const { return QStringLiteral("LoginData(token: %1)").arg(quoted(token)); }

User User::decode(const QJsonValue &v, const json::Path &path)
{
    const QJsonObject o = json::object(v, path);
    User u;
    u.id = json::string(o, QStringLiteral("id"), path);
    u.email = json::string(o, QStringLiteral("email"), path);
    u.name = json::string(o, QStringLiteral("name"), path);
    return u;
}

QString User::render() const
{
    return QStringLiteral("User(id: %1, email: %2, name: %3)")
        .arg(quoted(id), quoted(email), quoted(name));
}

UserInfoData UserInfoData::decode(const QJsonValue &v, const json::Path &path)
{
    const QJsonObject o = json::object(v, path);
    UserInfoData d;
    d.email = json::string(o, QStringLiteral("email"), path);
    d.is_lifetimedeal_member = json::boolean(o, QStringLiteral("is_lifetimedeal_member"), path);
    d.lifetime_member_description =
        json::string(o, QStringLiteral("lifetime_member_description"), path);
    d.page_balcance_description = json::string(o, QStringLiteral("page_balcance_description"), path);
    d.lft_daily_usage = json::integer(o, QStringLiteral("lft_daily_usage"), path);
    d.lft_daily_total = json::integer(o, QStringLiteral("lft_daily_total"), path);
    return d;
}

QJsonObject UserInfoData::toJson() const
{
    return {{QStringLiteral("email"), email},
            {QStringLiteral("is_lifetimedeal_member"), is_lifetimedeal_member},
            {QStringLiteral("lifetime_member_description"), lifetime_member_description},
            {QStringLiteral("page_balcance_description"), page_balcance_description},
            {QStringLiteral("lft_daily_usage"), lft_daily_usage},
            {QStringLiteral("lft_daily_total"), lft_daily_total}};
}

QString UserInfoData::render() const
{
    return QStringLiteral("UserInfoData(email: %1, is_lifetimedeal_member: %2, "
                          "lifetime_member_description: %3, page_balcance_description: %4, "
                          "lft_daily_usage: %5, lft_daily_total: %6)")
        .arg(quoted(email), is_lifetimedeal_member ? QStringLiteral("true") : QStringLiteral("false"),
             quoted(lifetime_member_description), quoted(page_balcance_description))
        .arg(lft_daily_usage)
        .arg(lft_daily_total);
}

PageBalanceData PageBalanceData::decode(const QJsonValue &v, const json::Path &path)
{
    const QJsonObject o = json::object(v, path);
    PageBalanceData d;
    d.total_pages = json::integer(o, QStringLiteral("total_pages"), path);
    d.consumed_pages = json::integer(o, QStringLiteral("consumed_pages"), path);
    return d;
}

QJsonObject PageBalanceData::toJson() const
{
    return {{QStringLiteral("total_pages"), total_pages},
            {QStringLiteral("consumed_pages"), consumed_pages}};
}

QString PageBalanceData::render() const
{
    return QStringLiteral("PageBalanceData(total_pages: %1, consumed_pages: %2)")
        .arg(total_pages)
        .arg(consumed_pages);
}

FileUploadData FileUploadData::decode(const QJsonValue &v, const json::Path &path)
{
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

QString FileUploadData::render() const
{
    return QStringLiteral("FileUploadData(file_name: %1, source_file_path: %2, source_file_typ: "
                          "%3, source_file_md5: %4, page_number: %5, status: %6)")
        .arg(quoted(file_name), quoted(source_file_path), quoted(source_file_typ),
             quoted(source_file_md5))
        .arg(page_number)
        .arg(status);
}

QJsonObject ConvertRequest::toJson() const
{
    return {{QStringLiteral("source_file_md5"), source_file_md5},
            {QStringLiteral("typ"), typ},
            {QStringLiteral("source_file_path"), source_file_path},
            {QStringLiteral("source_file_typ"), source_file_typ},
            {QStringLiteral("page_number"), page_number},
            {QStringLiteral("status"), status},
            {QStringLiteral("file_name"), file_name}};
}

QByteArray ConvertRequest::encode() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Indented);
}

QString ConvertRequest::render() const
{
    return QStringLiteral("ConvertRequest(source_file_md5: %1, typ: %2, source_file_path: %3, "
                          "source_file_typ: %4, page_number: %5, status: %6, file_name: %7)")
        .arg(quoted(source_file_md5), quoted(typ), quoted(source_file_path),
             quoted(source_file_typ))
        .arg(page_number)
        .arg(status)
        .arg(quoted(file_name));
}

ConversionTask ConversionTask::decode(const QJsonValue &v, const json::Path &path)
{
    const QJsonObject o = json::object(v, path);
    ConversionTask t;
    // Key order matters: the first offending key is the one reported.
    t.id = json::string(o, QStringLiteral("id"), path);
    t.userId = json::optionalString(o, QStringLiteral("user_id"), path);
    t.typ = json::optionalString(o, QStringLiteral("typ"), path);
    t.fileName = json::optionalString(o, QStringLiteral("file_name"), path);
    t.sourceFilePath = json::optionalString(o, QStringLiteral("source_file_path"), path);
    t.sourceFileTyp = json::optionalString(o, QStringLiteral("source_file_typ"), path);
    t.resultFileTyp = json::optionalString(o, QStringLiteral("result_file_typ"), path);
    t.sourceFileMd5 = json::optionalString(o, QStringLiteral("source_file_md5"), path);
    t.status = json::optionalInteger(o, QStringLiteral("status"), path);
    t.createAt = json::optionalString(o, QStringLiteral("create_at"), path);
    t.pageNumber = json::optionalInteger(o, QStringLiteral("page_number"), path);
    return t;
}

QJsonObject ConversionTask::toJson() const
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("user_id"), userId},
            {QStringLiteral("typ"), typ},
            {QStringLiteral("file_name"), fileName},
            {QStringLiteral("page_number"), pageNumber},
            {QStringLiteral("source_file_path"), sourceFilePath},
            {QStringLiteral("source_file_typ"), sourceFileTyp},
            {QStringLiteral("result_file_typ"), resultFileTyp},
            {QStringLiteral("source_file_md5"), sourceFileMd5},
            {QStringLiteral("status"), status},
            {QStringLiteral("create_at"), createAt}};
}

QString ConversionTask::render() const
{
    return QStringLiteral("ConversionTask(id: %1, userId: %2, typ: %3, fileName: %4, pageNumber: "
                          "%5, sourceFilePath: %6, sourceFileTyp: %7, resultFileTyp: %8, "
                          "sourceFileMd5: %9, status: %10, createAt: %11)")
        .arg(quoted(id), quoted(userId), quoted(typ), quoted(fileName))
        .arg(pageNumber)
        .arg(quoted(sourceFilePath), quoted(sourceFileTyp), quoted(resultFileTyp),
             quoted(sourceFileMd5))
        .arg(status)
        .arg(quoted(createAt));
}

bool ConversionTask::sameContent(const ConversionTask &o) const
{
    return id == o.id && userId == o.userId && typ == o.typ && fileName == o.fileName &&
           pageNumber == o.pageNumber && sourceFilePath == o.sourceFilePath &&
           sourceFileTyp == o.sourceFileTyp && resultFileTyp == o.resultFileTyp &&
           sourceFileMd5 == o.sourceFileMd5 && status == o.status && createAt == o.createAt;
}

namespace {

QList<ConversionTask> decodeTasks(const QJsonArray &items, const json::Path &path)
{
    QList<ConversionTask> tasks;
    tasks.reserve(items.size());
    for (qsizetype i = 0; i < items.size(); ++i)
        tasks.append(ConversionTask::decode(items.at(i), path.index(i)));
    return tasks;
}

} // namespace

ConversionHistoryData ConversionHistoryData::decode(const QJsonValue &v, const json::Path &path)
{
    const QJsonObject o = json::object(v, path);
    const json::Path at = path.key(QStringLiteral("converts"));
    return {decodeTasks(json::array(json::member(o, QStringLiteral("converts"), path), at), at)};
}

QString ConversionHistoryData::render() const
{
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

QList<ConversionTask> decodeTaskArray(const QByteArray &bytes)
{
    const json::Path root;
    return decodeTasks(json::array(json::parse(bytes), root), root);
}

} // namespace quorvel
