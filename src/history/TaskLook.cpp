#include "history/TaskLook.h"

#include <QCoreApplication>

#include "service/JobStatus.h"
#include "service/Operations.h"

namespace quorvel::TaskLook {

namespace {
// What a person reads, through the application's translator.
QString tr(const char *text) {
    return QCoreApplication::translate("TaskLook", text);
}
} // namespace

namespace {
constexpr qint64 kCompleted = statusNumber(JobStatus::Completed);
constexpr qint64 kFailed = statusNumber(JobStatus::Failed);
} // namespace

bool isRetrying(bool retryRunning, const std::optional<ConversionTask> &retryTask,
                const QList<ConversionTask> &tasks) {
    if (retryRunning)
        return true;
    if (!retryTask)
        return false;
    for (const ConversionTask &t : tasks)
        if (t.id == retryTask->id)
            return !isFinished(t.status);
    return false;
}

QString statusText(qint64 status) {
    switch (status) {
    case kCompleted:
        return tr("Completed");
    case kFailed:
        return tr("Failed");
    default:
        return tr("Converting");
    }
}

Tone statusTone(qint64 status) {
    return status == kCompleted ? Tone::Success
           : status == kFailed  ? Tone::Failure
                                : Tone::Progress;
}

Glyph badgeGlyph(const QString &statusText, bool isCompleted) {
    if (statusText == tr("Failed"))
        return {QStringLiteral("xmark.circle.fill"), Tone::Failure};
    if (isCompleted)
        return {QStringLiteral("checkmark.circle.fill"), Tone::Success};
    return {QStringLiteral("arrow.triangle.2.circlepath"), Tone::Progress};
}

Glyph cardGlyph(qint64 status) {
    if (status == kCompleted)
        return {QStringLiteral("doc.fill.badge.checkmark"), Tone::Success};
    if (status == kFailed)
        return {QStringLiteral("xmark.circle"), Tone::Failure};
    return {QStringLiteral("arrow.triangle.2.circlepath"), Tone::Progress};
}

Glyph sheetGlyph(qint64 status) {
    if (status == kFailed)
        return {QStringLiteral("xmark.circle.fill"), Tone::Failure};
    if (status == kCompleted)
        return {QStringLiteral("checkmark.circle.fill"), Tone::Success};
    return {QStringLiteral("arrow.triangle.2.circlepath"), Tone::Progress};
}

QString typeIcon(const QString &typ) {
    return Operations::typeIcon(typ);
}

QString pagesText(qint64 pageNumber) {
    if (pageNumber > 0)
        return QString::number(pageNumber);
    return tr("unknown");
}

QString action(qint64 status) {
    return status == kCompleted ? QStringLiteral("download")
           : status == kFailed  ? QStringLiteral("retry")
                                : QString();
}

} // namespace quorvel::TaskLook
