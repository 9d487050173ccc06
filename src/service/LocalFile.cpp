#include "service/LocalFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    return QStringLiteral("not a file");
}

QString notRegular(mode_t mode) {
    return QStringLiteral("It is %1, not a regular file.").arg(kindOf(mode));
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

std::unique_ptr<QFile> openRegularFile(const QString &path, QString *error) {
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    if (::stat(name.constData(), &before) != 0) {
        *error = systemError();
        return nullptr;
    }
    if (!S_ISREG(before.st_mode)) {
        *error = notRegular(before.st_mode);
        return nullptr;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = systemError();
        return nullptr;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        *error = S_ISREG(opened.st_mode) ? systemError() : notRegular(opened.st_mode);
        ::close(fd);
        return nullptr;
    }
    // Reads of a regular file block as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *error = file->errorString();
        ::close(fd);
        return nullptr;
    }
    return file;
}

} // namespace quorvel
