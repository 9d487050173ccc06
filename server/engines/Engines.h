#pragma once

#include <QString>

#include <atomic>
#include <chrono>

namespace quorvel::server {

class OfficeEngine;

struct EngineJob {
    QString code;      // upper-case type code
    QString inputPath; // the stored upload
    QString sourceTyp; // "pdf", "docx", "markdown", …
    bool encrypted = false;
    int pages = 0;                  // known page count of the source, or 0
    QString workDir;                // an empty directory that belongs to this job
    QString profileDir;             // this worker's LibreOffice user profile (cold runs only)
    OfficeEngine *office = nullptr; // this worker's warm LibreOffice; null: a cold soffice per step
    QString selfExecutable;
    std::chrono::milliseconds timeout{120000};
    const std::atomic<bool> *cancel = nullptr;
};

struct EngineOutcome {
    bool ok = false;
    bool cancelled = false;
    QString resultPath; // inside workDir
    QString reason;     // why it failed, in detail, for the log and the job record
    QString failReason; // why it failed, in a few words for the person who asked
    QString note;       // what a completed job tells the person (nothing charged, pages unread)
    QString log;        // details for the service's log only
    int pages = 0;      // pages to charge; 0 with `free`
    bool free = false;  // nothing to charge: the result is the original
};

// The short reasons a person reads when a job failed.
inline const QString kTooLarge = QStringLiteral("too large for the engine's memory");
inline const QString kTimedOut = QStringLiteral("timed out");
inline const QString kNoText = QStringLiteral("no text found");
inline const QString kUnreadable = QStringLiteral("unreadable input");
inline const QString kEngineFailed = QStringLiteral("the conversion engine failed");

EngineOutcome runEngine(const EngineJob &job);

// Markdown → a standalone HTML page that LibreOffice's Writer import lays out
// well (table borders, monospace code). Exposed for the engines' tests.
QString htmlPage(const QString &title, const QString &bodyHtml);
QString plainTextToHtml(const QString &text);

} // namespace quorvel::server
