// Renders the window's states to PNG files against the scripted service, so a person can
// look at them: quorvel_screenshots <output directory>.
#include "AppHarness.h"
#include "ScriptedServer.h"
#include "TestSupport.h"
#include "service/TokenStore.h"
#include "service/WireRecords.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>
#include <optional>

using namespace quorvel;
using namespace quorvel::test;

namespace {

QByteArray envelope(const QByteArray &data) {
    return R"({"code":0,"msg":"ok","data":)" + data + "}";
}

QByteArray meBody(bool lifetime, int dailyUsage = 3, int dailyTotal = 10) {
    return envelope(
        QByteArray(R"({"email":"ann.lee@example.com","is_lifetimedeal_member":)") +
        (lifetime ? "true" : "false") +
        R"(,"lifetime_member_description":"Lifetime plan: a daily allowance of pages, renewed every day at midnight UTC.","page_balcance_description":"Pages bought never expire. 剩余页数可随时使用。","lft_daily_usage":)" +
        QByteArray::number(dailyUsage) + R"(,"lft_daily_total":)" + QByteArray::number(dailyTotal) +
        "}");
}

// A state that does not come shows in the picture; the shot is taken either way.
template <typename F> void waitUntil(F &&condition, int timeoutMs) {
    if (!QTest::qWaitFor(std::forward<F>(condition), timeoutMs))
        std::fprintf(stderr, "screenshots: a state did not come within %d ms\n", timeoutMs);
}

// Each state is shot in the light and the dark scheme at the smallest window and a large
// one: <state>-<scheme>-<width>x<height>.png.
struct Shooter {
    ScriptedServer &server;
    QString outDir;
    QTemporaryDir files;
    int failures = 0;
    // The account the next state is shot signed in to (lifetime member or not), if any.
    std::optional<bool> account;

    QString file(const QString &name) {
        const QString path = files.filePath(name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write("%PDF-1.4\n% stand-in\n");
        return path;
    }

    void signIn(bool lifetime) {
        server.script("GET", "/api/v1/tollan/auth/me",
                      {ScriptedResponse::json(200, meBody(lifetime))});
        server.script(
            "GET", "/api/v1/tollan/convertapi/page_balance",
            {ScriptedResponse::json(200, envelope(R"({"total_pages":500,"consumed_pages":137})"))});
        account = lifetime;
    }

    void shot(const QString &name, const std::function<void(AppHarness &)> &setup) {
        for (const char *scheme : {"light", "dark"}) {
            for (QSize size : {QSize(800, 600), QSize(1440, 900)}) {
                if (account)
                    TokenStore::write(QStringLiteral("tok_screens_0123456789"));
                // The window's theme takes the scheme from the environment when it is made.
                qputenv("QUORVEL_COLOR_SCHEME", scheme);
                shotOne(QStringLiteral("%1-%2-%3x%4")
                            .arg(name, QLatin1String(scheme))
                            .arg(size.width())
                            .arg(size.height()),
                        size, setup);
                TokenStore::remove();
            }
        }
        qunsetenv("QUORVEL_COLOR_SCHEME");
        account.reset();
    }

    void shotOne(const QString &name, QSize size, const std::function<void(AppHarness &)> &setup) {
        AppHarness app;
        if (!app.window()) {
            ++failures;
            return;
        }
        app.window()->resize(size);
        setup(app);
        QTest::qWait(700); // animations settle
        const QString path = outDir + QLatin1Char('/') + name + QStringLiteral(".png");
        if (app.grab(path))
            std::printf("%s\n", qPrintable(path));
        else
            ++failures;
    }
};

// Stands in for the desktop's file manager: "Show in folder" opens nothing here.
class FolderOpener : public QObject {
    Q_OBJECT
public Q_SLOTS:
    void open(const QUrl &) {}
};

// The account's history: `count` completed jobs with a converting one between.
QByteArray historyBody(int count) {
    static const QStringList names{
        "季度报告 2026.pdf", "Q3 report.pdf",
        "会议纪要.pdf",      "Product roadmap — final draft with a very long name.pdf",
        "invoice-0042.pdf",  "合同草案.pdf",
        "slides.pdf",        "notes.pdf",
        "年度总结.pdf"};
    QByteArray jobs;
    for (int i = 0; i < count; ++i) {
        if (i == 2)
            jobs += R"({"id":"busy","file_name":"转换中.pdf","typ":"md2pdf","status":0},)";
        jobs += QStringLiteral(R"({"id":"job%1","file_name":"%2","typ":"%3","status":1,)"
                               R"("result_file_typ":"pdf","create_at":"2026-12-0%4 10:00"})")
                    .arg(i)
                    .arg(names[i % names.size()],
                         i % 3 ? QStringLiteral("md2pdf") : QStringLiteral("pdf2img"))
                    .arg(1 + i % 9)
                    .toUtf8();
        jobs += i + 1 < count ? "," : "";
    }
    return envelope(R"({"converts":[)" + jobs + "]}");
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString outDir =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(outDir);

    ScriptedServer server;
    TestEnvironment env(server.origin());
    Log::setSink({});
    Shooter s{server, outDir, {}, 0, {}};
    const auto waitSignedIn = [](AppHarness &a) {
        waitUntil(
            [&] {
                return a.byObjectName(QStringLiteral("figure_sum")) ||
                       a.byObjectName(QStringLiteral("lifetimeCard"));
            },
            5000);
    };

    s.shot(QStringLiteral("page0-signed-out"), [](AppHarness &) {});
    s.signIn(false);
    s.shot(QStringLiteral("page0-signed-in-pages"), waitSignedIn);
    s.signIn(true);
    s.shot(QStringLiteral("page0-signed-in-lifetime"), waitSignedIn);
    s.shot(QStringLiteral("login-empty"), [](AppHarness &a) { a.press(QStringLiteral("Login")); });
    server.script("POST", "/api/v1/tollan/auth/login",
                  {ScriptedResponse::json(401, R"({"code":401,"msg":"bad"})")});
    s.shot(QStringLiteral("login-error"), [](AppHarness &a) {
        a.press(QStringLiteral("Login"));
        QTest::qWait(300);
        a.type(QStringLiteral("Email"), QStringLiteral("ann.lee@example.com"));
        a.type(QStringLiteral("Password"), QStringLiteral("wrong password"));
        a.press(QStringLiteral("Login")); // the sheet's button, drawn over the header's
        waitUntil([&] { return a.byObjectName(QStringLiteral("loginError")) != nullptr; }, 5000);
    });

    // Upload in progress: the service takes its time to answer the upload.
    ScriptedResponse slow = ScriptedResponse::json(
        200,
        envelope(
            R"({"file_name":"Q3 report.pdf","source_file_path":"s/1","source_file_typ":"pdf","source_file_md5":"x","page_number":3,"status":0})"));
    slow.delayMs = 60'000;
    server.script("POST", "/api/v2/uploadfilepdf", {slow});
    const QString report = s.file(QStringLiteral("Q3 report.pdf"));
    const QString cjk = s.file(QStringLiteral("季度报告 2026.pdf"));
    const QString notes = s.file(QStringLiteral("notes.txt"));
    const auto pick = [](AppHarness &a, const QStringList &paths) {
        QList<QUrl> urls;
        for (const QString &p : paths)
            urls << QUrl::fromLocalFile(p);
        QMetaObject::invokeMethod(a.property("conversionPage"), "addPickedFiles",
                                  Q_ARG(QList<QUrl>, urls));
    };
    s.shot(QStringLiteral("upload-in-progress"), [&](AppHarness &a) {
        pick(a, {report, cjk});
        a.press(QStringLiteral("PDF to DOC"));
        // The page brings the progress into view by itself.
        QTest::qWait(1200);
    });
    s.shot(QStringLiteral("warm-reminder"), [&](AppHarness &a) {
        pick(a, {notes});
        a.press(QStringLiteral("PDF to DOC"));
        waitUntil([&] { return a.byObjectName(QStringLiteral("warmReminderText")) != nullptr; },
                  3000);
        QTest::qWait(400);
    });
    // The history page: its states, a full list with every status and a retry running, and
    // the detail sheet of a completed and of a failed job.
    const auto historyJob = [](const char *id, int status, const char *name, const char *typ,
                               int pages) {
        return QByteArray(R"({"id":")") + id + R"(","user_id":"u1","typ":")" + typ +
               R"(","file_name":")" + name + R"(","page_number":)" + QByteArray::number(pages) +
               R"(,"source_file_path":"/uploads/2026/03/)" + id +
               R"(.pdf","source_file_typ":"pdf","result_file_typ":")" +
               (QByteArray(typ).endsWith("2pdf") ? "pdf" : "docx") +
               R"(","source_file_md5":"9e107d9d372bb6826bd81d3542a419d6","status":)" +
               QByteArray::number(status) + R"(,"create_at":"2026-03-14 09:26:53"})";
    };
    const QByteArray jobs =
        "[" + historyJob("j1", 1, "Q3 report.pdf", "pdf2doc", 12) + "," +
        historyJob("j2", 0, "季度报告 2026 — 最终版本.pdf", "pdf2img", 48) + "," +
        historyJob("j3", 2, "Board meeting minutes, March 2026 (signed copy).pdf", "pdf2ppt", 0) +
        "," + historyJob("j4", 2, "invoice-4471.pdf", "PDF2DOC", 2) + "," +
        historyJob("j5", 7, "notes.md", "doc2pdf", 1) + "," +
        historyJob("j6", 1, "Präsentation Vertrieb.pptx", "ppt2pdf", 30) + "]";
    const auto history = [&](int status, const QByteArray &list, int delayMs = 0) {
        ScriptedResponse r =
            ScriptedResponse::json(status, envelope(R"({"converts":)" + list + "}"));
        r.delayMs = delayMs;
        server.script("GET", "/api/v1/tollan/convert/all", {r});
    };
    const auto openHistory = [](AppHarness &a, const char *state) {
        a.press(QStringLiteral("History"));
        waitUntil([&] { return a.byObjectName(QString::fromLatin1(state)) != nullptr; }, 5000);
    };
    s.signIn(false);
    history(200, "[]");
    s.shot(QStringLiteral("history-empty"), [&](AppHarness &a) { openHistory(a, "emptyState"); });
    history(200, "[]", 60'000);
    s.shot(QStringLiteral("history-loading"),
           [&](AppHarness &a) { openHistory(a, "loadingState"); });
    server.script("GET", "/api/v1/tollan/convert/all",
                  {ScriptedResponse::json(401, R"({"code":401,"msg":"token expired"})")});
    s.shot(QStringLiteral("history-failed"), [&](AppHarness &a) { openHistory(a, "failedState"); });
    history(200, jobs);
    ScriptedResponse slowRetry =
        ScriptedResponse::json(200, envelope(historyJob("j4", 0, "x", "PDF2DOC", 2)));
    slowRetry.delayMs = 60'000;
    server.script("POST", "/api/v1/tollan/convert", {slowRetry});
    s.shot(QStringLiteral("history-full"), [&](AppHarness &a) {
        openHistory(a, "taskList");
        QTest::qWait(300);
        // The second failed card is being retried.
        QQuickItem *list = a.byObjectName(QStringLiteral("taskList"));
        for (QQuickItem *card :
             list ? list->property("contentItem").value<QQuickItem *>()->childItems()
                  : QList<QQuickItem *>()) {
            auto *presenter = card->property("presenter").value<QObject *>();
            if (presenter && presenter->property("id").toString() == u"j4")
                QMetaObject::invokeMethod(presenter, "retry");
        }
    });
    for (const char *which : {"Q3 report.pdf, Completed",
                              "Board meeting minutes, March 2026 (signed copy).pdf, Failed"}) {
        const bool completed = QByteArray(which).endsWith("Completed");
        s.shot(QStringLiteral("history-detail-%1").arg(completed ? "completed" : "failed"),
               [&](AppHarness &a) {
                   openHistory(a, "taskList");
                   QTest::qWait(300);
                   a.press(QString::fromUtf8(which));
               });
    }

    s.signIn(false);
    s.shot(QStringLiteral("page0-files-picked"), [&](AppHarness &a) {
        waitSignedIn(a);
        pick(a, {report, cjk});
    });

    // A drop with a file no tool takes; a completed job of the run under "Processed Files".
    const QString stray = s.file(QStringLiteral("holiday photos.xyz"));
    s.shot(QStringLiteral("page0-drop-refused"), [&](AppHarness &a) {
        waitSignedIn(a);
        QMetaObject::invokeMethod(a.property("conversionPage"), "drop",
                                  Q_ARG(QList<QUrl>, (QList<QUrl>{QUrl::fromLocalFile(report),
                                                                  QUrl::fromLocalFile(stray)})));
    });
    s.shot(QStringLiteral("page0-processed"), [&](AppHarness &a) {
        waitSignedIn(a);
        pick(a, {report});
        ConversionTask done;
        done.id = QStringLiteral("p1");
        done.typ = QStringLiteral("PDF2DOC");
        done.fileName = QStringLiteral("Q3 report.pdf");
        done.status = 1;
        QMetaObject::invokeMethod(a.property("viewModel"), "runJobFinished",
                                  Q_ARG(quorvel::ConversionTask, done));
        QTest::qWait(400);
    });
    // A download from the history: the message saying where it went. No file manager is
    // reachable and opening the folder is recorded, not done.
    QTemporaryDir downloads;
    env.setDownloadFolder(downloads.filePath(QStringLiteral("Downloads")));
    FolderOpener opener;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "open");
    history(200, jobs);
    // One answer for each of the state's four pictures (two schemes, two sizes).
    const ScriptedResponse result = ScriptedResponse::json(200, "%PDF-1.4");
    server.scriptPrefix("GET", "/api/v2/docx?md5_id=", {result, result, result, result});
    s.shot(QStringLiteral("history-saved"), [&](AppHarness &a) {
        openHistory(a, "taskList");
        QTest::qWait(300);
        a.press(QStringLiteral("Download"));
        waitUntil(
            [&] {
                QQuickItem *message = a.byObjectName(QStringLiteral("savedMessage"));
                return message && message->isVisible();
            },
            5000);
    });
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    // The assistant (Ctrl+3), in the desktop's light and dark appearance.
    const auto openAssistant = [](AppHarness &a) {
        QTest::keyClick(a.window(), Qt::Key_3, Qt::ControlModifier);
        waitUntil([&] { return a.isShown(QStringLiteral("智能助手")); }, 5000);
    };
    const auto withFiles = [&](AppHarness &a) {
        openAssistant(a);
        waitUntil([&] { return a.byAccessibleName(QStringLiteral("Q3 report.pdf")) != nullptr; },
                  5000);
    };
    {
        s.shot(QStringLiteral("assistant-signed-out"), openAssistant);
        server.script("GET", "/api/v1/tollan/convert/all",
                      {ScriptedResponse::json(200, historyBody(0))});
        s.signIn(false);
        s.shot(QStringLiteral("assistant-empty"), [&](AppHarness &a) {
            openAssistant(a);
            waitUntil([&] { return a.isShown(QStringLiteral("请先登录账号")) == false; }, 3000);
        });
        server.script("GET", "/api/v1/tollan/convert/all",
                      {ScriptedResponse::json(200, historyBody(8))});
        s.signIn(false);
        s.shot(QStringLiteral("assistant-full"), [&](AppHarness &a) {
            withFiles(a);
            a.press(QStringLiteral("Q3 report.pdf"));
            a.press(QStringLiteral("会议纪要.pdf"));
        });
        s.signIn(false);
        s.shot(QStringLiteral("assistant-feature"), [&](AppHarness &a) {
            withFiles(a);
            a.press(QStringLiteral("Q3 report.pdf"));
            a.press(QStringLiteral("会议纪要.pdf"));
            a.press(QStringLiteral("PDF智能分析"));
            waitUntil([&] { return a.isShown(QStringLiteral("开始对话")); }, 3000);
        });
        s.signIn(false);
        s.shot(QStringLiteral("assistant-chat-welcome"), [&](AppHarness &a) {
            withFiles(a);
            a.press(QStringLiteral("内容处理"));
            a.press(QStringLiteral("开始对话"));
            waitUntil([&] { return a.isShown(QStringLiteral("输入问题...")); }, 3000);
        });
        s.signIn(false);
        s.shot(QStringLiteral("assistant-chat"), [&](AppHarness &a) {
            withFiles(a);
            a.press(QStringLiteral("内容处理"));
            a.press(QStringLiteral("开始对话"));
            waitUntil([&] { return a.isShown(QStringLiteral("这篇文档的主要内容是什么？")); },
                      3000);
            a.press(QStringLiteral("这篇文档的主要内容是什么？"));
            waitUntil([&] { return !a.isShown(QStringLiteral("思考中...")); }, 5000);
            a.type(QStringLiteral("输入问题..."), QStringLiteral("abc"));
            QTest::keyClick(a.window(), Qt::Key_Return);
            QTest::qWait(300);
        });
    }

    // The reader, opened by the window's Preview, on page 2 of 3.
    const QString threePages = s.files.filePath(QStringLiteral("Q3 summary.pdf"));
    if (!writePdf(threePages, 3))
        ++s.failures;
    for (const char *scheme : {"light", "dark"}) {
        for (QSize size : {QSize(800, 600), QSize(1440, 900)}) {
            qputenv("QUORVEL_COLOR_SCHEME", scheme);
            AppHarness a;
            QVariant reader;
            if (!a.window() ||
                !QMetaObject::invokeMethod(a.window(), "openPdf", Q_RETURN_ARG(QVariant, reader),
                                           Q_ARG(QVariant, QUrl::fromLocalFile(threePages)))) {
                ++s.failures;
                continue;
            }
            auto *win = qobject_cast<QQuickWindow *>(reader.value<QObject *>());
            if (!win) {
                ++s.failures;
                continue;
            }
            win->resize(size);
            auto *next = win->findChild<QQuickItem *>(QStringLiteral("readerNext"));
            waitUntil([&] { return next && next->isEnabled(); }, 5000);
            a.press(next);
            QObject *view = win->property("pageView").value<QObject *>();
            waitUntil(
                [&] {
                    return view && view->property("shownPage").toInt() == 1 &&
                           view->property("pageDrawn").toBool();
                },
                5000);
            const QString path = outDir + QStringLiteral("/reader-page2of3-%1-%2x%3.png")
                                              .arg(QLatin1String(scheme))
                                              .arg(size.width())
                                              .arg(size.height());
            if (win->grabWindow().save(path))
                std::printf("%s\n", qPrintable(path));
            else
                ++s.failures;
        }
    }
    qunsetenv("QUORVEL_COLOR_SCHEME");
    return s.failures == 0 ? 0 : 1;
}

#include "screenshots.moc"
