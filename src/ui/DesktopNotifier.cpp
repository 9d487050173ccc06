#include "DesktopNotifier.h"

#include "DBusCall.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QLoggingCategory>

namespace quorvel {

namespace {

Q_LOGGING_CATEGORY(lcNotify, "quorvel.desktop.notify")

} // namespace

DesktopNotifier::DesktopNotifier(QObject *parent)
    : DesktopNotifier(QDBusConnection::sessionBus(), parent) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus) {}

void DesktopNotifier::notify(const QString &title, const QString &body) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // The desktop-entry hint lets the server group the notification under the launcher's
    // name and icon; -1 leaves the display time to the server.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("quorvel")}};
    // The body is markup where the server supports it: a file name holding "<" or "&" must
    // read as written.
    call << QStringLiteral("Quorvel") << 0u << QStringLiteral("quorvel") << title
         << body.toHtmlEscaped() << QStringList() << hints << -1;

    auto *watcher = new QDBusPendingCallWatcher(asyncCall(m_bus, call, m_replyTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const bool delivered = !watcher->isError();
        if (!delivered && !m_warned) {
            // A desktop without a notification server is normal; say it once, not per job.
            m_warned = true;
            qCWarning(lcNotify).noquote()
                << "Desktop notifications are unavailable:" << watcher->error().message();
        }
        emit notified(delivered);
    });
}

} // namespace quorvel
