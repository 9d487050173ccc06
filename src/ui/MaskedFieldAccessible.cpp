#include "MaskedFieldAccessible.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QPointer>
#include <QQuickItem>

namespace quorvel {

namespace {

const char *const kNameProperty = "maskedAccessibleName";
// Set while the factory asks Qt Quick for the field's own interface.
bool g_asking = false;

// Qt Quick's interface for the field with the name answered from the field's property.
class NamedField : public QAccessibleInterface {
public:
    NamedField(QObject *field, QAccessibleInterface *inner)
        : m_field(field)
        , m_inner(inner) {}

    bool isValid() const override { return m_field && m_inner && m_inner->isValid(); }
    QObject *object() const override { return m_field; }
    QWindow *window() const override { return m_inner->window(); }
    QList<std::pair<QAccessibleInterface *, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override {
        return m_inner->relations(match);
    }
    QAccessibleInterface *focusChild() const override { return m_inner->focusChild(); }
    QAccessibleInterface *childAt(int x, int y) const override { return m_inner->childAt(x, y); }
    QAccessibleInterface *parent() const override { return m_inner->parent(); }
    QAccessibleInterface *child(int index) const override { return m_inner->child(index); }
    int childCount() const override { return m_inner->childCount(); }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return m_inner->indexOfChild(child);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && m_field) {
            const QString name = m_field->property(kNameProperty).toString();
            if (!name.isEmpty())
                return name;
        }
        return m_inner->text(t);
    }
    void setText(QAccessible::Text t, const QString &text) override { m_inner->setText(t, text); }
    QRect rect() const override { return m_inner->rect(); }
    QAccessible::Role role() const override { return m_inner->role(); }
    QAccessible::State state() const override { return m_inner->state(); }
    QColor foregroundColor() const override { return m_inner->foregroundColor(); }
    QColor backgroundColor() const override { return m_inner->backgroundColor(); }
    void *interface_cast(QAccessible::InterfaceType type) override {
        return m_inner->interface_cast(type);
    }

private:
    QPointer<QObject> m_field;
    QAccessibleInterface *m_inner; // owned by Qt's accessibility cache
};

QAccessibleInterface *namedFieldFactory(const QString &className, QObject *object) {
    if (g_asking || !object || className != QLatin1String(object->metaObject()->className()) ||
        !qobject_cast<QQuickItem *>(object) || !object->property(kNameProperty).isValid())
        return nullptr;
    g_asking = true;
    QAccessibleInterface *inner = QAccessible::queryAccessibleInterface(object);
    g_asking = false;
    return inner ? new NamedField(object, inner) : nullptr;
}

} // namespace

void installMaskedFieldAccessibility() {
    QAccessible::installFactory(namedFieldFactory);
}

} // namespace quorvel
