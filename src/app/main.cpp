#include "Icons.h"
#include "MaskedFieldAccessible.h"
#include "StartupProbe.h"
#include "WindowGeometry.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Quorvel_UiPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_Service_ViewsPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_History_ViewsPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_AssistantPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_AppPlugin)

int main(int argc, char *argv[]) {
    quorvel::StartupProbe::markProcessStart();
    quorvel::Icons::preferTrueTypeFont();
    QGuiApplication app(argc, argv);
    // The same names as quorvel-cli, so both find one token in one preferences file.
    QGuiApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QGuiApplication::setApplicationName(QStringLiteral("Quorvel"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Quorvel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvel"));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quorvel")));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    quorvel::installMaskedFieldAccessibility();

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Quorvel/App/ContentView.qml")));
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!window)
        return 1;

    // Files named on the command line (the launcher's %F) start out selected.
    QList<QUrl> files;
    for (const QString &arg : QCoreApplication::arguments().mid(1))
        files.append(QUrl::fromUserInput(arg, QDir::currentPath(), QUrl::AssumeLocalFile));
    if (!files.isEmpty()) {
        if (QObject *page = window->property("conversionPage").value<QObject *>())
            QMetaObject::invokeMethod(page, "addPickedFiles", Q_ARG(QList<QUrl>, files));
    }

    quorvel::WindowGeometry geometry(window);
    geometry.restore();
    window->show();
    quorvel::StartupProbe::watch(window);
    return app.exec();
}
