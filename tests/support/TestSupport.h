#pragma once

#include "service/Log.h"
#include "service/WireRecords.h"

#include <QEventLoop>
#include <QStringList>
#include <QTemporaryDir>

#include <QCoroTask>

#include <exception>
#include <optional>

namespace quorvel::test {

// Runs a task to its end on a nested event loop and returns its value or rethrows
// its exception. (QCoro::waitFor never returns when the task throws.)
template <typename T> T await(QCoro::Task<T> task) {
    std::exception_ptr error;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    bool done = false;
    QEventLoop loop;
    auto runner = [&]() -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                result = true;
            } else {
                result = co_await std::move(task);
            }
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    auto running = runner();
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

// The jobs' ids, in order.
inline QStringList ids(const QList<ConversionTask> &tasks) {
    QStringList out;
    for (const ConversionTask &t : tasks)
        out << t.id;
    return out;
}

// Captures every diagnostic line while it lives; restores standard output after.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const QStringList &lines() const { return m_lines; }
    // Index of the first line equal to `line` at or after `from`, or -1.
    qsizetype indexOf(const QString &line, qsizetype from = 0) const;
    // Index of the first line starting with `prefix` at or after `from`, or -1.
    qsizetype indexOfPrefix(const QString &prefix, qsizetype from = 0) const;
    QStringList withPrefix(const QString &prefix) const;
    // The first of `prefixes` that starts no line after the line of the one before it (empty:
    // all are there, in this order).
    QString missingInOrder(const QStringList &prefixes) const;
    void clear() { m_lines.clear(); }

private:
    QStringList m_lines;
};

// Points the client at a scripted server and gives it a private preferences store:
// XDG_CONFIG_HOME in a temporary directory, QUORVEL_API_ORIGIN at the server.
// Writes $XDG_CONFIG_HOME/user-dirs.dirs naming `folder` the desktop's download folder.
void setDownloadFolder(const QString &configHome, const QString &folder);

class TestEnvironment {
public:
    explicit TestEnvironment(const QString &origin);
    ~TestEnvironment();
    QString configHome() const { return m_config.path(); }
    // Names `folder` the desktop's download folder (user-dirs.dirs in the private store).
    void setDownloadFolder(const QString &folder) const;

private:
    QTemporaryDir m_config;
    QByteArray m_oldOrigin;
    QByteArray m_oldConfig;
};

} // namespace quorvel::test
