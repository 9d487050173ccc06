#pragma once

#include <QFile>
#include <QString>

#include <memory>

namespace quorvel {

// Opens a file the user chose, for reading, only when it is a regular file. A named pipe
// would block open() and every read until a writer comes, and a device or socket has no
// size to announce, so those (and directories) are refused before they are opened, with the
// reason in `error`. The open itself never waits: a file swapped for a pipe in between is
// still refused.
std::unique_ptr<QFile> openRegularFile(const QString &path, QString *error);

} // namespace quorvel
