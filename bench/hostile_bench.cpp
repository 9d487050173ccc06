// The window against a hostile service and odd local files: the real window offscreen, a
// scripted service in a process of its own that answers the account and the history without
// end or a byte at a time, a named pipe and a PDF of 200 000 pages given to the reader.
//
//   hostile_bench                 (QUORVEL_BENCH_TRACE=1 also lists each stall over 16 ms)
//
// Prints, for each case, the longest GUI-thread stall (and the GUI thread's own work in it),
// how long the case took to end and the resident memory it added. Target: the GUI thread's
// own work between two turns of its event loop at most 100 ms in every case, and every case
// ends (with an error where the service is at fault) instead of hanging or growing.

#include "AppHarness.h"
#include "ScriptedServer.h"
#include "StallMeter.h"
#include "TestSupport.h"
#include "service/AnswerLimits.h"
#include "service/AuthManager.h"
#include "service/Log.h"
#include "service/TokenStore.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>

#include <sys/stat.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// A PDF of `pages` empty A4 pages under one page node, written directly: some 60 bytes a page.
bool writeManyPages(const QString &path, int pages) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray pdf = "%PDF-1.4\n";
    QList<qint64> offsets;
    const auto object = [&](const QByteArray &body) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<</Type/Catalog/Pages 2 0 R>>");
    QByteArray kids;
    kids.reserve(pages * 12);
    for (int i = 0; i < pages; ++i)
        kids += QByteArray::number(i + 3) + " 0 R ";
    object("<</Type/Pages/Count " + QByteArray::number(pages) + "/Kids[" + kids + "]>>");
    for (int i = 0; i < pages; ++i)
        object("<</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]>>");
    const qint64 xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (const qint64 at : offsets)
        pdf += QByteArray::number(at).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<</Size " + QByteArray::number(offsets.size() + 1) +
           "/Root 1 0 R>>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return out.write(pdf) == pdf.size();
}

// The service: the account, the balance and the first history answer never end; the next
// history answers drip a byte every 200 ms.
int serve(int &argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    ScriptedServer server;
    ScriptedResponse endless;
    endless.headers = {{"Content-Type", "application/json"}};
    endless.generatedBodySize = qint64(1) << 40;
    endless.untilClose = true;
    ScriptedResponse drip = ScriptedResponse::json(200, R"({"code":0,"data":)");
    drip.dripMs = 200;
    server.script("GET", "/api/v1/tollan/auth/me", {endless});
    server.script("GET", "/api/v1/tollan/convertapi/page_balance", {endless});
    server.script("GET", "/api/v1/tollan/convert/all", {endless, drip});
    std::printf("%s\n", qPrintable(server.origin()));
    std::fflush(stdout);
    return app.exec();
}

struct Case {
    const char *name;
    std::function<void()> start;
    std::function<bool()> ended;
};

} // namespace

int main(int argc, char *argv[]) {
    if (argc > 1 && QByteArray(argv[1]) == "--serve")
        return serve(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Log::setSink({});

    QProcess service;
    service.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--serve")});
    if (!service.waitForReadyRead(60'000)) {
        std::fprintf(stderr, "the scripted service did not start\n");
        return 1;
    }
    const QString origin = QString::fromLatin1(service.readLine().trimmed());
    // The history's total deadline shortened so the dripping answer ends within the run; the
    // caps stay the app's own.
    AnswerLimits history = answerLimits(AnswerKind::History);
    history.totalMs = 5'000;
    setAnswerLimits(AnswerKind::History, history);

    QTemporaryDir files;
    const QString pipe = files.filePath(QStringLiteral("pipe.pdf"));
    const QString large = files.filePath(QStringLiteral("large.pdf"));
    if (::mkfifo(QFile::encodeName(pipe).constData(), 0600) != 0 ||
        !writeManyPages(large, 200'000)) {
        std::fprintf(stderr, "cannot write the test files\n");
        return 1;
    }
    std::printf("large PDF: 200 000 pages, %.1f MB\n", QFileInfo(large).size() / 1e6);

    int failures = 0;
    TestEnvironment env(origin);
    TokenStore::write(QStringLiteral("bench-token"));
    StallMeter meter;
    AppHarness harness;
    QQuickWindow *window = harness.window();
    auto *auth = qobject_cast<AuthManager *>(harness.property("authManager"));
    auto *viewModel = harness.property("viewModel");
    if (!window || !auth || !viewModel) {
        std::fprintf(stderr, "the window did not load\n");
        return 1;
    }
    window->resize(1100, 780);
    QObject *reader = nullptr;
    const auto readerView = [&] {
        return reader ? reader->property("pageView").value<QQuickItem *>() : nullptr;
    };
    const auto open = [&](const QString &path) {
        QVariant result;
        QMetaObject::invokeMethod(window, "openPdf", Q_RETURN_ARG(QVariant, result),
                                  Q_ARG(QVariant, QUrl::fromLocalFile(path)));
        reader = result.value<QObject *>();
    };
    // Each history case ends with a failure the page shows with "Try again".
    QSignalSpy historyFailed(viewModel, SIGNAL(historyFetchFailed(QString, qint64)));
    const auto historyFailedOnce = [&] { return historyFailed.size() == 1; };
    const auto historyFailedTwice = [&] { return historyFailed.size() == 2; };

    const QList<Case> cases{
        {"account answer without end, at start", [] {}, [&] { return auth->hasError(); }},
        {"history answer without end", [&] { window->setProperty("selectedTab", 1); },
         historyFailedOnce},
        {"history answer dripping",
         [&] {
             QObject *page = harness.byObjectName(QStringLiteral("historyPage"))
                                 ->property("page")
                                 .value<QObject *>();
             QMetaObject::invokeMethod(page, "retryFetch");
         },
         historyFailedTwice},
        {"named pipe in the reader", [&] { open(pipe); },
         [&] { return readerView() && readerView()->property("failed").toBool(); }},
        {"PDF of 200 000 pages in the reader", [&] { open(large); },
         [&] { return readerView() && readerView()->property("pageDrawn").toBool(); }},
    };
    for (const Case &c : cases) {
        const double rssBefore = rssMiB();
        meter.start();
        QElapsedTimer clock;
        clock.start();
        c.start();
        const bool ended = QTest::qWaitFor(c.ended, 60'000);
        const double took = double(clock.elapsed());
        QTest::qWait(100);
        const double stall = meter.stopMs();
        if (QByteArray(c.name).startsWith("history") && !historyFailed.isEmpty())
            std::printf("  history failure: %s\n",
                        qPrintable(historyFailed.last().first().toString()));
        std::printf("%-40s ended %s after %7.0f ms; longest GUI stall %6.1f ms (GUI thread busy "
                    "%5.1f ms); RSS %+7.1f MiB\n",
                    c.name, ended ? "yes" : "NO ", took, stall, meter.busiestMs(),
                    rssMiB() - rssBefore);
        failures += !ended || meter.busiestMs() > 100 ? 1 : 0;
    }
    if (failures)
        std::printf("%d case(s) missed the target\n", failures);
    service.kill();
    service.waitForFinished();
    return failures ? 1 : 0;
}
