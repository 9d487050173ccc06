#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

namespace quorvel::test {

// A session bus of the test's own, without service directories: nothing is activatable, and
// tests never reach the desktop they run on. Ends with the object.
class PrivateBus {
public:
    ~PrivateBus() {
        m_daemon.terminate();
        m_daemon.waitForFinished(10000);
    }

    // The bus's address, or empty (with the reason in `error`) when it cannot start.
    QString start(QString *error) {
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("cannot write the bus configuration");
            return {};
        }
        config.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                    "<policy context='default'><allow own='*'/><allow "
                                    "send_destination='*' eavesdrop='true'/><allow "
                                    "eavesdrop='true'/></policy></busconfig>")
                         .arg(m_dir.path())
                         .toUtf8());
        config.close();
        const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (program.isEmpty()) {
            *error = QStringLiteral("dbus-daemon is missing (scripts/setup installs it)");
            return {};
        }
        m_daemon.start(program, {QStringLiteral("--config-file=") + config.fileName(),
                                 QStringLiteral("--print-address"), QStringLiteral("--nofork")});
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
        }
        if (!m_daemon.canReadLine()) {
            *error = QStringLiteral("dbus-daemon did not start");
            return {};
        }
        return QString::fromUtf8(m_daemon.readLine()).trimmed();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
};

} // namespace quorvel::test
