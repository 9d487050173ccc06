#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

#include <iterator>

#include "service/JsonDecoder.h"

// The JSON records the service exchanges. Each has strict decoding (every key
// required) except ConversionTask, whose decoding is lenient; `render()` is the
// record's textual form in diagnostic lines.
namespace quorvel {

struct LoginData {
    Q_GADGET
    Q_PROPERTY(QString token MEMBER token FINAL)
public:
    QString token;

    static LoginData decode(const QJsonValue &v, const json::Path &path = {});
    QString render() const;
};

struct User {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id FINAL)
    Q_PROPERTY(QString email MEMBER email FINAL)
    Q_PROPERTY(QString name MEMBER name FINAL)
public:
    QString id;
    QString email;
    QString name;

    static User decode(const QJsonValue &v, const json::Path &path = {});
    QString render() const;
    bool operator==(const User &) const = default;
};

struct UserInfoData {
    Q_GADGET
    Q_PROPERTY(QString email MEMBER email FINAL)
    Q_PROPERTY(bool is_lifetimedeal_member MEMBER is_lifetimedeal_member FINAL)
    Q_PROPERTY(QString lifetime_member_description MEMBER lifetime_member_description FINAL)
    Q_PROPERTY(QString page_balcance_description MEMBER page_balcance_description FINAL)
    Q_PROPERTY(qint64 lft_daily_usage MEMBER lft_daily_usage FINAL)
    Q_PROPERTY(qint64 lft_daily_total MEMBER lft_daily_total FINAL)
public:
    QString email;
    bool is_lifetimedeal_member = false;
    QString lifetime_member_description;
    QString page_balcance_description;
    qint64 lft_daily_usage = 0;
    qint64 lft_daily_total = 0;

    static UserInfoData decode(const QJsonValue &v, const json::Path &path = {});
    QJsonObject toJson() const;
    QString render() const;
    bool operator==(const UserInfoData &) const = default;
};

struct PageBalanceData {
    Q_GADGET
    Q_PROPERTY(qint64 total_pages MEMBER total_pages FINAL)
    Q_PROPERTY(qint64 consumed_pages MEMBER consumed_pages FINAL)
public:
    qint64 total_pages = 0;
    qint64 consumed_pages = 0;

    static PageBalanceData decode(const QJsonValue &v, const json::Path &path = {});
    QJsonObject toJson() const;
    QString render() const;
    bool operator==(const PageBalanceData &) const = default;
};

struct FileUploadData {
    Q_GADGET
    Q_PROPERTY(QString file_name MEMBER file_name FINAL)
    Q_PROPERTY(QString source_file_path MEMBER source_file_path FINAL)
    Q_PROPERTY(QString source_file_typ MEMBER source_file_typ FINAL)
    Q_PROPERTY(QString source_file_md5 MEMBER source_file_md5 FINAL)
    Q_PROPERTY(qint64 page_number MEMBER page_number FINAL)
    Q_PROPERTY(qint64 status MEMBER status FINAL)
public:
    QString file_name;
    QString source_file_path;
    QString source_file_typ;
    QString source_file_md5;
    qint64 page_number = 0;
    qint64 status = 0;

    static FileUploadData decode(const QJsonValue &v, const json::Path &path = {});
    QString render() const;
    bool operator==(const FileUploadData &) const = default;
};

struct ConvertRequest {
    QString source_file_md5;
    QString typ;
    QString source_file_path;
    QString source_file_typ;
    qint64 page_number = 0;
    qint64 status = 0;
    QString file_name;

    QJsonObject toJson() const;
    // Pretty-printed JSON with all seven members, as the convert call sends it.
    QByteArray encode() const;
    QString render() const;
};

struct ConversionTask {
    Q_GADGET
public:
    QString id;
    QString userId;
    QString typ;
    QString fileName;
    qint64 pageNumber = 0;
    QString sourceFilePath;
    QString sourceFileTyp;
    QString resultFileTyp;
    QString sourceFileMd5;
    qint64 status = 0;
    QString createAt;
    QString failReason; // why a failed job failed, as the service says
    QString note;       // what a completed job tells the person (e.g. nothing was charged)

    // Lenient: "id" must be a string; other keys may be absent or null, but not of
    // another kind.
    static ConversionTask decode(const QJsonValue &v, const json::Path &path = {});
    // The record with the service's keys.
    QJsonObject toJson() const;
    QString render() const;

    // A job is identified by its id alone: a refreshed copy is the same job.
    bool operator==(const ConversionTask &other) const { return id == other.id; }
    // Every field equal, for places that must see a change.
    bool sameContent(const ConversionTask &other) const;
};

// The job's fields, in the order the lenient decoding reads them. Every decoder, the
// encoder, the rendering, the list model's roles and `sameContent` walk this list, so a
// new field is its member above and one row here.
struct TaskField {
    QLatin1StringView key;  // the service's key
    QLatin1StringView name; // the member's name, also the list model's role name
    QString ConversionTask::*text = nullptr;
    qint64 ConversionTask::*number = nullptr; // when not text
    bool required = false;                    // only the id
    bool omitEmpty = false;                   // left out of the encoding when empty
    // A key the service added later: a value of another kind reads as none instead of
    // failing the record.
    bool additive = false;
};

inline constexpr TaskField kTaskFields[] = {
    {QLatin1StringView("id"), QLatin1StringView("id"), &ConversionTask::id, nullptr, true},
    {QLatin1StringView("user_id"), QLatin1StringView("userId"), &ConversionTask::userId},
    {QLatin1StringView("typ"), QLatin1StringView("typ"), &ConversionTask::typ},
    {QLatin1StringView("file_name"), QLatin1StringView("fileName"), &ConversionTask::fileName},
    {QLatin1StringView("source_file_path"), QLatin1StringView("sourceFilePath"),
     &ConversionTask::sourceFilePath},
    {QLatin1StringView("source_file_typ"), QLatin1StringView("sourceFileTyp"),
     &ConversionTask::sourceFileTyp},
    {QLatin1StringView("result_file_typ"), QLatin1StringView("resultFileTyp"),
     &ConversionTask::resultFileTyp},
    {QLatin1StringView("source_file_md5"), QLatin1StringView("sourceFileMd5"),
     &ConversionTask::sourceFileMd5},
    {QLatin1StringView("status"), QLatin1StringView("status"), nullptr, &ConversionTask::status},
    {QLatin1StringView("create_at"), QLatin1StringView("createAt"), &ConversionTask::createAt},
    {QLatin1StringView("page_number"), QLatin1StringView("pageNumber"), nullptr,
     &ConversionTask::pageNumber},
    {QLatin1StringView("fail_reason"), QLatin1StringView("failReason"), &ConversionTask::failReason,
     nullptr, false, true, true},
    {QLatin1StringView("note"), QLatin1StringView("note"), &ConversionTask::note, nullptr, false,
     true, true},
};
inline constexpr qsizetype kTaskFieldCount = std::size(kTaskFields);

// The field with this wire key, or -1.
qsizetype taskFieldOfKey(QByteArrayView key);

inline size_t qHash(const ConversionTask &task, size_t seed = 0) {
    return qHash(task.id, seed);
}

struct ConversionHistoryData {
    QList<ConversionTask> converts;

    static ConversionHistoryData decode(const QJsonValue &v, const json::Path &path = {});
    QString render() const;
};

// The answer envelope {"code", "msg", "data"}; decoding never looks at code or msg.
template <typename T> struct Envelope {
    qint64 code = 0;
    QString msg;
    T data;

    static Envelope decode(const QJsonValue &v) {
        const json::Path root;
        const QJsonObject o = json::object(v, root);
        Envelope e;
        e.code = json::integer(o, QStringLiteral("code"), root);
        e.msg = json::string(o, QStringLiteral("msg"), root);
        e.data = T::decode(json::member(o, QStringLiteral("data"), root),
                           root.key(QStringLiteral("data")));
        return e;
    }
    static Envelope decode(const QByteArray &bytes) { return decode(json::parse(bytes)); }

    QString render(const QString &typeName) const {
        // Concatenated: the message comes from the service and may hold "%1".
        return typeName + QStringLiteral("(code: ") + QString::number(code) +
               QStringLiteral(", msg: ") + json::quoted(msg) + QStringLiteral(", data: ") +
               data.render() + u')';
    }
};

using LoginResponse = Envelope<LoginData>;
using UserInfoResponse = Envelope<UserInfoData>;
using PageBalanceResponse = Envelope<PageBalanceData>;
using FileUploadResponse = Envelope<FileUploadData>;
using ConversionResponse = Envelope<ConversionTask>;
using ConversionHistoryResponse = Envelope<ConversionHistoryData>;

// A JSON array of jobs (the history's bare-array and repaired forms).
QList<ConversionTask> decodeTaskArray(const QByteArray &bytes);

} // namespace quorvel

Q_DECLARE_METATYPE(quorvel::User)
Q_DECLARE_METATYPE(quorvel::UserInfoData)
Q_DECLARE_METATYPE(quorvel::PageBalanceData)
Q_DECLARE_METATYPE(quorvel::FileUploadData)
Q_DECLARE_METATYPE(quorvel::ConversionTask)
