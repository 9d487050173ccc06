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
    bool cpuFromTimeout = true; // CPU seconds bounded by the time limit
    // Added to the service's own: conversions, and a LibreOffice engine's
    // start-up of several CPU seconds, leave the cores to the answers first.
    int niceness = 10;
};

struct ProcessCall {
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
ProcessResult runProcess(const ProcessCall &call, const std::atomic<bool> *cancel = nullptr);

// A program started to keep running, with pipes to its standard input and
// from its standard output (stderr goes to the call's output file). Same
// isolation as runProcess: own process group, limits, dies with the service.
struct ChildProcess {
    int pid = -1;
    int input = -1;  // write end: the child's standard input
    int output = -1; // read end: the child's standard output
    QString error;   // why it could not be started
    bool running() const { return pid > 0; }
};
ChildProcess startProcess(const ProcessCall &call);
// Kills the child's whole process group, reaps it, closes the pipes and says
// how it ended (Signalled for our own kill when it was still alive).
ProcessResult endProcess(ChildProcess &child);
// How the child ended, if it has (without waiting); NotStarted while it runs.
ProcessResult pollProcess(ChildProcess &child);

// Kills every process whose HOME lies under `workRoot`: engines of a service
// that died, which still hold files and LibreOffice profiles. Returns how many.
int killOrphanedEngines(const QString &workRoot);

// Looks a program up in PATH; empty when absent.
QString findProgram(const QString &name);

} // namespace quorvel::server
