#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

// Desktop notifications through the session's notification server. Best effort: with no server,
// a notification is dropped quietly (one diagnostic line on standard error per notifier).
class DesktopNotifier : public QObject {
    Q_OBJECT
    QML_ELEMENT

public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    explicit DesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);

    void setBus(const QDBusConnection &bus) { m_bus = bus; }
    void setReplyTimeout(int milliseconds) { m_replyTimeout = milliseconds; }
    int replyTimeout() const { return m_replyTimeout; }

    // Returns at once; `notified` follows.
    Q_INVOKABLE void notify(const QString &title, const QString &body);

signals:
    void notified(bool delivered);

private:
    QDBusConnection m_bus;
    int m_replyTimeout = 5000;
    bool m_warned = false;
};

} // namespace quorvel
