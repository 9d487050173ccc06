// Further yardsticks of startup_bench, for where quorvel's start-up goes: the bare window of
// bare_quick_window built by the QML engine (QML_WINDOW_KIND 0), a Qt Quick Controls window in
// the Basic style with one label and one button (QML_WINDOW_KIND 1), and the same two texts
// drawn with Qt Quick alone, without Controls (QML_WINDOW_KIND 2).
#include "app/StartupProbe.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>

int main(int argc, char *argv[]) {
    quorvel::StartupProbe::markProcessStart();
    QGuiApplication app(argc, argv);
#if QML_WINDOW_KIND == 0
    const QByteArray qml = "import QtQuick\n"
                           "Window { width: 1100; height: 780; color: \"white\"; visible: true }\n";
#elif QML_WINDOW_KIND == 2
    const QByteArray qml = "import QtQuick\n"
                           "Window { width: 1100; height: 780; color: \"white\"; visible: true\n"
                           "  Column { Text { text: \"Quorvel\" }\n"
                           "    Rectangle { width: 80; height: 30; border.width: 1\n"
                           "      Text { anchors.centerIn: parent; text: \"Login\" } } } }\n";
#else
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    const QByteArray qml =
        "import QtQuick\nimport QtQuick.Controls\n"
        "ApplicationWindow { width: 1100; height: 780; visible: true\n"
        "  Column { Label { text: \"Quorvel\" } Button { text: \"Login\" } } }\n";
#endif
    QQmlApplicationEngine engine;
    engine.loadData(qml);
    if (engine.rootObjects().isEmpty())
        return 1;
    quorvel::StartupProbe::watch(qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst()));
    return app.exec();
}
