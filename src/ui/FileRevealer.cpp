#include "FileRevealer.h"

#include "DBusCall.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

namespace quorvel {

namespace {

Q_LOGGING_CATEGORY(lcReveal, "quorvel.desktop.reveal")

// QML hands over URLs, C++ callers paths; both name the same file.
QString localPathOf(const QString &pathOrUrl) {
    const QUrl url(pathOrUrl);
    return url.isLocalFile() ? url.toLocalFile() : pathOrUrl;
}

} // namespace

FileRevealer::FileRevealer(QObject *parent)
    : FileRevealer(QDBusConnection::sessionBus(), parent) {}

FileRevealer::FileRevealer(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus) {}

void FileRevealer::reveal(const QString &localPath) {
    const QString path = localPathOf(localPath);
    const QFileInfo file(path);
    if (path.isEmpty() || !file.exists()) {
        const QString message =
            tr("Cannot show “%1” in its folder: the file does not exist.").arg(localPath);
        qCWarning(lcReveal).noquote() << message;
        // Same order for every outcome: the caller hears back after reveal() returned.
        QMetaObject::invokeMethod(
            this, [this, message] { emit failed(message); }, Qt::QueuedConnection);
        return;
    }

    const QString absolute = QDir::cleanPath(file.absoluteFilePath());
    const QString uri = QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    // No startup id: the file manager then raises its window by its own rules.
    call << QStringList{uri} << QString();

    auto *watcher = new QDBusPendingCallWatcher(asyncCall(m_bus, call, m_replyTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, absolute, uri] {
        watcher->deleteLater();
        if (watcher->isError()) {
            qCDebug(lcReveal) << "no file manager answered:" << watcher->error().name()
                              << watcher->error().message();
            openFolder(absolute, uri);
            return;
        }
        emit revealed(uri, true);
    });
}

void FileRevealer::openFolder(const QString &filePath, const QString &uri) {
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(filePath).absolutePath());
    const bool opened = m_open ? m_open(folder) : QDesktopServices::openUrl(folder);
    if (opened) {
        emit revealed(uri, false);
        return;
    }
    const QString message =
        tr("No application could open the folder “%1”.").arg(folder.toLocalFile());
    qCWarning(lcReveal).noquote() << message;
    emit failed(message);
}

} // namespace quorvel
