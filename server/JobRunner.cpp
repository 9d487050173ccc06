#include "JobRunner.h"

#include "Engines.h"
#include "OfficeEngine.h"
#include "PdfText.h"
#include "Process.h"
#include "Records.h"
#include "Repository.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>

#include <cstdio>

namespace quorvel::server {

namespace {

void logLine(const QString &line) {
    const QByteArray b =
        (Database::nowText() + QStringLiteral(" ") + line + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}

} // namespace

JobRunner::JobRunner(const Database &db, Config config)
    : m_db(db)
    , m_config(std::move(config)) {
    if (m_config.workers <= 0)
        m_config.workers = int(std::max(1u, std::thread::hardware_concurrency()));
    if (!m_config.selfExecutable.isEmpty())
        setIsolatedPdfProbe(m_config.selfExecutable);
}

JobRunner::~JobRunner() {
    stop();
}

QString JobRunner::uploadsDir() const {
    return m_config.dataDir + QStringLiteral("/uploads");
}
QString JobRunner::resultsDir() const {
    return m_config.dataDir + QStringLiteral("/results");
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

    Transaction tx(m_db);
    Rows failed = m_db.exec(QStringLiteral("UPDATE jobs SET state='failed', finished_at=?, "
                                           "failure='the conversion was interrupted %1 times' "
                                           "WHERE state='running' AND attempts>=? RETURNING id")
                                .arg(kMaxAttempts),
                            {Database::nowText(), kMaxAttempts});
    int n = 0;
    while (failed.next()) {
        logLine(
            QStringLiteral("job %1 failed: interrupted too often").arg(failed.value(0).toString()));
        ++n;
    }
    Rows requeued = m_db.exec(
        QStringLiteral("UPDATE jobs SET state='queued' WHERE state='running' RETURNING id"));
    while (requeued.next()) {
        logLine(QStringLiteral("job %1 queued again after an interruption")
                    .arg(requeued.value(0).toString()));
        ++n;
    }
    tx.commit();
    JobState::changed();
    return n;
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
    for (int i = 0; i < m_config.workers; ++i) {
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
}

void JobRunner::stop() {
    m_stopping = true;
    {
        std::lock_guard lock(m_mutex);
        ++m_wakeups;
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads)
        t.join();
    m_threads.clear();
    m_office.clear();
}

void JobRunner::notify() {
    {
        std::lock_guard lock(m_mutex);
        ++m_wakeups;
    }
    m_wake.notify_one();
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
    JobRecord job;
    UploadRecord upload;
    {
        Transaction tx(m_db);
        Rows q = m_db.exec(QStringLiteral(
            "UPDATE jobs SET state='running', attempts=attempts+1 "
            "WHERE seq=(SELECT seq FROM jobs WHERE state='queued' ORDER BY seq LIMIT 1) "
            "RETURNING id, user_id, upload_id, typ, page_number, source_file_typ"));
        if (!q.next())
            return false;
        job.id = q.value(0).toString();
        job.userId = q.value(1).toLongLong();
        job.uploadId = q.value(2).toString();
        job.typ = q.value(3).toString();
        job.pageNumber = q.value(4).toLongLong();
        job.sourceFileTyp = q.value(5).toString();
        q.finish();
        Rows u =
            m_db.exec(QStringLiteral("SELECT encrypted FROM uploads WHERE id=?"), {job.uploadId});
        upload.encrypted = u.next() && u.value(0).toBool();
        u.finish();
        tx.commit();
        JobState::changed(job.userId, job.id);
    }

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
    ej.encrypted = upload.encrypted;
    ej.pages = int(job.pageNumber);
    ej.workDir = workDir;
    ej.profileDir = m_config.dataDir + QStringLiteral("/office-profiles/worker-%1").arg(index);
    ej.selfExecutable = m_config.selfExecutable;
    ej.office = m_office[size_t(index)].get();
    ej.timeout = std::chrono::duration_cast<std::chrono::milliseconds>(timeout);
    ej.cancel = &m_stopping;

    logLine(QStringLiteral("job %1 started: %2 on worker %3").arg(job.id, job.typ).arg(index));
    const auto started = std::chrono::steady_clock::now();
    EngineOutcome out = runEngine(ej);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (out.cancelled) {
        m_db.exec(QStringLiteral("UPDATE jobs SET state='queued', attempts=attempts-1 WHERE id=? "
                                 "AND state='running'"),
                  {job.id});
        JobState::changed(job.userId, job.id);
        logLine(QStringLiteral("job %1 queued again: the service is stopping").arg(job.id));
        QDir(workDir).removeRecursively();
        return true;
    }

    if (out.ok) {
        const QString resultFile = job.id + QLatin1Char('.') + QFileInfo(out.resultPath).suffix();
        const QString dest = resultsDir() + QLatin1Char('/') + resultFile;
        QFile::remove(dest);
        if (!QFile::rename(out.resultPath, dest) && !QFile::copy(out.resultPath, dest)) {
            out.ok = false;
            out.reason = QStringLiteral("the result could not be stored");
        } else if (const QString refusal =
                       Repository(m_db).chargeAndComplete(job, resultFile, out.pages);
                   !refusal.isEmpty()) {
            QFile::remove(dest);
            out.ok = false;
            out.reason = refusal;
        } else {
            JobState::changed(job.userId, job.id);
            logLine(QStringLiteral("job %1 completed: %2 pages in %3 s")
                        .arg(job.id)
                        .arg(out.pages)
                        .arg(seconds, 0, 'f', 2));
        }
    }
    if (!out.ok) {
        m_db.exec(
            QStringLiteral("UPDATE jobs SET state='failed', failure=?, finished_at=? WHERE id=?"),
            {out.reason, Database::nowText(), job.id});
        JobState::changed(job.userId, job.id);
        logLine(QStringLiteral("job %1 failed after %2 s: %3")
                    .arg(job.id)
                    .arg(seconds, 0, 'f', 2)
                    .arg(out.reason));
    }
    QDir(workDir).removeRecursively();
    return true;
}

} // namespace quorvel::server
