// The sign-in token against a real Secret Service (gnome-keyring-daemon on a private session
// bus, unlocked with a test password) and without one. Every step runs keyring_client, a new
// process, so what survives is what survives a restart. HOME and the XDG folders are
// temporary: the user's own keyring and preferences are never touched.
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using quorvel::test::PrivateBus;

namespace {

const QString kPassword = QStringLiteral("test-password");

struct Run {
    int exitCode = -1;
    QJsonObject result;
    QByteArray err;
};

} // namespace

class TestKeyring : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    PrivateBus m_keyringBus;
    PrivateBus m_emptyBus;
    QString m_keyringAddress;
    QString m_emptyAddress;
    QProcess m_daemon;
    QString m_skipReason;

    QString preferencesFile() const {
        return m_home.filePath(QStringLiteral("config/Quorvel/Quorvel.conf"));
    }
    QByteArray preferences() const {
        QFile f(preferencesFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QProcessEnvironment environment(const QString &busAddress) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        env.remove(QStringLiteral("QUORVEL_TOKEN_STORE"));
        env.insert(QStringLiteral("QUORVEL_KEYRING_TIMEOUT_MS"), QStringLiteral("3000"));
        if (busAddress.isEmpty())
            env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        else
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        return env;
    }

    Run client(const QString &busAddress, const QStringList &args) {
        QProcess process;
        process.setProcessEnvironment(environment(busAddress));
        process.start(QStringLiteral(KEYRING_CLIENT), args);
        Run run;
        if (!process.waitForFinished(60'000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        run.result = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        run.err = process.readAllStandardError();
        return run;
    }

    QDBusConnection keyringBus() const {
        return QDBusConnection::connectToBus(m_keyringAddress, QStringLiteral("keyring-test"));
    }

    bool lockKeyring() {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
            QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"));
        call << QVariant::fromValue(QList<QDBusObjectPath>{
            QDBusObjectPath(QStringLiteral("/org/freedesktop/secrets/aliases/default"))});
        return keyringBus().call(call, QDBus::Block, 10'000).type() == QDBusMessage::ReplyMessage;
    }

    void requireKeyring() {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        QDir(m_home.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                          QFileDevice::WriteOwner |
                                                                          QFileDevice::ExeOwner);
        QString error;
        m_emptyAddress = m_emptyBus.start(&error);
        QVERIFY2(!m_emptyAddress.isEmpty(), qPrintable(error));

        const QString daemon =
            QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
        if (daemon.isEmpty()) {
            m_skipReason = QStringLiteral("gnome-keyring-daemon is missing (scripts/setup)");
            return;
        }
        m_keyringAddress = m_keyringBus.start(&error);
        QVERIFY2(!m_keyringAddress.isEmpty(), qPrintable(error));
        // --unlock reads the password of the login keyring from standard input and creates
        // that keyring, unlocked, when there is none.
        m_daemon.setProcessEnvironment(environment(m_keyringAddress));
        m_daemon.start(daemon,
                       {QStringLiteral("--foreground"), QStringLiteral("--components=secrets"),
                        QStringLiteral("--unlock")});
        QVERIFY(m_daemon.waitForStarted(10'000));
        m_daemon.write(kPassword.toUtf8());
        m_daemon.closeWriteChannel();
        QDBusConnection bus = keyringBus();
        QTRY_VERIFY_WITH_TIMEOUT(
            bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")),
            20'000);
    }

    void cleanupTestCase() {
        if (m_daemon.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_daemon.processId()), SIGCONT);
            m_daemon.terminate();
            m_daemon.waitForFinished(10'000);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("keyring-test"));
    }

    void init() { QFile::remove(preferencesFile()); }

    void keyringHoldsTheTokenAcrossRestarts() {
        requireKeyring();
        const Run stored = client(m_keyringAddress, {"write", "tok_keyring_0123456789"});
        QCOMPARE(stored.result.value("place").toString(), QStringLiteral("keyring"));
        QVERIFY(stored.result.value("stored").toBool());
        QVERIFY2(!preferences().contains("tok_keyring"), preferences().constData());
        QVERIFY2(!stored.err.contains("No keyring"), stored.err.constData());

        const Run restarted = client(m_keyringAddress, {"open"});
        QCOMPARE(restarted.result.value("token").toString(),
                 QStringLiteral("tok_keyring_0123456789"));

        // The window reads it in the background: the account object is there at once, still
        // reading, and signed in once the keyring has answered.
        const Run window = client(m_keyringAddress, {"window"});
        QCOMPARE(window.exitCode, 0);
        QVERIFY(window.result.value("readingAtStart").toBool());
        QVERIFY(!window.result.value("loggedInAtStart").toBool());
        QVERIFY(window.result.value("loggedIn").toBool());

        QCOMPARE(client(m_keyringAddress, {"signout"}).exitCode, 0);
        QCOMPARE(client(m_keyringAddress, {"open"}).result.value("token").toString(), QString());
        QVERIFY(!preferences().contains("tok_keyring"));
    }

    void fileTokenMovesIntoTheKeyring() {
        requireKeyring();
        QCOMPARE(client(QString(), {"write", "tok_moved_0123456789"}).result.value("place"),
                 QStringLiteral("file"));
        QVERIFY(preferences().contains("tok_moved_0123456789"));

        const Run moved = client(m_keyringAddress, {"open"});
        QCOMPARE(moved.result.value("place").toString(), QStringLiteral("keyring"));
        QCOMPARE(moved.result.value("token").toString(), QStringLiteral("tok_moved_0123456789"));
        QVERIFY(!preferences().contains("tok_moved"));
        QCOMPARE(client(m_keyringAddress, {"open"}).result.value("token").toString(),
                 QStringLiteral("tok_moved_0123456789"));
        client(m_keyringAddress, {"remove"});
        QCOMPARE(client(m_keyringAddress, {"open"}).result.value("token").toString(), QString());
    }

    // Locked (its unlock prompt cannot be shown): an error for the user, and the token goes
    // nowhere else. Unlocking again needs that prompt, so the keyring stays locked after this.
    void lockedKeyringIsAnError() {
        requireKeyring();
        QVERIFY(lockKeyring());
        const Run read = client(m_keyringAddress, {"open"});
        const Run write = client(m_keyringAddress, {"write", "tok_locked_0123456789"});
        QCOMPARE(read.result.value("place").toString(), QStringLiteral("keyring"));
        QVERIFY(!read.result.value("problem").toString().isEmpty());
        QCOMPARE(read.result.value("token").toString(), QString());
        QVERIFY(!write.result.value("stored").toBool());
        QVERIFY(!write.result.value("problem").toString().isEmpty());
        QVERIFY(!preferences().contains("tok_locked"));
        QVERIFY2(!read.err.contains("No keyring"), read.err.constData());
    }

    // No keyring: the owner-only file, said once per process on standard error.
    void withoutKeyringTheFileIsUsed_data() {
        QTest::addColumn<QString>("bus");
        QTest::newRow("no session bus") << QString();
        QTest::newRow("bus without a keyring") << QStringLiteral("empty");
    }
    void withoutKeyringTheFileIsUsed() {
        QFETCH(QString, bus);
        const QString address = bus.isEmpty() ? QString() : m_emptyAddress;
        const Run stored = client(address, {"write", "tok_file_0123456789"});
        QCOMPARE(stored.result.value("place").toString(), QStringLiteral("file"));
        QVERIFY(stored.result.value("stored").toBool());
        QCOMPARE(stored.err.count("No keyring answered"), 1);
        QVERIFY(preferences().contains("tok_file_0123456789"));
        QCOMPARE(QFile::permissions(preferencesFile()) & 0x0077, QFileDevice::Permissions());

        QCOMPARE(client(address, {"open"}).result.value("token").toString(),
                 QStringLiteral("tok_file_0123456789"));
        client(address, {"signout"});
        QVERIFY(!preferences().contains("tok_file"));
        QCOMPARE(client(address, {"open"}).result.value("token").toString(), QString());
    }

    // A keyring that holds its name but never answers is bounded, then treated as absent.
    void silentKeyringFallsBackWithinTheBound() {
        requireKeyring();
        ::kill(pid_t(m_daemon.processId()), SIGSTOP);
        const Run run = client(m_keyringAddress, {"write", "tok_silent_0123456789"});
        ::kill(pid_t(m_daemon.processId()), SIGCONT);
        QCOMPARE(run.result.value("place").toString(), QStringLiteral("file"));
        QVERIFY2(run.err.contains("did not answer"), run.err.constData());
        QVERIFY(preferences().contains("tok_silent"));
    }
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
