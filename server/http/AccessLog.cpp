#include "AccessLog.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace quorvel::server {

AccessLog::AccessLog(const QString &target, std::int64_t maxBytes)
    : m_mode(target == QLatin1String("-")     ? Mode::StandardError
             : target == QLatin1String("off") ? Mode::Off
                                              : Mode::File)
    , m_path(target)
    , m_maxBytes(std::max<std::int64_t>(maxBytes, 4096)) {
    if (m_mode == Mode::File && !open())
        m_mode = Mode::Off;
}

AccessLog::~AccessLog() {
    if (m_file)
        std::fclose(m_file);
}

bool AccessLog::open() {
    m_file = std::fopen(QFile::encodeName(m_path).constData(), "ae");
    if (!m_file) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    m_size = ::fstat(::fileno(m_file), &st) == 0 ? st.st_size : 0;
    return true;
}

void AccessLog::write(const char *line, std::size_t size) {
    switch (m_mode) {
    case Mode::Off:
        return;
    case Mode::StandardError:
        std::fwrite(line, 1, size, stderr);
        return;
    case Mode::File:
        break;
    }
    std::lock_guard lock(m_mutex);
    if (m_file && m_size > 0 && m_size + std::int64_t(size) > m_maxBytes) {
        // The older file makes room; a line never straddles two files.
        std::fclose(m_file);
        m_file = nullptr;
        const QByteArray path = QFile::encodeName(m_path);
        std::rename(path.constData(), (path + ".1").constData());
        if (!open())
            return; // lines are dropped, the service goes on
    }
    if (!m_file)
        return;
    std::fwrite(line, 1, size, m_file);
    std::fflush(m_file);
    m_size += std::int64_t(size);
}

} // namespace quorvel::server
