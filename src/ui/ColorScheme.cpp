#include "ColorScheme.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace quorvel {

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");
constexpr uint kPrefersDark = 1;
} // namespace

ColorScheme::ColorScheme(QObject *parent)
    : ColorScheme(QDBusConnection::sessionBus(), parent) {}

ColorScheme::ColorScheme(const QDBusConnection &bus, QObject *parent)
    : QObject(parent) {
    const QByteArray forced = qgetenv("QUORVEL_COLOR_SCHEME");
    if (forced == "dark" || forced == "light")
        m_isDark = forced == "dark";
    else
        follow(bus);
}

void ColorScheme::follow(QDBusConnection bus) {
    if (!bus.isConnected())
        return;
    bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
    // Read, not ReadOne: every portal version has it. Older ones wrap the value twice.
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    call << kNamespace << kKey;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (!reply.isError())
            apply(reply.value().variant());
        Q_EMIT answered();
    });
}

void ColorScheme::settingChanged(const QString &nameSpace, const QString &key,
                                 const QDBusVariant &value) {
    if (nameSpace == kNamespace && key == kKey) {
        apply(value.variant());
        Q_EMIT answered();
    }
}

void ColorScheme::apply(const QVariant &portalValue) {
    QVariant value = portalValue;
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    setDark(value.toUInt() == kPrefersDark);
}

void ColorScheme::setDark(bool dark) {
    if (dark == m_isDark)
        return;
    m_isDark = dark;
    Q_EMIT isDarkChanged();
}

} // namespace quorvel
