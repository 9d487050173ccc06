#include "Records.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <mutex>

namespace quorvel::server {

namespace {
// The recent job changes, so that an account's cached answers take in its own
// changes and ignore everyone else's.
struct Journal {
    struct Entry {
        quint64 generation;
        qint64 userId;
        QString jobId;
    };
    static constexpr std::size_t kKept = 65536;
    std::mutex mutex;
    std::atomic<quint64> generation{1};
    quint64 unknownUpTo = 1; // changes up to here are not (all) in `entries`
    std::deque<Entry> entries;
};
Journal &journal() {
    static Journal j;
    return j;
}
} // namespace

quint64 JobState::generation() {
    return journal().generation.load();
}

void JobState::changed() {
    Journal &j = journal();
    std::lock_guard lock(j.mutex);
    j.unknownUpTo = j.generation.fetch_add(1) + 1;
}

void JobState::changed(qint64 userId, const QString &jobId) {
    Journal &j = journal();
    std::lock_guard lock(j.mutex);
    const quint64 g = j.generation.fetch_add(1) + 1;
    j.entries.push_back({g, userId, jobId});
    if (j.entries.size() > Journal::kKept) {
        j.unknownUpTo = std::max(j.unknownUpTo, j.entries.front().generation);
        j.entries.pop_front();
    }
}

JobState::Changes JobState::changesSince(qint64 userId, quint64 since) {
    Journal &j = journal();
    Changes c;
    c.generation = j.generation.load();
    if (c.generation == since)
        return c;
    std::lock_guard lock(j.mutex);
    c.generation = j.generation.load();
    if (j.unknownUpTo > since) {
        c.complete = false;
        return c;
    }
    const auto first =
        std::upper_bound(j.entries.begin(), j.entries.end(), since,
                         [](quint64 g, const Journal::Entry &e) { return g < e.generation; });
    for (auto it = first; it != j.entries.end(); ++it)
        if (it->userId == userId)
            c.jobIds.push_back(it->jobId);
    return c;
}

int JobState::wireStatus(const QString &state) {
    if (state == Completed)
        return 1;
    if (state == Failed)
        return 2;
    return 0;
}

namespace {
const QStringList kPdf{QStringLiteral("pdf")};
const QStringList kWord{QStringLiteral("docx"), QStringLiteral("doc")};
const QStringList kSlides{QStringLiteral("pptx"), QStringLiteral("ppt")};
const QStringList kText{QStringLiteral("markdown"), QStringLiteral("txt")};
const QStringList kImages{QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("gif"),
                          QStringLiteral("bmp"), QStringLiteral("tiff")};
} // namespace

std::optional<Operation> findOperation(const QString &code) {
    static const std::array<Operation, 14> table{{
        {QStringLiteral("PDF2DOC"), kPdf, QStringLiteral("docx")},
        {QStringLiteral("PDF2DOCX"), kPdf, QStringLiteral("docx")},
        {QStringLiteral("PDF2PPTX"), kPdf, QStringLiteral("pptx")},
        {QStringLiteral("PDF2IMG"), kPdf, QStringLiteral("zip")},
        {QStringLiteral("PDF2MD"), kPdf, QStringLiteral("md")},
        {QStringLiteral("DOCX2PDF"), kWord, QStringLiteral("pdf")},
        {QStringLiteral("DOC2PDF"), kWord, QStringLiteral("pdf")},
        {QStringLiteral("PPTX2PDF"), kSlides, QStringLiteral("pdf")},
        {QStringLiteral("PPT2PDF"), kSlides, QStringLiteral("pdf")},
        {QStringLiteral("MD2PDF"), kText, QStringLiteral("pdf")},
        {QStringLiteral("COMPRESS"), kPdf, QStringLiteral("pdf")},
        {QStringLiteral("IMG2PDF"), kImages, QStringLiteral("pdf")},
        {QStringLiteral("PROTECT"), kPdf, QStringLiteral("pdf")},
        {QStringLiteral("UNLOCK"), kPdf, QStringLiteral("pdf")},
    }};
    const QString upper = code.trimmed().toUpper();
    for (const Operation &op : table)
        if (op.code == upper)
            return op;
    return std::nullopt;
}

QString nowText() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
}

QString todayText() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd"));
}

QByteArray envelope(int code, const QString &msg, const QJsonValue &data) {
    QJsonObject o{{QStringLiteral("code"), code},
                  {QStringLiteral("msg"), msg},
                  {QStringLiteral("data"), data}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString uploadKey(const UploadRecord &upload) {
    return QStringLiteral("uploads/") + upload.id + QLatin1Char('/') + upload.fileName;
}

QString uploadIdFromKey(const QString &key) {
    static const QRegularExpression re(QStringLiteral("^uploads/([0-9a-f]{32})(/|$)"));
    const auto m = re.match(key);
    return m.hasMatch() ? m.captured(1) : QString();
}

QJsonObject jobJson(const JobRecord &job) {
    QJsonObject o{
        {QStringLiteral("id"), job.id},
        {QStringLiteral("user_id"), QString::number(job.userId)},
        {QStringLiteral("typ"), job.typ.toLower()},
        {QStringLiteral("file_name"), job.fileName},
        {QStringLiteral("page_number"), job.pageNumber},
        {QStringLiteral("source_file_path"),
         QStringLiteral("uploads/") + job.uploadId + QLatin1Char('/') + job.fileName},
        {QStringLiteral("source_file_typ"), job.sourceFileTyp},
        {QStringLiteral("result_file_typ"), job.resultFileTyp},
        {QStringLiteral("source_file_md5"), job.sourceFileMd5},
        {QStringLiteral("status"), JobState::wireStatus(job.state)},
        {QStringLiteral("create_at"), job.createdAt},
    };
    if (!job.failReason.isEmpty())
        o.insert(QStringLiteral("fail_reason"), job.failReason);
    if (!job.note.isEmpty())
        o.insert(QStringLiteral("note"), job.note);
    return o;
}

QJsonObject uploadJson(const UploadRecord &upload) {
    return QJsonObject{
        {QStringLiteral("file_name"), upload.fileName},
        {QStringLiteral("source_file_path"), uploadKey(upload)},
        {QStringLiteral("source_file_typ"), upload.typ},
        {QStringLiteral("source_file_md5"), upload.md5},
        {QStringLiteral("page_number"), upload.pageNumber},
        // 0 is a stored upload: the client shows it as "Success".
        {QStringLiteral("status"), 0},
    };
}

QString safeDisplayName(const QString &name) {
    QString n = name;
    const qsizetype slash =
        std::max(n.lastIndexOf(QLatin1Char('/')), n.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0)
        n = n.mid(slash + 1);
    for (QChar &c : n)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char('_');
    n = n.trimmed();
    if (n.size() > 200)
        n = n.left(200);
    if (n.isEmpty() || n == QLatin1String(".") || n == QLatin1String(".."))
        n = QStringLiteral("upload");
    return n;
}

} // namespace quorvel::server
