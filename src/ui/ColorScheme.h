#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QString>

namespace quorvel {

// Whether the desktop prefers a dark appearance: the XDG settings portal's
// org.freedesktop.appearance color-scheme (1 prefers dark), read once and then followed as it
// changes. QUORVEL_COLOR_SCHEME=dark|light overrides the desktop. Light until the portal
// answers, and light without a portal.
class ColorScheme : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDark READ isDark NOTIFY isDarkChanged FINAL)

public:
    explicit ColorScheme(QObject *parent = nullptr);
    ColorScheme(const QDBusConnection &bus, QObject *parent = nullptr);

    bool isDark() const { return m_isDark; }

Q_SIGNALS:
    void isDarkChanged();
    // The portal's reading or one of its changes was taken in (or the portal could not be
    // read).
    void answered();

private Q_SLOTS:
    void settingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    void follow(QDBusConnection bus);
    void apply(const QVariant &portalValue);
    void setDark(bool dark);

    bool m_isDark = false;
};

} // namespace quorvel
