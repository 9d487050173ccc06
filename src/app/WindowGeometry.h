#pragma once

#include <QPointer>
#include <QWindow>

namespace quorvel {

// Remembers the window's size and position between runs. A saved position that no longer
// lies on a connected screen is dropped, so the window never opens out of reach.
class WindowGeometry {
public:
    explicit WindowGeometry(QWindow *window);
    ~WindowGeometry();

    void restore();
    void save() const;

private:
    QPointer<QWindow> m_window;
};

} // namespace quorvel
