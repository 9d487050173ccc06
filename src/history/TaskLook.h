#pragma once

#include "service/WireRecords.h"

#include <QList>
#include <QString>

#include <optional>

// How a job is shown on its card and in its detail sheet: texts, icon identifiers and
// colours by name (a theme turns "green" into its green). Pure rules, no GUI.
namespace quorvel::TaskLook {

struct Glyph {
    QString icon;
    QString color; // "blue", "green", "red", "orange", or "secondaryText"
    bool operator==(const Glyph &) const = default;
};

// A card or sheet shows a job as being retried while its own retry runs, or while the
// list's entry for the job it retried is neither completed nor failed.
bool isRetrying(bool retryRunning, const std::optional<ConversionTask> &retryTask,
                const QList<ConversionTask> &tasks);

// "Retrying", "Completed", "Failed" or "Converting"; the sheet says "Retrying...".
QString statusText(qint64 status, bool retrying, bool inSheet = false);
// The colour of that text.
QString statusColor(qint64 status, bool retrying);
// The badge's own look, from what it is given: "Failed", else completed, else in progress.
Glyph badgeGlyph(const QString &statusText, bool isCompleted);
Glyph cardGlyph(qint64 status, bool retrying);
Glyph sheetGlyph(qint64 status, bool retrying);
// Exact, case-sensitive; anything unknown (upper-case codes too) is "doc.fill".
QString typeIcon(const QString &typ);
// The page count, or "unknown" (the card and the sheet say the same).
QString pagesText(qint64 pageNumber);
// "download" for a completed job, "retry" for a failed one, "" otherwise.
QString action(qint64 status);

} // namespace quorvel::TaskLook
