// Qt Quick Test runner for the window's QML behaviour, with a scripted service the QML
// tests script through the `service` context property.
#include "AppHarness.h"
#include "ScriptedServer.h"
#include "TestSupport.h"
#include "service/Log.h"
#include "service/TokenStore.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>

#include <memory>

#include <sys/stat.h>

Q_IMPORT_QML_PLUGIN(Quorvel_UiPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_Service_ViewsPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_History_ViewsPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_AssistantPlugin)
Q_IMPORT_QML_PLUGIN(Quorvel_AppPlugin)

using namespace quorvel;
using namespace quorvel::test;

class QmlTestService : public QObject {
    Q_OBJECT

public:
    QString origin() const { return m_server.origin(); }

    Q_INVOKABLE void answer(const QString &method, const QString &path, int status,
                            const QString &body, int delayMs = 0) {
        ScriptedResponse r = ScriptedResponse::json(status, body.toUtf8());
        r.delayMs = delayMs;
        m_server.script(method.toUtf8(), path.toUtf8(), {r});
    }
    // Every request goes to this origin from now on (a refused origin makes no request).
    Q_INVOKABLE void useOrigin(const QString &origin) {
        qputenv("QUORVEL_API_ORIGIN", origin.toUtf8());
    }
    Q_INVOKABLE void signIn() { TokenStore::write(QStringLiteral("tok_qmltest_0123456789")); }
    Q_INVOKABLE void reset() {
        m_server.clearScripts();
        m_server.clearRequests();
        m_opened.clear();
        TokenStore::remove();
        useOrigin(m_server.origin());
    }
    // Files the window asked the desktop to open (a folder shown by the fallback reveal).
    Q_INVOKABLE QStringList openedUrls() const { return m_opened; }
    Q_INVOKABLE QString downloads() const { return m_downloads.path(); }
    Q_INVOKABLE int requestCount(const QString &method, const QString &pathPrefix) const {
        return int(m_server.requestsTo(method.toUtf8(), pathPrefix.toUtf8()).size());
    }
    // A small file in a private directory, as a file URL.
    Q_INVOKABLE QUrl file(const QString &name) {
        QFile f(m_files.filePath(name));
        if (f.open(QIODevice::WriteOnly))
            f.write("%PDF-1.4\n% test\n");
        return QUrl::fromLocalFile(f.fileName());
    }
    // A named pipe with no writer: opening it for reading the usual way waits for ever.
    Q_INVOKABLE QUrl fifo(const QString &name) {
        const QString path = m_files.filePath(name);
        QFile::remove(path);
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? QUrl::fromLocalFile(path)
                                                                        : QUrl();
    }
    // A real PDF of `pages` pages in the same directory.
    Q_INVOKABLE QUrl pdf(const QString &name, int pages) {
        const QString path = m_files.filePath(name);
        return writePdf(path, pages) ? QUrl::fromLocalFile(path) : QUrl();
    }

    // A path in the private directory, for pictures a test takes.
    Q_INVOKABLE QString path(const QString &name) const { return m_files.filePath(name); }
    Q_INVOKABLE static bool sameImage(const QString &a, const QString &b) {
        return QImage(a) == QImage(b);
    }

public Q_SLOTS:
    void open(const QUrl &url) { m_opened << url.toString(); }

private:
    ScriptedServer m_server;
    QTemporaryDir m_files;
    QTemporaryDir m_downloads;
    QStringList m_opened;
};

class Setup : public QObject {
    Q_OBJECT
public Q_SLOTS:
    void applicationAvailable() {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        Log::setSink({});
        m_service = std::make_unique<QmlTestService>();
        m_env = std::make_unique<TestEnvironment>(m_service->origin());
        // Downloads land in a private directory; "show in folder" reaches no desktop: no
        // session bus, and the folder fallback is recorded instead of opened.
        m_env->setDownloadFolder(m_service->downloads());
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvel-test-bus");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), m_service.get(), "open");
    }
    void qmlEngineAvailable(QQmlEngine *engine) {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        engine->rootContext()->setContextProperty(QStringLiteral("service"), m_service.get());
    }
    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        m_env.reset();
        m_service.reset();
    }

private:
    std::unique_ptr<QmlTestService> m_service;
    std::unique_ptr<TestEnvironment> m_env;
};

QUICK_TEST_MAIN_WITH_SETUP(quorvel_qml, Setup)

#include "tst_qml.moc"
