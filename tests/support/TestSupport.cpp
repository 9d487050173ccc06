#include "TestSupport.h"

#include <QDir>
#include <QFile>

namespace quorvel::test {

LogCapture::LogCapture() {
    Log::setSink([this](const QString &line) { m_lines.append(line); });
}

LogCapture::~LogCapture() {
    Log::useStandardOutput();
}

qsizetype LogCapture::indexOf(const QString &line, qsizetype from) const {
    for (qsizetype i = from; i < m_lines.size(); ++i)
        if (m_lines[i] == line)
            return i;
    return -1;
}

qsizetype LogCapture::indexOfPrefix(const QString &prefix, qsizetype from) const {
    for (qsizetype i = qMax<qsizetype>(0, from); i < m_lines.size(); ++i)
        if (m_lines[i].startsWith(prefix))
            return i;
    return -1;
}

QStringList LogCapture::withPrefix(const QString &prefix) const {
    QStringList out;
    for (const QString &line : m_lines)
        if (line.startsWith(prefix))
            out << line;
    return out;
}

QString LogCapture::missingInOrder(const QStringList &prefixes) const {
    qsizetype at = 0;
    for (const QString &prefix : prefixes) {
        at = indexOfPrefix(prefix, at);
        if (at < 0)
            return prefix;
        ++at;
    }
    return {};
}

TestEnvironment::TestEnvironment(const QString &origin)
    : m_oldOrigin(qgetenv("QUORVEL_API_ORIGIN"))
    , m_oldConfig(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("QUORVEL_API_ORIGIN", origin.toUtf8());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
}

void setDownloadFolder(const QString &configHome, const QString &folder) {
    QDir().mkpath(configHome);
    QFile dirs(QDir(configHome).filePath(QStringLiteral("user-dirs.dirs")));
    if (!dirs.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        dirs.write("XDG_DOWNLOAD_DIR=\"" + QFile::encodeName(folder) + "\"\n") < 0)
        qFatal("cannot write %s", qPrintable(dirs.fileName()));
}

void TestEnvironment::setDownloadFolder(const QString &folder) const {
    test::setDownloadFolder(m_config.path(), folder);
}

TestEnvironment::~TestEnvironment() {
    qputenv("QUORVEL_API_ORIGIN", m_oldOrigin);
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
}

} // namespace quorvel::test
