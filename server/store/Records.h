#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace quorvel::server {

// Job states as stored; the wire knows only 0 (queued or running), 1 and 2.
namespace JobState {
inline const QString Queued = QStringLiteral("queued");
inline const QString Running = QStringLiteral("running");
inline const QString Completed = QStringLiteral("completed");
inline const QString Failed = QStringLiteral("failed");
int wireStatus(const QString &state);
// A counter bumped whenever any job is created or changes state, so answers
// built from the job table can be cached until it moves.
quint64 generation();
// Any job of any account may have changed (jobs taken back after a restart).
void changed();
// One job changed; called once its row is committed.
void changed(qint64 userId, const QString &jobId);
// The jobs of one account changed after generation `since`, up to `generation`.
// Not `complete` when that is no longer known (too long ago, or everything
// changed): the caller reads the account's jobs again.
struct Changes {
    quint64 generation = 0;
    bool complete = true;
    std::vector<QString> jobIds; // oldest change first; an id may repeat
};
Changes changesSince(qint64 userId, quint64 since);
} // namespace JobState

// One conversion type code: what it accepts and what it produces.
struct Operation {
    QString code;            // upper case, e.g. "PDF2DOC"
    QStringList sourceTypes; // accepted upload types
    QString resultType;      // result extension without dot; empty when there is none
};

// Looks a type code up, ignoring case; nothing for an unknown code.
std::optional<Operation> findOperation(const QString &code);

// Timestamps as the wire carries them, e.g. "2025-01-31 08:15:00 +0000", and
// the day pages are counted by.
QString nowText();
QString todayText();

// {"code":…, "msg":…, "data":…} as compact JSON.
QByteArray envelope(int code, const QString &msg, const QJsonValue &data);

struct JobRecord {
    qint64 seq = 0; // creation order
    QString id;
    qint64 userId = 0;
    QString uploadId;
    QString typ;
    QString fileName;
    qint64 pageNumber = 0;
    QString sourceFileTyp;
    QString resultFileTyp;
    QString sourceFileMd5;
    QString state;
    QString resultFile;
    QString failure;
    QString failReason; // for the client, sent as "fail_reason" when there is one
    QString note;       // what a completed job tells the person, sent as "note" when there is one
    QString createdAt;
};

struct UploadRecord {
    QString id;
    qint64 userId = 0;
    QString fileName;
    QString typ;
    QString md5;
    qint64 size = 0;
    qint64 pageNumber = 0;
    bool encrypted = false;
};

// The opaque storage key handed to clients; it names the upload, never a file path.
QString uploadKey(const UploadRecord &upload);
// The upload id inside a key, or an empty string when the text is not one of ours.
QString uploadIdFromKey(const QString &key);

// The job as clients read it. Its type code is kept as the catalogue spells it (upper case,
// what the engines and result names go by) and listed in lower case, the form clients look
// their type icons up by.
QJsonObject jobJson(const JobRecord &job);
QJsonObject uploadJson(const UploadRecord &upload);

// Reduces a client-supplied name to one printable component (no separators,
// no control characters, bounded length); never empty.
QString safeDisplayName(const QString &name);

} // namespace quorvel::server
