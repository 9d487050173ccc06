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
    QString reason;     // why it failed, for the log and the job record
    QString failReason; // why it failed, for the client (may be empty)
    int pages = 0;      // pages to charge
};

EngineOutcome runEngine(const EngineJob &job);

// Markdown → a standalone HTML page that LibreOffice's Writer import lays out
// well (table borders, monospace code). Exposed for the engines' tests.
QString htmlPage(const QString &title, const QString &bodyHtml);
QString plainTextToHtml(const QString &text);

} // namespace quorvel::server
