#pragma once

#include "service/WireRecords.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// How a job is shown on its card and in its detail sheet: texts, icon identifiers and
// tones (a theme gives each tone its colour). Pure rules, no GUI.
namespace quorvel::TaskLook {
Q_NAMESPACE

// What a colour says; the window's theme paints Progress blue, Success green, Failure red
// and Retry (a retry the view runs) orange.
enum class Tone { Progress, Success, Failure, Retry };
Q_ENUM_NS(Tone)

struct Glyph {
    QString icon;
    Tone tone;
    bool operator==(const Glyph &) const = default;
};

// A card or sheet shows a job as being retried while its own retry runs, or while the
// list's entry for the job it retried is neither completed nor failed.
bool isRetrying(bool retryRunning, const std::optional<ConversionTask> &retryTask,
                const QList<ConversionTask> &tasks);

// "Completed", "Failed" or "Converting" (a retry the view runs says "Retrying" over it).
QString statusText(qint64 status);
// The tone of that text.
Tone statusTone(qint64 status);
// The badge's own look, from what it is given: "Failed", else completed, else in progress.
Glyph badgeGlyph(const QString &statusText, bool isCompleted);
Glyph cardGlyph(qint64 status);
Glyph sheetGlyph(qint64 status);
// Exact, case-sensitive; anything unknown (upper-case codes too) is "doc.fill".
QString typeIcon(const QString &typ);
// The page count, or "unknown" (the card and the sheet say the same).
QString pagesText(qint64 pageNumber);
// "download" for a completed job, "retry" for a failed one, "" otherwise.
QString action(qint64 status);

} // namespace quorvel::TaskLook
