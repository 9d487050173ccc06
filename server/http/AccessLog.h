#pragma once

#include <QString>

#include <cstdint>
#include <cstdio>
#include <mutex>

namespace quorvel::server {

// Where the access log's lines go: standard error (for the journal, which bounds
// it), nowhere, or a file that is rotated once it reaches its size, so that one
// older file is kept beside it and the two never hold more than twice that size.
class AccessLog {
public:
    // `target`: "-" standard error, "off" nothing, anything else a file path.
    AccessLog(const QString &target, std::int64_t maxBytes);
    ~AccessLog();
    AccessLog(const AccessLog &) = delete;
    AccessLog &operator=(const AccessLog &) = delete;

    // Writes one whole line (ending in '\n').
    void write(const char *line, std::size_t size);
    bool enabled() const { return m_mode != Mode::Off; }
    QString error() const { return m_error; } // why the file could not be opened

private:
    enum class Mode { StandardError, Off, File };
    bool open();

    Mode m_mode; // fixed once constructed
    QString m_path;
    std::int64_t m_maxBytes;
    std::mutex m_mutex;
    std::FILE *m_file = nullptr;
    std::int64_t m_size = 0;
    QString m_error;
};

} // namespace quorvel::server
