#include "Process.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <QDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace quorvel::server {

QString ProcessResult::describe() const {
    switch (end) {
    case End::Exited:
        return QStringLiteral("exit status %1").arg(exitCode);
    case End::Signalled:
        return QStringLiteral("killed by signal %1").arg(exitCode);
    case End::TimedOut:
        return QStringLiteral("time limit exceeded");
    case End::Cancelled:
        return QStringLiteral("cancelled");
    case End::NotStarted:
        return QStringLiteral("could not be started");
    }
    return {};
}

int killOrphanedEngines(const QString &workRoot) {
    // Engines run with HOME set to their job's directory under workRoot, and
    // keep it in whatever they spawn; that marks them even when their process
    // group or parent is long gone.
    const QByteArray prefix = "HOME=" + QFile::encodeName(workRoot) + '/';
    int killed = 0;
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pidText : pids) {
        bool ok = false;
        const int pid = pidText.toInt(&ok);
        if (!ok || pid == ::getpid())
            continue;
        QFile env(QStringLiteral("/proc/%1/environ").arg(pid));
        if (!env.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> vars = env.readAll().split('\0');
        bool ours = false;
        for (const QByteArray &v : vars)
            ours = ours || v.startsWith(prefix);
        if (ours && ::kill(pid, SIGKILL) == 0)
            ++killed;
    }
    return killed;
}

QString findProgram(const QString &name) {
    if (name.contains(QLatin1Char('/')))
        return QFileInfo(name).isExecutable() ? name : QString();
    return QStandardPaths::findExecutable(name);
}

namespace {

// Forks and executes `program` as described by `call`, with the given
// descriptors as its standard input (-1: /dev/null), output and error.
// Returns the pid, or -1 when fork failed.
pid_t spawn(const QString &program, const ProcessCall &call, int inFd, int outFd, int errFd) {
    // Everything the child needs is prepared before fork: after fork only
    // async-signal-safe calls are allowed in a threaded process.
    std::vector<QByteArray> store;
    store.reserve(call.args.size() + call.env.size() + 4);
    auto keep = [&](const QByteArray &b) -> char * {
        store.push_back(b);
        return store.back().data();
    };
    std::vector<char *> argv{keep(QFile::encodeName(program))};
    for (const QString &a : call.args)
        argv.push_back(keep(a.toUtf8()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const QString &e : call.env)
        envp.push_back(keep(e.toUtf8()));
    envp.push_back(nullptr);
    const QByteArray workDir = QFile::encodeName(call.workDir);
    const rlimit as{call.limits.addressSpace, call.limits.addressSpace};
    const rlimit fsize{call.limits.fileSize, call.limits.fileSize};
    const rlimit nofile{call.limits.openFiles, call.limits.openFiles};
    const rlim_t cpuSeconds = rlim_t(call.timeout.count() / 1000 + 5);
    const rlimit cpu{cpuSeconds, cpuSeconds + 5};
    const bool limitCpu = call.limits.cpuFromTimeout;
    const int niceness = call.limits.niceness;
    const rlimit noCore{0, 0};

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) {
        if (pid > 0)
            ::setpgid(pid, pid); // both sides set it, whichever runs first
        return pid;
    }
    ::setpgid(0, 0);
    // If the whole service dies (even by SIGKILL), so does the engine.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(125);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Signals the service ignores (SIGPIPE) must not stay ignored in the engine.
    ::signal(SIGPIPE, SIG_DFL);
    if (!workDir.isEmpty() && ::chdir(workDir.constData()) != 0)
        ::_exit(126);
    if (inFd < 0)
        inFd = ::open("/dev/null", O_RDONLY);
    if (inFd >= 0)
        ::dup2(inFd, 0);
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    ::setrlimit(RLIMIT_AS, &as);
    ::setrlimit(RLIMIT_FSIZE, &fsize);
    ::setrlimit(RLIMIT_NOFILE, &nofile);
    if (limitCpu)
        ::setrlimit(RLIMIT_CPU, &cpu);
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (niceness > 0)
        ::setpriority(PRIO_PROCESS, 0, ::getpriority(PRIO_PROCESS, 0) + niceness);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

int openLog(const QString &outputFile) {
    const QByteArray outPath =
        QFile::encodeName(outputFile.isEmpty() ? QStringLiteral("/dev/null") : outputFile);
    return ::open(outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

QString logTail(const QString &outputFile) {
    if (outputFile.isEmpty())
        return {};
    QFile f(outputFile);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    if (f.size() > 4000)
        f.seek(f.size() - 4000);
    return QString::fromUtf8(f.readAll()).trimmed();
}

void describeStatus(ProcessResult &res, int status) {
    if (WIFEXITED(status)) {
        res.end = ProcessResult::End::Exited;
        res.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        res.end = ProcessResult::End::Signalled;
        res.exitCode = WTERMSIG(status);
    }
}

} // namespace

ChildProcess startProcess(const ProcessCall &call) {
    ChildProcess child;
    const QString program = findProgram(call.program);
    if (program.isEmpty()) {
        child.error = call.program + QStringLiteral(" is not installed");
        return child;
    }
    const int logFd = openLog(call.outputFile);
    int in[2], out[2];
    if (logFd < 0 || ::pipe2(in, O_CLOEXEC) != 0) {
        if (logFd >= 0)
            ::close(logFd);
        child.error = QStringLiteral("cannot open the engine's pipes");
        return child;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(logFd);
        ::close(in[0]);
        ::close(in[1]);
        child.error = QStringLiteral("cannot open the engine's pipes");
        return child;
    }
    const pid_t pid = spawn(program, call, in[0], out[1], logFd);
    ::close(logFd);
    ::close(in[0]);
    ::close(out[1]);
    if (pid < 0) {
        ::close(in[1]);
        ::close(out[0]);
        child.error = QStringLiteral("fork failed");
        return child;
    }
    child.pid = pid;
    child.input = in[1];
    child.output = out[0];
    return child;
}

ProcessResult pollProcess(ChildProcess &child) {
    ProcessResult res;
    if (child.pid <= 0)
        return res;
    int status = 0;
    if (::waitpid(child.pid, &status, WNOHANG) == child.pid) {
        describeStatus(res, status);
        ::kill(-child.pid, SIGKILL); // helpers it left behind
        ::close(child.input);
        ::close(child.output);
        child = ChildProcess{};
    }
    return res;
}

ProcessResult endProcess(ChildProcess &child) {
    ProcessResult res;
    if (child.pid <= 0)
        return res;
    ::kill(-child.pid, SIGKILL);
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    describeStatus(res, status);
    ::close(child.input);
    ::close(child.output);
    child = ChildProcess{};
    return res;
}

ProcessResult runProcess(const ProcessCall &call, const std::atomic<bool> *cancel) {
    ProcessResult res;
    const QString program = findProgram(call.program);
    if (program.isEmpty()) {
        res.output = call.program + QStringLiteral(" is not installed");
        return res;
    }
    const int outFd = openLog(call.outputFile);
    if (outFd < 0) {
        res.output = QStringLiteral("cannot open the engine log");
        return res;
    }
    const pid_t pid = spawn(program, call, -1, outFd, outFd);
    ::close(outFd);
    if (pid < 0) {
        res.output = QStringLiteral("fork failed");
        return res;
    }

    const auto deadline = std::chrono::steady_clock::now() + call.timeout;
    auto pause = std::chrono::milliseconds(5);
    int status = 0;
    while (true) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR)
            break;
        const bool cancelled = cancel && cancel->load();
        if (cancelled || std::chrono::steady_clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            res.end = cancelled ? ProcessResult::End::Cancelled : ProcessResult::End::TimedOut;
            break;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    // Helpers the engine left behind die with it.
    ::kill(-pid, SIGKILL);
    if (res.end == ProcessResult::End::NotStarted)
        describeStatus(res, status);
    res.output = logTail(call.outputFile);
    if (res.end == ProcessResult::End::Exited && res.exitCode == 127 && res.output.isEmpty())
        res.output = QStringLiteral("the program could not be executed");
    return res;
}

} // namespace quorvel::server
