#include "AppHarness.h"

#include <QAccessible>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QQuickStyle>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest/qtestkeyboard.h>

Q_IMPORT_QML_PLUGIN(Quorvel_UiPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_Service_ViewsPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_History_ViewsPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_AssistantPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_AppPlugin)

namespace quorvel::test {

namespace {
bool effectivelyVisible(QQuickItem *item) {
    return item->isVisible() && item->opacity() > 0 && item->window();
}

template <typename F> QQuickItem *findItem(QQuickItem *root, F &&match) {
    if (!root || !root->isVisible())
        return nullptr;
    if (match(root))
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItem(child, match))
            return found;
    }
    return nullptr;
}

QString accessibleName(QQuickItem *item) {
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(item);
    return iface ? iface->text(QAccessible::Name) : QString();
}

void collectNames(QQuickItem *item, QStringList &out) {
    if (!item || !item->isVisible())
        return;
    const QString name = accessibleName(item);
    if (!name.isEmpty())
        out << name;
    for (QQuickItem *child : item->childItems())
        collectNames(child, out);
}

QList<QQuickItem *> roots(QQuickWindow *window) {
    // Open sheets and menus live in the window's overlay, drawn over the content.
    QList<QQuickItem *> out{window->contentItem()};
    if (auto *overlay = qobject_cast<QQuickItem *>(window->property("overlay").value<QObject *>());
        overlay && !window->contentItem()->isAncestorOf(overlay))
        out << overlay;
    return out;
}

// The first item of the window's content or overlay that `match` accepts.
template <typename F> QQuickItem *findInWindow(QQuickWindow *window, F &&match) {
    for (QQuickItem *root : window ? roots(window) : QList<QQuickItem *>()) {
        if (QQuickItem *found = findItem(root, match))
            return found;
    }
    return nullptr;
}

bool hasPressAction(QQuickItem *item) {
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(item);
    QAccessibleActionInterface *actions = iface ? iface->actionInterface() : nullptr;
    return actions && actions->actionNames().contains(QAccessibleActionInterface::pressAction());
}
} // namespace

void importAppPlugins() {
    static bool done = false;
    if (done)
        return;
    done = true;
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QAccessible::setActive(true);
}

AppHarness::AppHarness() {
    importAppPlugins();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    m_engine->load(QUrl(QStringLiteral("qrc:/qt/qml/Quorvel/App/ContentView.qml")));
    if (!m_engine->rootObjects().isEmpty())
        m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    if (m_window) {
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window))
            qWarning("the main window was not exposed");
    }
}

AppHarness::~AppHarness() {
    if (m_window)
        m_window->close();
    m_engine.reset();
}

QObject *AppHarness::property(const char *name) const {
    return m_window ? m_window->property(name).value<QObject *>() : nullptr;
}

QQuickItem *AppHarness::byObjectName(const QString &name) const {
    return findInWindow(m_window, [&](QQuickItem *i) { return i->objectName() == name; });
}

QQuickItem *AppHarness::byAccessibleName(const QString &name) const {
    return findInWindow(m_window, [&](QQuickItem *i) {
        return effectivelyVisible(i) && accessibleName(i) == name;
    });
}

QStringList AppHarness::accessibleNames() const {
    QStringList out;
    if (m_window) {
        for (QQuickItem *root : roots(m_window))
            collectNames(root, out);
    }
    return out;
}

bool AppHarness::press(const QString &name) const {
    // Of several controls with that name, the one drawn last is on top (an open sheet's
    // button over the header's), as a pointer or a screen reader in the sheet would reach.
    QQuickItem *top = nullptr;
    findInWindow(m_window, [&](QQuickItem *i) {
        if (effectivelyVisible(i) && accessibleName(i) == name && hasPressAction(i))
            top = i;
        return false;
    });
    return press(top);
}

bool AppHarness::press(QQuickItem *item) const {
    if (!item || !hasPressAction(item))
        return false;
    QAccessible::queryAccessibleInterface(item)->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
    return true;
}

bool AppHarness::type(const QString &accessibleName, const QString &text) const {
    QQuickItem *field = byAccessibleName(accessibleName);
    if (!field)
        return false;
    field->forceActiveFocus();
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, m_window, Qt::Key_unknown, QString(c), Qt::NoModifier);
    return field->hasActiveFocus();
}

bool AppHarness::grab(const QString &path) const {
    return m_window && m_window->grabWindow().save(path);
}

bool writePdf(const QString &path, int pages) {
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setTitle(QStringLiteral("Quorvel test document"));
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    QFont font = painter.font();
    font.setPointSize(72);
    painter.setFont(font);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        const QRect area = painter.viewport();
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        painter.drawText(area, Qt::AlignCenter, QString::number(page + 1));
    }
    return painter.end();
}

} // namespace quorvel::test
