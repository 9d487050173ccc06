#pragma once

#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

#include <memory>

namespace quorvel::test {

// The real main window, loaded offscreen, driven the way a screen reader drives it: controls
// are found by their accessible names and pressed through the accessibility press action.
class AppHarness {
public:
    AppHarness();
    ~AppHarness();

    QQuickWindow *window() const { return m_window; }
    QObject *property(const char *name) const;

    QQuickItem *byObjectName(const QString &name) const;
    // The first visible item whose accessible name is `name`.
    QQuickItem *byAccessibleName(const QString &name) const;
    QStringList accessibleNames() const;
    // Presses the control through its accessibility interface; false when it offers no
    // press action or is not visible.
    bool press(const QString &accessibleName) const;
    bool press(QQuickItem *item) const;
    // Focuses the text field with that accessible name and types into it.
    bool type(const QString &accessibleName, const QString &text) const;
    // Whether an item with that accessible name is visible now.
    bool isShown(const QString &accessibleName) const { return byAccessibleName(accessibleName); }

    bool grab(const QString &path) const;

private:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QPointer<QQuickWindow> m_window;
};

// Static QML plugins of the app, imported once per process.
void importAppPlugins();

// Writes an A4 PDF of `pages` pages, each with its number printed large; false on failure.
bool writePdf(const QString &path, int pages);

} // namespace quorvel::test
