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

QString statusText(qint64 status, bool retrying, bool inSheet) {
    if (retrying)
        return inSheet ? tr("Retrying...") : tr("Retrying");
    switch (status) {
    case kCompleted:
        return tr("Completed");
    case kFailed:
        return tr("Failed");
    default:
        return tr("Converting");
    }
}

QString statusColor(qint64 status, bool retrying) {
    if (retrying)
        return QStringLiteral("blue");
    return status == kCompleted ? QStringLiteral("green")
           : status == kFailed  ? QStringLiteral("red")
                                : QStringLiteral("blue");
}

Glyph badgeGlyph(const QString &statusText, bool isCompleted) {
    if (statusText == tr("Failed"))
        return {QStringLiteral("xmark.circle.fill"), QStringLiteral("red")};
    if (isCompleted)
        return {QStringLiteral("checkmark.circle.fill"), QStringLiteral("green")};
    return {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("blue")};
}

Glyph cardGlyph(qint64 status, bool retrying) {
    if (status == kCompleted)
        return {QStringLiteral("doc.fill.badge.checkmark"), QStringLiteral("green")};
    if (status == kFailed)
        return {QStringLiteral("xmark.circle"), QStringLiteral("red")};
    if (retrying)
        return {QStringLiteral("arrow.clockwise.circle"), QStringLiteral("orange")};
    return {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("blue")};
}

Glyph sheetGlyph(qint64 status, bool retrying) {
    if (status == kFailed)
        return {QStringLiteral("xmark.circle.fill"), QStringLiteral("red")};
    if (status == kCompleted)
        return {QStringLiteral("checkmark.circle.fill"), QStringLiteral("green")};
    if (retrying)
        return {QStringLiteral("arrow.clockwise.circle.fill"), QStringLiteral("orange")};
    return {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("blue")};
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
