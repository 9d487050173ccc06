#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace quorvel::test {

// The quorvel-server binary: `user add` with a password on standard input (true when it
// succeeded), and `serve` on a free loopback port with its log appended to `logFile`
// (the port, or 0 when it did not come up).
bool addUserWithBinary(const QString &dataDir, const QString &email, int pages,
                       const QByteArray &password);
// `extra` options follow the others.
int startServerBinary(QProcess &process, const QString &dataDir, const QString &logFile,
                      const QStringList &extra = {});

} // namespace quorvel::test
