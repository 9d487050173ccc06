#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <functional>

namespace quorvel {

// "Show in folder": asks the desktop's file manager to show a file selected in its folder, and
// opens the containing folder with the default application when no file manager answers.
class FileRevealer : public QObject {
    Q_OBJECT
    QML_ELEMENT

public:
    // Opens a URL outside the application; true when something took it.
    using Opener = std::function<bool(const QUrl &)>;

    explicit FileRevealer(QObject *parent = nullptr);
    explicit FileRevealer(const QDBusConnection &bus, QObject *parent = nullptr);

    void setBus(const QDBusConnection &bus) { m_bus = bus; }
    // Replaces QDesktopServices::openUrl, which the fallback uses by default.
    void setFallbackOpener(Opener opener) { m_open = std::move(opener); }
    // How long a file manager may take to answer (activation included) before the folder is
    // opened instead.
    void setReplyTimeout(int milliseconds) { m_replyTimeout = milliseconds; }
    int replyTimeout() const { return m_replyTimeout; }

    // Takes a local path or a file:// URL. Returns at once; `revealed` or `failed` follows.
    Q_INVOKABLE void reveal(const QString &localPath);

signals:
    // `uri` is the file's own URI, whichever way it was shown.
    void revealed(const QString &uri, bool viaFileManager);
    void failed(const QString &message);

private:
    void openFolder(const QString &filePath, const QString &uri);

    QDBusConnection m_bus;
    Opener m_open;
    int m_replyTimeout = 5000;
};

} // namespace quorvel
