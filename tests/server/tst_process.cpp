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

class TestProcess : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    ProcessSpec shell(const QString &script, int timeoutMs = 10000) {
        ProcessSpec s;
        s.program = QStringLiteral("sh"); // the test needs a shell; the service never uses one
        s.args = {QStringLiteral("-c"), script};
        s.workDir = m_dir.path();
        s.env = {QStringLiteral("PATH=/usr/bin:/bin")};
        s.timeout = std::chrono::milliseconds(timeoutMs);
        s.outputFile = m_dir.filePath(QStringLiteral("out.log"));
        return s;
    }

private slots:
    void outcomes_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");
        QTest::newRow("success") << "echo done" << int(ProcessResult::End::Exited) << 0 << "done";
        QTest::newRow("exit status")
            << "echo bad >&2; exit 3" << int(ProcessResult::End::Exited) << 3 << "bad";
        QTest::newRow("signal") << "kill -SEGV $$" << int(ProcessResult::End::Signalled)
                                << int(SIGSEGV) << "";
        QTest::newRow("environment is ours alone")
            << "echo \"[$HOME]\"" << int(ProcessResult::End::Exited) << 0 << "[]";
        QTest::newRow("runs in the work dir")
            << "test -f marker && echo here" << int(ProcessResult::End::Exited) << 0 << "here";
        QTest::newRow("no stdin") << "cat; echo eof" << int(ProcessResult::End::Exited) << 0
                                  << "eof";
        QTest::newRow("below the service's priority")
            << QStringLiteral("test $(nice) -gt %1 && echo below")
                   .arg(::getpriority(PRIO_PROCESS, 0))
            << int(ProcessResult::End::Exited) << 0 << "below";
    }
    void outcomes() {
        QFETCH(QString, script);
        QFETCH(int, end);
        QFETCH(int, code);
        QFETCH(QString, output);
        QFile marker(m_dir.filePath(QStringLiteral("marker")));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        const ProcessResult r = runProcess(shell(script));
        QCOMPARE(int(r.end), end);
        QCOMPARE(r.exitCode, code);
        QCOMPARE(r.output, output);
        QCOMPARE(r.ok(), end == int(ProcessResult::End::Exited) && code == 0);
    }

    void missingProgram() {
        ProcessSpec s = shell(QString());
        s.program = QStringLiteral("no-such-engine-anywhere");
        const ProcessResult r = runProcess(s);
        QCOMPARE(int(r.end), int(ProcessResult::End::NotStarted));
        QVERIFY(!r.ok());
        QVERIFY(r.output.contains(QLatin1String("not installed")));
    }

    // The grandchild (like soffice.bin under its launcher) must die with the engine.
    void timeoutKillsTheWholeGroup() {
        const QString pidFile = m_dir.filePath(QStringLiteral("grandchild.pid"));
        QElapsedTimer t;
        t.start();
        const ProcessResult r =
            runProcess(shell(QStringLiteral("sleep 60 & echo $! > %1; wait").arg(pidFile), 300));
        QCOMPARE(int(r.end), int(ProcessResult::End::TimedOut));
        QVERIFY(t.elapsed() < 5000);
        QFile f(pidFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        bool ok = false;
        const int pid = f.readAll().trimmed().toInt(&ok);
        QVERIFY(ok && pid > 0);
        // Gone, or a zombie waiting for init to reap it; never still sleeping.
        auto running = [pid] {
            QFile st(QStringLiteral("/proc/%1/stat").arg(pid));
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
        const QString root = m_dir.filePath(QStringLiteral("work"));
        QDir().mkpath(root + QStringLiteral("/job1"));
        QProcess orphan, stranger;
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), root + QStringLiteral("/job1"));
        orphan.setProcessEnvironment(env);
        orphan.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
        env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("workshop")));
        stranger.setProcessEnvironment(env); // a similar path outside the work root
        stranger.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
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
        const ProcessResult r = runProcess(shell(QStringLiteral("sleep 30"), 60000), &cancel);
        stopper.join();
        QCOMPARE(int(r.end), int(ProcessResult::End::Cancelled));
        QVERIFY(t.elapsed() < 5000);
    }

    void fileSizeLimit() {
        ProcessSpec s = shell(QStringLiteral("head -c 3000000 /dev/zero > big.bin"));
        s.limits.fileSize = 1024 * 1024;
        const ProcessResult r = runProcess(s);
        QVERIFY(!r.ok());
        QVERIFY(QFileInfo(m_dir.filePath(QStringLiteral("big.bin"))).size() <= 1024 * 1024);
    }

    void memoryLimit() {
        ProcessSpec s =
            shell(QStringLiteral("head -c 300000000 /dev/zero | tr '\\0' a | sort > /dev/null"));
        s.limits.addressSpace = 64 * 1024 * 1024;
        const ProcessResult r = runProcess(s);
        QVERIFY(!r.ok());
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
