#include "JobRunner.h"

#include "Engines.h"
#include "OfficeEngine.h"
#include "PdfText.h"
#include "Process.h"
#include "Records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <stdio.h>

namespace quorvel::server {

namespace {

void logLine(const QString &line) {
    const QByteArray b = (nowText() + QStringLiteral(" ") + line + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}

// What the engine said beside the result, for the log line of a completed job.
QString remarks(const EngineOutcome &out) {
    QStringList parts;
    for (const QString &p : {out.note, out.log})
        if (!p.isEmpty())
            parts << p;
    return parts.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(parts.join(u"; "));
}

} // namespace

JobRunner::JobRunner(Store &store, Config config)
    : m_store(store)
    , m_config(std::move(config)) {
    if (m_config.workers <= 0)
        m_config.workers = int(std::max(1u, std::thread::hardware_concurrency()));
    if (m_config.storageDir.isEmpty())
        m_config.storageDir = m_config.dataDir;
    if (m_config.instance.isEmpty())
        m_config.instance = QStringLiteral("local");
    if (!m_config.selfExecutable.isEmpty())
        setIsolatedPdfProbe(m_config.selfExecutable);
}

JobRunner::~JobRunner() {
    stop();
}

QString JobRunner::uploadsDir() const {
    return m_config.storageDir + QStringLiteral("/uploads");
}
QString JobRunner::resultsDir() const {
    return m_config.storageDir + QStringLiteral("/results");
}

int JobRunner::recover() {
    // Engines of a service that died may still run, holding a worker's
    // LibreOffice profile; end them before anything else starts.
    const QString workRoot = m_config.dataDir + QStringLiteral("/work");
    const int killed = killOrphanedEngines(workRoot);
    if (killed > 0)
        logLine(QStringLiteral("ended %1 engine process(es) left by an earlier run").arg(killed));
    for (const QString &job : QDir(workRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        QDir(workRoot + QLatin1Char('/') + job).removeRecursively();

    const auto touched = m_store.recoverJobs(!m_store.shared(), kMaxAttempts);
    for (const Store::Recovered &r : touched)
        logLine(r.failed
                    ? QStringLiteral("job %1 failed: interrupted too often").arg(r.jobId)
                    : QStringLiteral("job %1 queued again after an interruption").arg(r.jobId));
    JobState::changed();
    return int(touched.size());
}

void JobRunner::start() {
    QDir().mkpath(resultsDir());
    QDir().mkpath(m_config.dataDir + QStringLiteral("/work"));
    m_stopping = false;
    const QString officeProgram = OfficeEngine::locateProgram(m_config.selfExecutable);
    if (officeProgram.isEmpty())
        logLine(
            QStringLiteral("quorvel-office-engine not found: LibreOffice starts for every job"));
    m_office.clear();
    m_workers.clear();
    for (int i = 0; i < m_config.workers; ++i) {
        m_workers.push_back(std::make_unique<Worker>());
        if (officeProgram.isEmpty()) {
            m_office.push_back(nullptr);
            continue;
        }
        OfficeEngine::Settings s;
        s.program = officeProgram;
        s.profileDir = m_config.dataDir + QStringLiteral("/office-profiles/worker-%1").arg(i);
        // Under the work root, so that a later run finds it should this one die.
        s.homeDir = m_config.dataDir + QStringLiteral("/work/office-engine-%1").arg(i);
        s.logFile = s.homeDir + QStringLiteral(".log");
        s.recycleAfter = std::max(1, m_config.officeRecycleAfter);
        s.log = [i](const QString &line) {
            logLine(QStringLiteral("worker %1: %2").arg(i).arg(line));
        };
        m_office.push_back(std::make_unique<OfficeEngine>(std::move(s)));
    }
    for (int i = 0; i < m_config.workers; ++i)
        m_threads.emplace_back([this, i] { work(i); });
    m_keeper = std::thread([this] { keepLeases(); });
    m_store.watchQueue([this] { notify(); });
}

void JobRunner::stop() {
    m_store.watchQueue({});
    m_stopping = true;
    {
        std::lock_guard lock(m_mutex);
        ++m_wakeups;
    }
    for (auto &w : m_workers)
        w->cancel = true;
    m_wake.notify_all();
    for (std::thread &t : m_threads)
        t.join();
    m_threads.clear();
    if (m_keeper.joinable())
        m_keeper.join();
    m_office.clear();
    m_workers.clear();
}

void JobRunner::notify() {
    {
        std::lock_guard lock(m_mutex);
        ++m_wakeups;
    }
    m_wake.notify_one();
}

void JobRunner::keepLeases() {
    // Renews this service's claims well before they end, and takes back the
    // jobs of services that stopped renewing theirs.
    const auto period =
        std::max(std::chrono::milliseconds(200),
                 std::chrono::duration_cast<std::chrono::milliseconds>(m_config.jobLease) / 3);
    while (!m_stopping) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, period, [&] { return m_stopping.load(); });
        }
        if (m_stopping)
            break;
        for (auto &w : m_workers) {
            std::optional<Store::Claim> claim;
            {
                std::lock_guard lock(w->mutex);
                claim = w->claim;
            }
            if (!claim)
                continue;
            try {
                if (!m_store.renewLease(*claim, m_config.jobLease)) {
                    w->leaseLost = true;
                    w->cancel = true;
                }
            } catch (const DatabaseError &) {
                // Unreachable for now; the lease may still be renewed in time.
            }
        }
        if (!m_store.shared())
            continue;
        try {
            const auto back = m_store.recoverJobs(false, kMaxAttempts);
            for (const Store::Recovered &r : back) {
                JobState::changed(r.userId, r.jobId);
                logLine(r.failed
                            ? QStringLiteral("job %1 failed: interrupted too often").arg(r.jobId)
                            : QStringLiteral("job %1 queued again: its lease ended").arg(r.jobId));
            }
            if (!back.empty()) {
                std::lock_guard lock(m_mutex);
                ++m_wakeups;
                m_wake.notify_all();
            }
        } catch (const DatabaseError &) {
        }
    }
}

void JobRunner::work(int index) {
    // The engine is started and ended by this thread: a child dies with the
    // thread that started it.
    OfficeEngine *office = m_office[size_t(index)].get();
    if (office && m_config.warmOfficeEngines)
        office->start();
    while (!m_stopping) {
        std::uint64_t seen;
        {
            std::lock_guard lock(m_mutex);
            seen = m_wakeups;
        }
        bool ran = false;
        try {
            ran = runOne(index);
        } catch (const std::exception &e) {
            logLine(QStringLiteral("worker %1: %2").arg(index).arg(QString::fromUtf8(e.what())));
        }
        if (ran)
            continue;
        std::unique_lock lock(m_mutex);
        // The periodic wake-up also picks up jobs queued by another process.
        m_wake.wait_for(lock, std::chrono::seconds(2),
                        [&] { return m_stopping || m_wakeups != seen; });
    }
    if (office)
        office->stop();
}

bool JobRunner::runOne(int index) {
    Worker &w = *m_workers[size_t(index)];
    const auto claimed = m_store.claimJob(m_config.instance, m_config.jobLease);
    if (!claimed)
        return false;
    const Store::Claim &claim = *claimed;
    const JobRecord &job = claim.job;
    {
        std::lock_guard lock(w.mutex);
        w.claim = claim;
        w.leaseLost = false;
        w.cancel = m_stopping.load();
    }
    JobState::changed(job.userId, job.id);

    const QString workDir = m_config.dataDir + QStringLiteral("/work/") + job.id;
    QDir(workDir).removeRecursively();
    QDir().mkpath(workDir);
    const auto pages = std::max<qint64>(job.pageNumber, 1);
    std::chrono::seconds timeout = m_config.jobTimeBase + m_config.jobTimePerPage * pages;
    timeout = std::min(timeout, m_config.jobTimeMax);

    EngineJob ej;
    ej.code = job.typ;
    ej.inputPath = uploadsDir() + QLatin1Char('/') + job.uploadId;
    ej.sourceTyp = job.sourceFileTyp;
    ej.encrypted = claim.encrypted;
    ej.pages = int(job.pageNumber);
    ej.workDir = workDir;
    ej.profileDir = m_config.dataDir + QStringLiteral("/office-profiles/worker-%1").arg(index);
    ej.selfExecutable = m_config.selfExecutable;
    ej.office = m_office[size_t(index)].get();
    ej.timeout = std::chrono::duration_cast<std::chrono::milliseconds>(timeout);
    ej.cancel = &w.cancel;

    logLine(QStringLiteral("job %1 started: %2 on worker %3").arg(job.id, job.typ).arg(index));
    const auto started = std::chrono::steady_clock::now();
    EngineOutcome out = runEngine(ej);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    try {
        finish(w, claim, out, seconds);
    } catch (...) {
        QDir(workDir).removeRecursively();
        std::lock_guard lock(w.mutex);
        w.claim.reset();
        throw;
    }
    QDir(workDir).removeRecursively();
    std::lock_guard lock(w.mutex);
    w.claim.reset();
    return true;
}

template <typename F> auto JobRunner::whileUnavailable(F f) -> decltype(f()) {
    // A finished conversion is worth waiting for while the database restarts;
    // the writes are fenced by the attempt, so repeating one is harmless.
    const auto until = std::chrono::steady_clock::now() + m_config.jobLease;
    for (;;) {
        try {
            return f();
        } catch (const DatabaseUnavailable &) {
            if (std::chrono::steady_clock::now() > until)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    }
}

void JobRunner::finish(Worker &w, const Store::Claim &claim, EngineOutcome &out, double seconds) {
    const JobRecord &job = claim.job;
    if (w.leaseLost) {
        logLine(QStringLiteral("job %1 given up: its lease was taken back").arg(job.id));
        return;
    }
    if (out.cancelled) {
        whileUnavailable([&] {
            m_store.releaseJob(claim);
            return true;
        });
        JobState::changed(job.userId, job.id);
        logLine(QStringLiteral("job %1 queued again: the service is stopping").arg(job.id));
        return;
    }

    if (out.ok) {
        // Named by attempt: a service that lost its lease never overwrites the
        // result of the one that took the job over. Copied under a temporary
        // name first, so no service ever serves half a file.
        const QString resultFile = QStringLiteral("%1-%2.%3")
                                       .arg(job.id)
                                       .arg(claim.attempt)
                                       .arg(QFileInfo(out.resultPath).suffix());
        const QString dest = resultsDir() + QLatin1Char('/') + resultFile;
        const QString part = resultsDir() + QStringLiteral("/.") + resultFile +
                             QStringLiteral(".") + QString(m_config.instance).replace(u'/', u'-') +
                             QStringLiteral(".part");
        QFile::remove(part);
        if (!(QFile::rename(out.resultPath, part) || QFile::copy(out.resultPath, part)) ||
            ::rename(QFile::encodeName(part).constData(), QFile::encodeName(dest).constData()) !=
                0) {
            QFile::remove(part);
            out.ok = false;
            out.reason = QStringLiteral("the result could not be stored");
        } else {
            const Store::Completion c = whileUnavailable(
                [&] { return m_store.chargeAndComplete(claim, resultFile, out.pages, out.note); });
            if (c.outcome == Store::Completion::Outcome::Completed) {
                JobState::changed(job.userId, job.id);
                logLine(QStringLiteral("job %1 completed: %2 pages in %3 s%4")
                            .arg(job.id)
                            .arg(out.pages)
                            .arg(seconds, 0, 'f', 2)
                            .arg(remarks(out)));
                return;
            }
            if (c.outcome == Store::Completion::Outcome::LeaseLost) {
                // Kept: after a retry the completion may be ours after all.
                logLine(QStringLiteral("job %1 given up: its lease was taken back").arg(job.id));
                return;
            }
            QFile::remove(dest);
            out.ok = false;
            out.reason = c.refusal;
        }
    }
    if (whileUnavailable([&] { return m_store.failJob(claim, out.reason, out.failReason); }))
        JobState::changed(job.userId, job.id);
    logLine(QStringLiteral("job %1 failed after %2 s: %3")
                .arg(job.id)
                .arg(seconds, 0, 'f', 2)
                .arg(out.reason));
}

} // namespace quorvel::server
