#include "OfficeEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace quorvel::server {

namespace {

using Clock = std::chrono::steady_clock;

QString fileUrl(const QString &path) {
    return QString::fromLatin1(
        QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded(QUrl::FullyEncoded));
}

// Writes to the engine's pipe; a dead engine must give EPIPE, not SIGPIPE,
// whatever the embedding process does with that signal.
bool writeAll(int fd, const QByteArray &data) {
    sigset_t pipeSignal, old;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    const char *p = data.constData();
    qsizetype left = data.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            if (errno == EPIPE && !alreadyPending) {
                const timespec none{0, 0};
                sigtimedwait(&pipeSignal, nullptr, &none);
            }
            break;
        }
        p += n;
        left -= n;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

} // namespace

OfficeEngine::OfficeEngine(Settings settings)
    : m_settings(std::move(settings)) {}

OfficeEngine::~OfficeEngine() {
    stop();
}

QString OfficeEngine::locateProgram(const QString &serverExecutable) {
    const QString beside =
        QFileInfo(serverExecutable).absolutePath() + QStringLiteral("/quorvel-office-engine");
    if (!serverExecutable.isEmpty() && QFileInfo(beside).isExecutable())
        return beside;
    return findProgram(QStringLiteral("quorvel-office-engine"));
}

void OfficeEngine::start() {
    if (m_child.running())
        return;
    QDir().mkpath(m_settings.homeDir + QStringLiteral("/tmp"));
    QDir().mkpath(m_settings.profileDir);
    ProcessCall call;
    call.program =
        m_settings.program.isEmpty() ? QStringLiteral("quorvel-office-engine") : m_settings.program;
    call.args = {QStringLiteral("--profile"), m_settings.profileDir};
    call.workDir = m_settings.homeDir;
    // HOME under the service's work directory marks the process as ours
    // should the service die without ending it.
    call.env = {QStringLiteral("PATH=/usr/local/bin:/usr/bin:/bin"),
                QStringLiteral("HOME=") + m_settings.homeDir,
                QStringLiteral("TMPDIR=") + m_settings.homeDir + QStringLiteral("/tmp"),
                QStringLiteral("LANG=C.UTF-8"),
                QStringLiteral("LC_ALL=C.UTF-8"),
                QStringLiteral("SAL_USE_VCLPLUGIN=svp")};
    call.limits.addressSpace = m_settings.addressSpace;
    call.limits.cpuFromTimeout = false; // it lives for many jobs; each has its own time limit
    call.outputFile = m_settings.logFile;
    m_child = startProcess(call);
    m_ready = false;
    m_buffer.clear();
    m_documents = 0;
    m_startedAt = Clock::now();
    if (m_child.running()) {
        ++m_starts;
        m_pidSeen = m_child.pid;
        if (m_settings.log)
            m_settings.log(QStringLiteral("office engine started (pid %1)").arg(m_child.pid));
    }
}

void OfficeEngine::stop() {
    if (m_child.running())
        endProcess(m_child);
    m_ready = false;
    m_pidSeen = 0;
}

void OfficeEngine::restart() {
    stop();
    start();
}

QString OfficeEngine::ended(const QString &what) {
    const ProcessResult r = endProcess(m_child);
    m_ready = false;
    m_pidSeen = 0;
    return what + QStringLiteral(" (") + r.describe() + QLatin1Char(')');
}

bool OfficeEngine::overMemory() const {
    QFile status(QStringLiteral("/proc/%1/status").arg(m_child.pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            const std::uint64_t kib = line.mid(6).trimmed().split(' ').value(0).toULongLong();
            return kib * 1024 > m_settings.residentLimit;
        }
    }
    return false;
}

OfficeEngine::Read OfficeEngine::readLine(QByteArray *line, Clock::time_point deadline,
                                          const std::atomic<bool> *cancel) {
    while (true) {
        const qsizetype nl = m_buffer.indexOf('\n');
        if (nl >= 0) {
            *line = m_buffer.left(nl);
            m_buffer.remove(0, nl + 1);
            return Read::Line;
        }
        if (cancel && cancel->load())
            return Read::Cancelled;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Read::TimedOut;
        // Short waits, so a stop of the service is seen promptly.
        pollfd p{m_child.output, POLLIN, 0};
        const int n = ::poll(&p, 1, int(std::min<qint64>(left.count(), 100)));
        if (n < 0 && errno != EINTR)
            return Read::Closed;
        if (n <= 0)
            continue;
        char chunk[4096];
        const ssize_t got = ::read(m_child.output, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return Read::Closed;
        m_buffer.append(chunk, got);
    }
}

OfficeEngine::Result OfficeEngine::convert(const Conversion &job, Clock::time_point deadline,
                                           const std::atomic<bool> *cancel) {
    Result res;
    auto fail = [&](QString reason) {
        res.reason = std::move(reason);
        return res;
    };
    for (const QString &filter : {job.importFilter, job.exportFilter})
        if (filter.contains(QLatin1Char('\t')) || filter.contains(QLatin1Char('\n')))
            return fail(QStringLiteral("LibreOffice: invalid filter name"));

    // A job that has no time left must not cost a healthy engine its life.
    if (Clock::now() >= deadline)
        return fail(QStringLiteral("LibreOffice: time limit exceeded"));
    start();
    if (!m_child.running())
        return fail(QStringLiteral("LibreOffice could not be started: ") + m_child.error);
    QByteArray line;
    if (!m_ready) {
        const auto startDeadline = m_startedAt + m_settings.startTimeout;
        switch (readLine(&line, std::min(deadline, startDeadline), cancel)) {
        case Read::Line:
            if (line == "ready") {
                m_ready = true;
                break;
            }
            // The engine said why and left; it is started afresh for the next job.
            endProcess(m_child);
            m_pidSeen = 0;
            return fail(QStringLiteral("LibreOffice could not be started: ") +
                        QString::fromUtf8(line.startsWith("error ") ? line.mid(6) : line));
        case Read::Closed:
            return fail(ended(QStringLiteral("LibreOffice stopped while starting")));
        case Read::TimedOut:
            if (Clock::now() >= startDeadline)
                return fail(ended(QStringLiteral("LibreOffice did not start in time")));
            // Only this job ran out of time; LibreOffice goes on loading for the next.
            return fail(QStringLiteral("LibreOffice: time limit exceeded while it was starting"));
        case Read::Cancelled:
            res.cancelled = true;
            return fail(QStringLiteral("stopped by the service shutting down"));
        }
    }

    const QByteArray request = "convert\t" + fileUrl(job.input).toUtf8() + '\t' +
                               fileUrl(job.output).toUtf8() + '\t' + job.importFilter.toUtf8() +
                               '\t' + job.exportFilter.toUtf8() + '\n';
    if (!writeAll(m_child.input, request)) {
        res.reason = ended(QStringLiteral("LibreOffice stopped before converting"));
        start();
        return res;
    }
    switch (readLine(&line, deadline, cancel)) {
    case Read::Line:
        break;
    case Read::Closed:
        res.reason = ended(QStringLiteral("LibreOffice crashed while converting"));
        start();
        return res;
    case Read::TimedOut:
        endProcess(m_child);
        m_pidSeen = 0;
        start();
        return fail(QStringLiteral("LibreOffice: time limit exceeded"));
    case Read::Cancelled:
        endProcess(m_child);
        m_pidSeen = 0;
        res.cancelled = true;
        return fail(QStringLiteral("stopped by the service shutting down"));
    }

    if (line == "ok")
        res.ok = true;
    else
        res.reason = QStringLiteral("LibreOffice could not convert the document: ") +
                     QString::fromUtf8(line.startsWith("error ") ? line.mid(6) : line).trimmed();
    ++m_documents;
    const bool worn = m_documents >= m_settings.recycleAfter;
    if (worn || overMemory()) {
        if (m_settings.log)
            m_settings.log(QStringLiteral("office engine (pid %1) replaced: %2")
                               .arg(m_child.pid)
                               .arg(worn ? QStringLiteral("%1 documents converted").arg(m_documents)
                                         : QStringLiteral("memory above its bound")));
        restart();
    }
    return res;
}

} // namespace quorvel::server
