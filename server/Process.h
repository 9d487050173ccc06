#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace quorvel::server {

struct ProcessLimits {
    std::uint64_t addressSpace = std::uint64_t(4) << 30; // bytes
    std::uint64_t fileSize = std::uint64_t(1) << 30;     // largest file it may write
    std::uint64_t openFiles = 1024;
};

struct ProcessSpec {
    QString program; // absolute path, or a name looked up in PATH
    QStringList args;
    QString workDir;
    QStringList env; // "NAME=value"; the whole environment of the child
    std::chrono::milliseconds timeout{60000};
    ProcessLimits limits;
    QString outputFile; // stdout and stderr go here
};

struct ProcessResult {
    enum class End { Exited, Signalled, TimedOut, Cancelled, NotStarted };
    End end = End::NotStarted;
    int exitCode = -1; // exit status, or the signal number
    QString output;    // the last part of what the child wrote
    bool ok() const { return end == End::Exited && exitCode == 0; }
    QString describe() const;
};

// Runs one program without a shell, in its own process group, under resource
// limits; on timeout or cancellation the whole group is killed.
ProcessResult runProcess(const ProcessSpec &spec, const std::atomic<bool> *cancel = nullptr);

// Kills every process whose HOME lies under `workRoot`: engines of a service
// that died, which still hold files and LibreOffice profiles. Returns how many.
int killOrphanedEngines(const QString &workRoot);

// Looks a program up in PATH; empty when absent.
QString findProgram(const QString &name);

} // namespace quorvel::server
