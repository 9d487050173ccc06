#include "WindowGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace quorvel {

namespace {
// A file of its own: window state never rewrites the file that holds the token.
QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quorvel"),
                     QStringLiteral("window"));
}
} // namespace

WindowGeometry::WindowGeometry(QWindow *window)
    : m_window(window) {}

WindowGeometry::~WindowGeometry() {
    save();
}

void WindowGeometry::restore() {
    if (!m_window)
        return;
    const QRect saved = settings().value(QStringLiteral("geometry")).toRect();
    if (!saved.isValid())
        return;
    const QSize size = saved.size().expandedTo(m_window->minimumSize());
    m_window->resize(size);
    for (const QScreen *screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(QRect(saved.topLeft(), QSize(64, 64)))) {
            m_window->setPosition(saved.topLeft());
            return;
        }
    }
}

void WindowGeometry::save() const {
    if (!m_window)
        return;
    // The normal geometry, so a maximised window comes back at its last ordinary size.
    if (m_window->visibility() == QWindow::Maximized ||
        m_window->visibility() == QWindow::FullScreen)
        return;
    settings().setValue(QStringLiteral("geometry"), m_window->geometry());
}

} // namespace quorvel
