// The desktop window against the real conversion service: sign in through the login sheet,
// convert a Markdown file, follow the job to its end, download its result from the history
// page, refuse a wrong file, then find the result in the assistant, preview it and ask the
// assistant a question.
#include "AppHarness.h"
#include "ServiceProcess.h"
#include "TestSupport.h"
#include "conversion/PDFViewModel.h"
#include "service/AuthManager.h"
#include "service/Log.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QQuickItem>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace quorvel;
using namespace quorvel::test;

class TestAppEndToEnd : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_server;
    QList<QUrl> m_opened;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    static bool anyNameStartsWith(const AppHarness &app, const QString &prefix,
                                  QString *found = nullptr) {
        for (const QString &name : app.accessibleNames()) {
            if (name.startsWith(prefix)) {
                if (found)
                    *found = name;
                return true;
            }
        }
        return false;
    }

public Q_SLOTS:
    void opened(const QUrl &url) { m_opened << url; }

private Q_SLOTS:
    void initTestCase() {
        const QString data = path(QStringLiteral("data"));
        QVERIFY(addUserWithBinary(data, QStringLiteral("desk@example.org"), 50, "desk secret"));
        const int port = startServerBinary(m_server, data, path(QStringLiteral("server.log")));
        QVERIFY(port > 0);
        qputenv("QUORVEL_API_ORIGIN", QStringLiteral("http://127.0.0.1:%1").arg(port).toUtf8());
        qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toUtf8());
        // Downloads land in a private download folder, made by the app on first use. No file
        // manager is reachable, so "show in folder" falls back to opening the folder,
        // recorded here instead.
        setDownloadFolder(path(QStringLiteral("config")), path(QStringLiteral("Downloads")));
        // The assistant's previews go to the temporary folder.
        QVERIFY(QDir().mkpath(path(QStringLiteral("tmp"))));
        qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvel-test-bus");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "opened");
        Log::setSink({});

        QFile md(path(QStringLiteral("notes.md")));
        QVERIFY(md.open(QIODevice::WriteOnly));
        md.write("# Quarterly notes\n\nSales rose in every region.\n\n## Next steps\n\n- Hire\n- "
                 "Ship\n");
        md.close();
        QFile txt(path(QStringLiteral("todo.txt")));
        QVERIFY(txt.open(QIODevice::WriteOnly));
        txt.write("not a document\n");
    }

    void cleanupTestCase() {
        m_server.terminate();
        m_server.waitForFinished(30000);
    }

    void signInConvertAndRefuse() {
        AppHarness app;
        QVERIFY(app.window());
        auto *viewModel = qobject_cast<PDFViewModel *>(app.property("viewModel"));
        QVERIFY(viewModel);

        // Sign in through the sheet, as a screen reader user would.
        QVERIFY(app.press(QStringLiteral("Login")));
        QTRY_VERIFY(app.byAccessibleName(QStringLiteral("Email")));
        QVERIFY(app.type(QStringLiteral("Email"), QStringLiteral("desk@example.org")));
        QVERIFY(app.type(QStringLiteral("Password"), QStringLiteral("desk secret")));
        QVERIFY(app.press(QStringLiteral("Login")));
        QTRY_VERIFY_WITH_TIMEOUT(app.byAccessibleName(QStringLiteral("Logout")), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!app.byAccessibleName(QStringLiteral("Email")), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(app.byAccessibleName(QStringLiteral("Page balance")), 10000);
        auto *account = qobject_cast<AuthManager *>(app.property("authManager"));
        QVERIFY(account);
        QTRY_VERIFY(account->pageBalance().has_value());
        const qint64 consumedBefore = account->pageBalance()->consumed_pages;

        // Convert a Markdown file.
        QMetaObject::invokeMethod(
            app.property("conversionPage"), "addPickedFiles",
            Q_ARG(QList<QUrl>, {QUrl::fromLocalFile(path(QStringLiteral("notes.md")))}));
        QTRY_VERIFY(app.byAccessibleName(QStringLiteral("notes.md")));
        QVERIFY(app.press(QStringLiteral("MD to PDF")));
        // The feedback of the press is scrolled into view at the default window size.
        QQuickItem *view = app.byObjectName(QStringLiteral("conversionPage"));
        QVERIFY(view);
        QString row;
        QTRY_VERIFY_WITH_TIMEOUT(anyNameStartsWith(app, QStringLiteral("notes.md, "), &row), 60000);
        {
            QQuickItem *uploaded = app.byAccessibleName(row);
            QVERIFY(uploaded);
            QTRY_VERIFY(uploaded->mapToItem(view, QPointF(0, 0)).y() >= 0 &&
                        uploaded->mapToItem(view, QPointF(0, uploaded->height())).y() <=
                            view->height());
        }
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^notes\.md, \d+ pages, Success$)"))
                     .match(row)
                     .hasMatch(),
                 qPrintable(row));

        QTRY_VERIFY_WITH_TIMEOUT(!viewModel->conversionTasks().isEmpty(), 30000);
        const QString jobId = viewModel->conversionTasks().constFirst().id;
        const auto status = [&] {
            for (const ConversionTask &t : viewModel->conversionTasks())
                if (t.id == jobId)
                    return t.status;
            return qint64(-1);
        };
        QTRY_COMPARE_WITH_TIMEOUT(status(), qint64(1), 180000);
        // The charge shows in the balance without leaving the page.
        QTRY_VERIFY_WITH_TIMEOUT(account->pageBalance()->consumed_pages > consumedBefore, 10000);

        // The history page lists the job as completed; Download saves its result and shows it.
        QVERIFY(app.press(QStringLiteral("History")));
        QTRY_VERIFY_WITH_TIMEOUT(app.byAccessibleName(QStringLiteral("notes.md, Completed")),
                                 30000);
        QVERIFY(app.press(QStringLiteral("Download")));
        const QDir downloads(path(QStringLiteral("Downloads")));
        QTRY_COMPARE_WITH_TIMEOUT(m_opened, QList{QUrl::fromLocalFile(downloads.path())}, 60000);
        const QStringList saved = downloads.entryList({QStringLiteral("*.pdf")}, QDir::Files);
        QCOMPARE(saved, QStringList{QStringLiteral("notes.pdf")});
        QFile pdf(downloads.filePath(saved.first()));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
        // A second download keeps the first file.
        QVERIFY(app.press(QStringLiteral("Download")));
        QTRY_COMPARE_WITH_TIMEOUT(
            downloads.entryList({QStringLiteral("*.pdf")}, QDir::Files),
            (QStringList{QStringLiteral("notes (2).pdf"), QStringLiteral("notes.pdf")}), 60000);
        QVERIFY(app.press(QStringLiteral("Convert")));

        // A file the operation does not take: the warm reminder, then "Reselect file".
        QMetaObject::invokeMethod(
            app.property("conversionPage"), "addPickedFiles",
            Q_ARG(QList<QUrl>, {QUrl::fromLocalFile(path(QStringLiteral("todo.txt")))}));
        QVERIFY(app.press(QStringLiteral("PDF to DOC")));
        QTRY_VERIFY(anyNameStartsWith(app, QStringLiteral("Warm reminder: ")));
        QVERIFY(app.press(QStringLiteral("Reselect file")));
        QTRY_VERIFY(!anyNameStartsWith(app, QStringLiteral("Warm reminder: ")));
        QVERIFY(!app.byAccessibleName(QStringLiteral("todo.txt")));

        // The assistant lists the converted job; its preview opens the reader on the
        // downloaded PDF.
        QTest::keyClick(app.window(), Qt::Key_3, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(app.byAccessibleName(QStringLiteral("notes.md")), 30000);
        QVERIFY(app.press(QStringLiteral("预览 notes.md")));
        QObject *reader = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (reader = app.property("pdfReader")) && reader->property("visible").toBool(), 30000);
        QFile previewed(reader->property("url").toUrl().toLocalFile());
        QCOMPARE(QFileInfo(previewed).absolutePath(),
                 QDir(path(QStringLiteral("tmp"))).absolutePath());
        QVERIFY(previewed.open(QIODevice::ReadOnly));
        QVERIFY(previewed.read(5) == "%PDF-");
        QTRY_VERIFY(reader->property("totalPages").toInt() >= 1);
        QMetaObject::invokeMethod(reader, "dismiss");

        // One question and its answer.
        QVERIFY(app.press(QStringLiteral("内容处理")));
        QVERIFY(app.press(QStringLiteral("开始对话")));
        QTRY_VERIFY(app.byAccessibleName(QStringLiteral("输入问题...")));
        QVERIFY(app.type(QStringLiteral("输入问题..."), QStringLiteral("abc")));
        QVERIFY(app.press(QStringLiteral("发送")));
        QTRY_VERIFY(app.isShown(QStringLiteral("我：abc")));
        QTRY_VERIFY(app.isShown(
            QStringLiteral("AI助手：基于您的问题「abc」，我可以分析出您需要了解文档中的相关内容。"
                           "如果您有具体的PDF文件已上传，我可以提供更精确的回答。")));
    }
};

QTEST_MAIN(TestAppEndToEnd)
#include "tst_app_e2e.moc"
