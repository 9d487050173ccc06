#pragma once

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>

namespace quorvel {

// On a connection that is down (no session bus), QDBusConnection::asyncCall returns a call that
// has already failed, and a QDBusPendingCallWatcher on it never reports finished. Rebuilding such
// a call from its reply gives one that does, so "no bus" takes the path of every other failure.
inline QDBusPendingCall asyncCall(const QDBusConnection &bus, const QDBusMessage &message,
                                  int timeoutMs) {
    const QDBusPendingCall call = bus.asyncCall(message, timeoutMs);
    if (!call.isFinished())
        return call;
    QDBusMessage reply = call.reply();
    if (reply.type() != QDBusMessage::ReplyMessage && reply.type() != QDBusMessage::ErrorMessage)
        reply = QDBusMessage::createError(QDBusError::Disconnected,
                                          QStringLiteral("Not connected to a D-Bus session bus"));
    return QDBusPendingCall::fromCompletedCall(reply);
}

} // namespace quorvel
