#include "AppCommandLine.h"
#include "Icons.h"
#include "MaskedFieldAccessible.h"
#include "StartupProbe.h"
#include "Theme.h"
#include "WindowGeometry.h"
#include "service/TokenStore.h"

#include <QDir>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <optional>
#include <thread>

Q_IMPORT_QML_PLUGIN(Quorvel_UiPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_Service_ViewsPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_History_ViewsPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_AssistantPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_AppPlugin)

namespace {

// The exit status when the arguments ask for help or the version, which are printed here.
std::optional<int> answerInformationRequest(const quorvel::AppArguments &arguments) {
    using Action = quorvel::AppArguments::Action;
    if (arguments.action != Action::Help && arguments.action != Action::Version)
        return std::nullopt;
    const QString text = arguments.action == Action::Help ? quorvel::appHelpText()
                                                          : quorvel::appVersionText() + u'\n';
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    quorvel::StartupProbe::markProcessStart();
    // Answered before the application object exists, so --version needs no display.
    QStringList rawArguments;
    for (int i = 1; i < argc; ++i)
        rawArguments.append(QString::fromLocal8Bit(argv[i]));
    if (const auto answered = answerInformationRequest(quorvel::parseAppArguments(rawArguments)))
        return *answered;
    // Reading fontconfig's configuration and caches is a tenth of the start; it runs on another
    // core beside the application's set-up.
    std::jthread fontconfig(&quorvel::Icons::preferTrueTypeFont);
    QGuiApplication app(argc, argv);
    // The same names as quorvel-cli, so both find one token in one preferences file.
    QGuiApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QGuiApplication::setApplicationName(QStringLiteral("Quorvel"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Quorvel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvel"));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quorvel")));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    // Qt has taken its own options (-platform, -style, …) out of the list by now.
    const auto parsed = quorvel::parseAppArguments(QCoreApplication::arguments().mid(1));
    if (const auto answered = answerInformationRequest(parsed))
        return *answered;
    if (parsed.action == quorvel::AppArguments::Action::Error) {
        std::fputs((parsed.problem + u'\n').toLocal8Bit().constData(), stderr);
        return 2;
    }

    // The keyring can take seconds to answer: the window draws meanwhile, with a spinner where
    // the sign-in shows.
    quorvel::TokenStore::openInBackground();
    quorvel::installMaskedFieldAccessibility();

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    const QUrl root(QStringLiteral("qrc:/qt/qml/Quorvel/App/ContentView.qml"));
    // The window's types load on the engine's loader thread while this one reads the font list
    // and sets up the fonts of the first frame; the load below then finds the types ready.
    QQmlComponent types(&engine, root, QQmlComponent::Asynchronous);
    fontconfig.join();
    QFontDatabase::families();
    // Lower case only: the icon font draws no capitals, and one would bring in a fallback font.
    for (const QFont &font : quorvel::Theme(nullptr, nullptr).firstFrameFonts())
        QFontMetricsF(font).horizontalAdvance(QStringLiteral("description"));
    quorvel::StartupProbe::fontsReady();
    if (types.isLoading()) {
        QEventLoop wait;
        QObject::connect(&types, &QQmlComponent::statusChanged, &wait, &QEventLoop::quit);
        wait.exec();
    }
    engine.load(root);
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!window)
        return 1;

    // Files named on the command line (the launcher's %F) start out selected.
    QList<QUrl> files;
    for (const QString &arg : parsed.files)
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
