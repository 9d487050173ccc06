// A hostile or broken service and odd local files: every answer the client takes into memory
// is capped, every request ends by its deadline, a download streams whatever its framing, and
// what the user hands over is opened only when it is a regular file.
#include "ClientTest.h"

#include "conversion/ConversionRequest.h"
#include "conversion/Downloader.h"
#include "conversion/ResultName.h"
#include "conversion/StatusCheck.h"
#include "history/HistoryFetch.h"
#include "history/RetryRequest.h"
#include "service/AnswerLimits.h"
#include "service/AuthManager.h"
#include "service/Request.h"

#include <QElapsedTimer>
#include <QSettings>

#include <sys/stat.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// The caller of one kind of request, reduced to the error text the user reads (none: it
// succeeded).
using Call = std::function<std::optional<QString>()>;

template <typename T> std::optional<QString> errorOf(QCoro::Task<T> task) {
    auto out = finish(std::move(task), 20'000);
    if (!out->done)
        return QStringLiteral("still running");
    return out->error ? std::optional(out->error->description()) : std::nullopt;
}

std::optional<QString> errorOfHistory() {
    auto out = finish(HistoryFetch::fetch(), 20'000);
    if (!out->done || !out->value)
        return QStringLiteral("still running");
    const auto &failure = (*out->value)->failure;
    return failure ? std::optional(failure->description()) : std::nullopt;
}

std::optional<QString> errorOfAccount(bool balance) {
    AuthManager auth(AuthManager::StartupFetch::None);
    if (!finishVoid(balance ? auth.fetchPageBalance() : auth.fetchUserInfo(), 20'000))
        return QStringLiteral("still running");
    return auth.hasError() ? std::optional(auth.errorText()) : std::nullopt;
}

struct Route {
    QByteArray method;
    QByteArray target;
    Call call;
};

ConversionTask jobNamed(const QString &fileName) {
    return task(QStringLiteral("job-1"), fileName, 0, QStringLiteral("PDF2DOC"));
}

Route routeOf(const QString &kind) {
    const ConversionTask job = jobNamed(QStringLiteral("a.pdf"));
    if (kind == "account")
        return {"GET", kMe, [] { return errorOfAccount(false); }};
    if (kind == "balance")
        return {"GET", kBalance, [] { return errorOfAccount(true); }};
    if (kind == "history")
        return {"GET", kHistory, errorOfHistory};
    if (kind == "convert")
        return {"POST", kConvert, [] {
                    return errorOf(ConversionRequest::send("PDF to DOC", uploadRecord("a.pdf")));
                }};
    if (kind == "download")
        return {"GET", kDownload + "job-1", [job] {
                    static QTemporaryDir folder;
                    DownloadLimits limits;
                    limits.idleMs = 300;
                    limits.minBytesPerIdle = 1024;
                    return errorOf(Downloader::download(job, folder.path(), limits));
                }};
    if (kind == "status")
        return {"GET", kStatus + "job-1", [] { return errorOf(StatusCheck::check("job-1")); }};
    return {"POST", kConvert, [job] { return errorOf(RetryRequest::send(job)); }};
}

// Resident memory of this process.
qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * 4096;
}

} // namespace

class TestBounds : public QObject {
    Q_OBJECT
    ScriptedService m_server;
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init() {
        resetAnswerLimits();
        m_server.reset(QStringLiteral("tok-abcdef-123"));
    }
    void cleanupTestCase() { resetAnswerLimits(); }

    void defaultLimits() {
        // Room for a history of a million jobs of some 340 bytes; a record answer far smaller.
        QVERIFY(answerLimits(AnswerKind::History).maxBodyBytes >= 1'000'000LL * 340);
        QCOMPARE(answerLimits(AnswerKind::Small).maxBodyBytes, 1 << 20);
        for (const AnswerKind kind : {AnswerKind::Small, AnswerKind::History}) {
            const AnswerLimits l = answerLimits(kind);
            QVERIFY(l.totalMs > l.idleMs && l.idleMs > 0);
        }
    }

    // Each kind of answer, endless or announced too long, ends with a clear error at its cap.
    void endlessAnswerStopsAtItsCap_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("announced");
        for (const char *kind : {"account", "balance", "history", "convert", "status", "retry"}) {
            QTest::addRow("%s, endless", kind) << QString::fromLatin1(kind) << false;
            QTest::addRow("%s, announced", kind) << QString::fromLatin1(kind) << true;
        }
    }
    void endlessAnswerStopsAtItsCap() {
        QFETCH(QString, kind);
        QFETCH(bool, announced);
        constexpr qint64 cap = 256 << 10;
        setAnswerLimits(AnswerKind::Small, {cap, 10'000, 20'000});
        setAnswerLimits(AnswerKind::History, {cap, 10'000, 20'000});
        const Route route = routeOf(kind);
        ScriptedResponse endless;
        endless.headers = {{"Content-Type", "application/json"}};
        endless.generatedBodySize = announced ? cap + 1 : qint64(1) << 40;
        endless.untilClose = !announced;
        m_server.script(route.method, route.target, {endless});

        const qint64 before = residentBytes();
        QCOMPARE(route.call(), std::optional(QStringLiteral("The answer is too large.")));
        QVERIFY(residentBytes() - before < 64 << 20);
        QCOMPARE(m_server.requestsTo(route.method, route.target).size(), 1);
    }

    // An answer that never goes quiet and never ends is cut by the total deadline.
    void drippingAnswerEndsByTheDeadline_data() {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"account", "history", "status", "download"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void drippingAnswerEndsByTheDeadline() {
        QFETCH(QString, kind);
        setAnswerLimits(AnswerKind::Small, {1 << 20, 300, 800});
        setAnswerLimits(AnswerKind::History, {1 << 20, 300, 800});
        const Route route = routeOf(kind);
        ScriptedResponse drip = ScriptedResponse::json(200, R"({"code":0,"data":)");
        drip.dripMs = 50;
        m_server.script(route.method, route.target, {drip});

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(route.call(), std::optional(QStringLiteral("The request timed out.")));
        QVERIFY2(clock.elapsed() < 5'000, qPrintable(QString::number(clock.elapsed())));
    }

    // A chunk announcing 64 GiB goes to the file as it arrives: the size limit ends it, with
    // memory bounded and no file left behind.
    void hugeChunkStreamsToTheLimit() {
        ScriptedResponse chunk;
        chunk.chunked = true;
        chunk.generatedBodySize = qint64(1) << 36;
        m_server.scriptPrefix("GET", "/api/v2/docx", {chunk});
        QTemporaryDir folder;
        DownloadLimits limits;
        limits.maxBytes = 32 << 20;
        limits.freeSpaceMargin = 0;
        const qint64 before = residentBytes();
        const auto error =
            errorOf(Downloader::download(jobNamed(QStringLiteral("a.pdf")), folder.path(), limits));
        QVERIFY(error);
        QVERIFY2(error->contains("larger than the download limit"), qPrintable(*error));
        QVERIFY(residentBytes() - before < 64 << 20);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }

    // A stored token is a header value: one that would add lines of its own signs the user
    // out instead of going out; a login that hands out such a token stores nothing.
    void tokenWithControlCharacters() {
        const QString evil = QStringLiteral("abc\r\nX-Injected: 1");
        {
            QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Quorvel", "Quorvel");
            settings.setValue("authToken", evil);
        }
        m_server.answer("GET", "/api/v1/tollan/convertapi/page_balance", 200, "{}");
        LogCapture log;
        QVERIFY(!AuthManager(AuthManager::StartupFetch::None).isLoggedIn());
        QVERIFY(!TokenStore::read());
        QVERIFY(log.lines().contains(
            QStringLiteral("⚠️ The stored token holds control characters: signed out")));
        QVERIFY(!TokenStore::write(evil));
        QVERIFY(!TokenStore::read());

        m_server.answer("POST", "/api/v1/tollan/auth/login", 200,
                        envelope(QJsonObject{{"token", evil}}));
        AuthManager auth(AuthManager::StartupFetch::None);
        QVERIFY(finish(auth.login(QStringLiteral("a@b.c"), QStringLiteral("pw")))->error);
        QVERIFY(!auth.isLoggedIn());
        QVERIFY(!TokenStore::read());
        for (const ReceivedRequest &r : m_server.requests())
            QVERIFY(!r.hasHeader("X-Injected"));
    }

    // A name at or past the file system's limit is shortened, keeping its extension and
    // whole UTF-8 characters, so the result can always be saved.
    void longResultNamesFit_data() {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("255 bytes") << QString(251, u'a') + ".pdf";
        QTest::newRow("300 bytes of Chinese") << QString(100, u'报') + ".pdf";
        QTest::newRow("combining marks") << QString("e\u0301").repeated(120) + ".pdf";
    }
    void longResultNamesFit() {
        QFETCH(QString, fileName);
        ScriptedResponse result;
        result.body = "result";
        m_server.scriptPrefix("GET", "/api/v2/docx", {result});
        QTemporaryDir folder;
        auto out = finish(Downloader::download(jobNamed(fileName), folder.path()));
        QVERIFY2(out->value, out->error ? qPrintable(out->error->description()) : "no end");
        const QString name = QFileInfo(*out->value).fileName();
        QVERIFY(name.toUtf8().size() <= 255);
        QVERIFY(name.endsWith(".docx"));
        QCOMPARE(QString::fromUtf8(name.toUtf8()), name);
        QVERIFY(!name.at(0).isMark() && !name.chopped(5).back().isHighSurrogate());
        QVERIFY(fileName.startsWith(name.chopped(5)));
        QFile saved(*out->value);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("result"));
        QCOMPARE(ResultName::fitted("short.pdf", 255), QStringLiteral("short.pdf"));
    }

    // A named pipe given as an upload is refused before it is opened: nothing waits for a
    // writer, nothing is sent.
    void namedPipeIsNotUploaded() {
        const QString pipe = m_dir.filePath("pipe.pdf");
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        auto vm = fastViewModel();
        auto out = finish(vm->uploadFile(QUrl::fromLocalFile(pipe)), 5'000);
        QVERIFY(out->done);
        QVERIFY(out->error);
        QCOMPARE(out->error->domain(),
                 QStringLiteral("Failed to read file: It is a named pipe, not a regular file."));
        QCOMPARE(m_server.requestCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestBounds)
#include "tst_bounds.moc"
