// The yardstick of startup_bench: a bare Qt Quick window with one rectangle, timed the same
// way as quorvel (first frame, then exit).
#include "app/StartupProbe.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>

int main(int argc, char *argv[]) {
    quorvel::StartupProbe::markProcessStart();
    QGuiApplication app(argc, argv);
    QQuickWindow window;
    window.resize(1100, 780);
    window.setColor(Qt::white);
    window.show();
    quorvel::StartupProbe::watch(&window);
    return app.exec();
}
