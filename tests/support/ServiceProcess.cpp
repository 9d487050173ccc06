#include "ServiceProcess.h"

#include <QElapsedTimer>

using namespace Qt::StringLiterals;

namespace quorvel::test {

bool addUserWithBinary(const QString &dataDir, const QString &email, int pages,
                       const QByteArray &password) {
    QProcess add;
    add.start(QStringLiteral(QUORVEL_SERVER_BINARY),
              {u"user"_s, u"add"_s, email, u"--pages"_s, QString::number(pages), u"--data"_s,
               dataDir, u"--password-stdin"_s});
    if (!add.waitForStarted())
        return false;
    add.write(password + '\n');
    add.closeWriteChannel();
    return add.waitForFinished(30000) && add.exitStatus() == QProcess::NormalExit &&
           add.exitCode() == 0;
}

int startServerBinary(QProcess &process, const QString &dataDir, const QString &logFile,
                      const QStringList &extra) {
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(logFile, QIODevice::Append);
    process.start(QStringLiteral(QUORVEL_SERVER_BINARY),
                  QStringList{u"serve"_s, u"--listen"_s, u"127.0.0.1:0"_s, u"--data"_s, dataDir,
                              u"--workers"_s, u"2"_s} +
                      extra);
    if (!process.waitForStarted())
        return 0;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && process.state() == QProcess::Running) {
        if (process.canReadLine() || process.waitForReadyRead(200)) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith("listening "))
                return line.mid(10).toInt();
        }
    }
    return 0;
}

} // namespace quorvel::test
