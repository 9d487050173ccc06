// Engines run without a shell, in their own process group, under limits; a
// time limit or a stop kills the whole group.
#include "Process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <signal.h>
#include <sys/resource.h>

#include <thread>

using namespace quorvel::server;
using namespace Qt::StringLiterals;

class TestProcess : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    ProcessCall shell(const QString &script, int timeoutMs = 10000) {
        ProcessCall s;
        s.program = u"sh"_s; // the test needs a shell; the service never uses one
        s.args = {u"-c"_s, script};
        s.workDir = m_dir.path();
        s.env = {u"PATH=/usr/bin:/bin"_s};
        s.timeout = std::chrono::milliseconds(timeoutMs);
        s.outputFile = m_dir.filePath(u"out.log"_s);
        return s;
    }

private slots:
    void outcomes_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");
        QTest::newRow("success") << u"echo done"_s << int(ProcessResult::End::Exited) << 0
                                 << u"done"_s;
        QTest::newRow("exit status")
            << u"echo bad >&2; exit 3"_s << int(ProcessResult::End::Exited) << 3 << u"bad"_s;
        QTest::newRow("signal") << u"kill -SEGV $$"_s << int(ProcessResult::End::Signalled)
                                << int(SIGSEGV) << u""_s;
        QTest::newRow("environment is ours alone")
            << u"echo \"[$HOME]\""_s << int(ProcessResult::End::Exited) << 0 << u"[]"_s;
        QTest::newRow("runs in the work dir") << u"test -f marker && echo here"_s
                                              << int(ProcessResult::End::Exited) << 0 << u"here"_s;
        QTest::newRow("no stdin") << u"cat; echo eof"_s << int(ProcessResult::End::Exited) << 0
                                  << u"eof"_s;
        QTest::newRow("below the service's priority")
            << QStringLiteral("test $(nice) -gt %1 && echo below")
                   .arg(::getpriority(PRIO_PROCESS, 0))
            << int(ProcessResult::End::Exited) << 0 << u"below"_s;
    }
    void outcomes() {
        QFETCH(QString, script);
        QFETCH(int, end);
        QFETCH(int, code);
        QFETCH(QString, output);
        QFile marker(m_dir.filePath(u"marker"_s));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        const ProcessResult r = runProcess(shell(script));
        QCOMPARE(int(r.end), end);
        QCOMPARE(r.exitCode, code);
        QCOMPARE(r.output, output);
        QCOMPARE(r.ok(), end == int(ProcessResult::End::Exited) && code == 0);
    }

    void missingProgram() {
        ProcessCall s = shell(QString());
        s.program = u"no-such-engine-anywhere"_s;
        const ProcessResult r = runProcess(s);
        QCOMPARE(int(r.end), int(ProcessResult::End::NotStarted));
        QVERIFY(!r.ok());
        QVERIFY(r.output.contains(QLatin1String("not installed")));
    }

    // The grandchild (like soffice.bin under its launcher) must die with the engine.
    void timeoutKillsTheWholeGroup() {
        const QString pidFile = m_dir.filePath(u"grandchild.pid"_s);
        QElapsedTimer t;
        t.start();
        const ProcessResult r =
            runProcess(shell(u"sleep 60 & echo $! > %1; wait"_s.arg(pidFile), 300));
        QCOMPARE(int(r.end), int(ProcessResult::End::TimedOut));
        QVERIFY(t.elapsed() < 5000);
        QFile f(pidFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        bool ok = false;
        const int pid = f.readAll().trimmed().toInt(&ok);
        QVERIFY(ok && pid > 0);
        // Gone, or a zombie waiting for init to reap it; never still sleeping.
        auto running = [pid] {
            QFile st(u"/proc/%1/stat"_s.arg(pid));
            if (!st.open(QIODevice::ReadOnly))
                return false;
            const QByteArray stat = st.readAll();
            const qsizetype paren = stat.lastIndexOf(')');
            return paren > 0 && stat.mid(paren + 2, 1) != "Z";
        };
        QTRY_VERIFY_WITH_TIMEOUT(!running(), 3000);
    }

    // What a crashed service leaves behind is found by its HOME, even reparented.
    void orphanedEnginesAreEnded() {
        const QString root = m_dir.filePath(u"work"_s);
        QDir().mkpath(root + u"/job1"_s);
        QProcess orphan, stranger;
        QProcessEnvironment env;
        env.insert(u"HOME"_s, root + u"/job1"_s);
        orphan.setProcessEnvironment(env);
        orphan.start(u"/bin/sleep"_s, {u"60"_s});
        env.insert(u"HOME"_s, m_dir.filePath(u"workshop"_s));
        stranger.setProcessEnvironment(env); // a similar path outside the work root
        stranger.start(u"/bin/sleep"_s, {u"60"_s});
        QVERIFY(orphan.waitForStarted() && stranger.waitForStarted());
        QCOMPARE(killOrphanedEngines(root), 1);
        QVERIFY(orphan.waitForFinished(5000));
        QCOMPARE(stranger.state(), QProcess::Running);
        stranger.kill();
        stranger.waitForFinished();
    }

    void cancelFlagStopsIt() {
        std::atomic<bool> cancel{false};
        std::thread stopper([&] {
            QThread::msleep(200);
            cancel = true;
        });
        QElapsedTimer t;
        t.start();
        const ProcessResult r = runProcess(shell(u"sleep 30"_s, 60000), &cancel);
        stopper.join();
        QCOMPARE(int(r.end), int(ProcessResult::End::Cancelled));
        QVERIFY(t.elapsed() < 5000);
    }

    void fileSizeLimit() {
        ProcessCall s = shell(u"head -c 3000000 /dev/zero > big.bin"_s);
        s.limits.fileSize = 1024 * 1024;
        const ProcessResult r = runProcess(s);
        QVERIFY(!r.ok());
        QVERIFY(QFileInfo(m_dir.filePath(u"big.bin"_s)).size() <= 1024 * 1024);
    }

    void memoryLimit() {
        ProcessCall s = shell(u"head -c 300000000 /dev/zero | tr '\\0' a | sort > /dev/null"_s);
        s.limits.addressSpace = 64 * 1024 * 1024;
        const ProcessResult r = runProcess(s);
        QVERIFY(!r.ok());
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
