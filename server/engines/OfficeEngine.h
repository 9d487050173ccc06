#pragma once

#include "Process.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace quorvel::server {

// One long-lived quorvel-office-engine process: LibreOffice loaded once and
// used for many conversions by one worker. A crash, a conversion past its
// time limit or memory past its bound costs only the job it was converting;
// the process is then replaced. It is also replaced after a number of
// documents, so whatever LibreOffice accumulates is let go regularly.
class OfficeEngine {
public:
    struct Settings {
        QString program;        // quorvel-office-engine
        QString profileDir;     // its LibreOffice user profile, used by no other process
        QString homeDir;        // its HOME and TMPDIR
        QString logFile;        // its standard error
        int recycleAfter = 200; // documents
        std::uint64_t addressSpace = std::uint64_t(6) << 30;     // hard bound, bytes
        std::uint64_t residentLimit = std::uint64_t(1536) << 20; // checked after each job
        std::chrono::milliseconds startTimeout{180000};
        std::function<void(const QString &)> log; // start and recycling events
    };

    struct Conversion {
        QString input;
        QString output;
        QString importFilter; // empty: LibreOffice detects the type
        QString exportFilter; // a filter name, or "pdf" for the document's own PDF export
    };

    struct Result {
        bool ok = false;
        bool cancelled = false;
        QString reason; // why it failed
    };

    explicit OfficeEngine(Settings settings);
    ~OfficeEngine();
    OfficeEngine(const OfficeEngine &) = delete;
    OfficeEngine &operator=(const OfficeEngine &) = delete;

    // Starts the process if none runs; returns without waiting for LibreOffice to load.
    void start();
    Result convert(const Conversion &job, std::chrono::steady_clock::time_point deadline,
                   const std::atomic<bool> *cancel = nullptr);
    // Ends the process.
    void stop();

    int pid() const { return m_pidSeen.load(); }
    int documents() const { return m_documents; } // converted by the current process
    int starts() const { return m_starts; }

    // Where the engine program is: beside `serverExecutable`, else in PATH.
    static QString locateProgram(const QString &serverExecutable);

private:
    enum class Read { Line, Closed, TimedOut, Cancelled };
    Read readLine(QByteArray *line, std::chrono::steady_clock::time_point deadline,
                  const std::atomic<bool> *cancel);
    QString ended(const QString &what); // kills the process; says how it ended
    void restart();
    bool overMemory() const;

    Settings m_settings;
    ChildProcess m_child;
    bool m_ready = false;
    std::chrono::steady_clock::time_point m_startedAt;
    QByteArray m_buffer;
    int m_documents = 0;
    int m_starts = 0;
    std::atomic<int> m_pidSeen{0};
};

} // namespace quorvel::server
