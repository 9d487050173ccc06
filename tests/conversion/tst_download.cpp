#include "ClientTest.h"

#include "conversion/Downloader.h"
#include "conversion/ResultName.h"

#include <QScopeGuard>
#include <QStorageInfo>

using namespace quorvel;
using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestDownload : public QObject {
    Q_OBJECT
    ScriptedService m_server;

private Q_SLOTS:
    void init() { m_server.reset(QStringLiteral("tok-download")); }

    void resultNames_data() {
        QTest::addColumn<QString>("typ");
        QTest::addColumn<QString>("sourceFileTyp");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("expected");
        QTest::newRow("lower-case code, upper-case ext")
            << u"pdf2doc"_s << u""_s << u"Report.PDF"_s << u"Report.docx"_s;
        QTest::newRow("reverse, case-blind")
            << u"DOCX2PDF"_s << u"docx"_s << u"letter.DOCX"_s << u"letter.pdf"_s;
        QTest::newRow("markdown source")
            << u"MD2PDF"_s << u"markdown"_s << u"notes.md"_s << u"notes.pdf"_s;
        QTest::newRow("md is no source type")
            << u"MD2PDF"_s << u"md"_s << u"notes.md"_s << u"notes.md.pdf"_s;
        QTest::newRow("image source")
            << u"IMG2PDF"_s << u"png"_s << u"photo.png"_s << u"photo.png.pdf"_s;
        QTest::newRow("every occurrence") << u"PDF2MD"_s << u""_s << u"a.pdf.pdf"_s << u"a.md.md"_s;
        QTest::newRow("no extension") << u"COMPRESS"_s << u""_s << u"plain"_s << u"plain.pdf"_s;
        QTest::newRow("reverse code not in table")
            << u"DOC2PDF"_s << u"docx"_s << u"a.docx"_s << u"a.docx"_s;
    }
    void resultNames() {
        QFETCH(QString, typ);
        QFETCH(QString, sourceFileTyp);
        QFETCH(QString, fileName);
        QFETCH(QString, expected);
        ConversionTask done = task("1", fileName, 1, typ);
        done.sourceFileTyp = sourceFileTyp;
        QCOMPARE(ResultName::forTask(done), expected);
    }

    void safeNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("parent traversal") << u"../../x.docx"_s << u"x.docx"_s;
        QTest::newRow("trailing slash") << u"dir/"_s << u"download"_s;
        QTest::newRow("empty") << u""_s << u"download"_s;
        QTest::newRow("dot") << u"."_s << u"download"_s;
        QTest::newRow("dot dot") << u".."_s << u"download"_s;
        QTest::newRow("backslash") << u"..\\..\\x.pdf"_s << u".._.._x.pdf"_s;
        QTest::newRow("control chars") << QString("a\nb\tc\x01.pdf") << u"a_b_c_.pdf"_s;
        QTest::newRow("bidi override")
            << QStringLiteral("cod.exe\u202Efdp.docx") << u"cod.exe_fdp.docx"_s;
        QTest::newRow("unicode kept") << QStringLiteral("报告.docx") << QStringLiteral("报告.docx");
    }
    void safeNames() {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(ResultName::safe(name), expected);
    }

    void requestAndSavedFile() {
        ScriptedResponse ok;
        ok.body = QByteArray("result-bytes\x00\xff", 14);
        m_server.scriptPrefix("GET", "/api/v2/docx", {ok});
        QTemporaryDir dir;
        auto vm = fastViewModel();
        LogCapture log;
        const ConversionTask done = task("id/1?x=2#f&md5_id=3", "Report.PDF", 1, "pdf2doc");
        auto out = finish(vm->downloadFile(done, dir.path()));
        QVERIFY2(out->value, out->failure().constData());
        QCOMPARE(*out->value, dir.filePath("Report.docx"));
        QCOMPARE(readAll(*out->value), ok.body);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"Report.docx"});

        const auto received = m_server.requests();
        QCOMPARE(received.size(), 1);
        const ReceivedRequest &r = received[0];
        QCOMPARE(r.method, QByteArray("GET"));
        QCOMPARE(r.target, QByteArray("/api/v2/docx?md5_id=id%2F1%3Fx%3D2%23f%26md5_id%3D3"));
        QCOMPARE(r.header("cid"), QByteArray("1"));
        QCOMPARE(r.header("Authorization"), QByteArray("Bearer tok-download"));
        QVERIFY(!r.hasHeader("Content-Type"));
        QVERIFY(!r.hasHeader("Accept"));

        const QStringList expected = {
            "task>>>>>>>>>>>>>>: " + done.render(),
            "🔄 开始下载转换后文件: " + done.id,
            "📄 文件名: Report.PDF",
            "📥 下载响应状态码: 200",
            "task>>>>>>>>>>>>>>: pdf2doc",
            "task>>>>>>>>>>>>>>: PDF2DOC",
            "fileExtension>>>>>>>>>>>>> .docx",
            "fileName>>>>>>>>>>>>> Report.docx",
            "✅ 文件下载成功: " + dir.filePath("Report.docx"),
        };
        QCOMPARE(log.lines(), expected);
        QCOMPARE(vm->processedFiles().size(), 0);
    }

    // A failed download leaves nothing new behind and an earlier result intact. `room`
    // is the free space left above the margin (negative: the margin is above it).
    void failuresLeaveNoFile_data() {
        QTest::addColumn<ScriptedResponse>("answer");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<qint64>("code");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<qint64>("room");
        const qint64 limit = DownloadLimits{}.maxBytes;
        const qint64 plenty = qint64(1) << 30;
        ScriptedResponse midBody;
        midBody.action = ScriptedResponse::Action::DropMidBody;
        midBody.generatedBodySize = 4 << 20;
        ScriptedResponse large;
        large.generatedBodySize = 4 << 20;
        ScriptedResponse endless;
        endless.generatedBodySize = qint64(1) << 40;
        endless.untilClose = true;
        ScriptedResponse refusedEndless = endless;
        refusedEndless.status = 500;
        const QString url = ServiceError::kUrlErrorDomain;
        QTest::newRow("404") << ScriptedResponse::json(404, "gone") << u"Download failed"_s
                             << qint64(404) << limit << plenty;
        QTest::newRow("500, endless body")
            << refusedEndless << u"Download failed"_s << qint64(500) << limit << plenty;
        QTest::newRow("dropped mid-body") << midBody << url << qint64(-1005) << limit << plenty;
        QTest::newRow("over the limit, announced")
            << large << url << qint64(-1103) << qint64(1 << 20) << plenty;
        QTest::newRow("over the limit, no length")
            << endless << url << qint64(-1103) << qint64(1 << 20) << plenty;
        QTest::newRow("margin above the free space")
            << ScriptedResponse::json(200, "x") << url << qint64(-3003) << limit << qint64(-1);
        QTest::newRow("margin reached while writing")
            << endless << url << qint64(-3003) << limit << qint64(32 << 20);
    }
    void failuresLeaveNoFile() {
        QFETCH(ScriptedResponse, answer);
        QFETCH(QString, domain);
        QFETCH(qint64, code);
        QFETCH(qint64, maxBytes);
        QFETCH(qint64, room);
        m_server.scriptPrefix("GET", "/api/v2/docx", {answer});
        QTemporaryDir dir;
        const QString earlier = writeFile(dir, "keep.docx", "earlier result");
        auto vm = fastViewModel();
        vm->downloadLimits.maxBytes = maxBytes;
        vm->downloadLimits.freeSpaceMargin = QStorageInfo(dir.path()).bytesAvailable() - room;
        auto out = finish(vm->downloadFile(task("k", "keep.pdf", 1, "PDF2DOC"), dir.path()));
        QVERIFY(out->done);
        QVERIFY(out->error);
        QCOMPARE(out->error->domain(), domain);
        QCOMPARE(out->error->code(), code);
        QCOMPARE(readAll(earlier), QByteArray("earlier result"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.docx"});
    }

    // The window's downloads never replace a file: the result takes the first free
    // numbered name, whatever already holds the plain one. Names from the service cannot
    // leave the directory.
    void keepsEarlierFiles_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("saved");
        QTest::newRow("free name") << u"r.pdf"_s << QStringList() << u"r.md"_s;
        QTest::newRow("taken") << u"r.pdf"_s << QStringList{u"r.md"_s} << u"r (2).md"_s;
        QTest::newRow("two taken")
            << u"r.pdf"_s << QStringList{u"r.md"_s, u"r (2).md"_s} << u"r (3).md"_s;
        QTest::newRow("gap is reused")
            << u"r.pdf"_s << QStringList{u"r.md"_s, u"r (3).md"_s} << u"r (2).md"_s;
        QTest::newRow("dangling link holds the name")
            << u"r.pdf"_s << QStringList{u"->r.md"_s} << u"r (2).md"_s;
        QTest::newRow("folder holds the name")
            << u"r.pdf"_s << QStringList{u"r.md/"_s} << u"r (2).md"_s;
        QTest::newRow("traversal") << u"../../x.pdf"_s << QStringList() << u"x.md"_s;
        QTest::newRow("empty name") << u""_s << QStringList() << u".md"_s;
    }
    void keepsEarlierFiles() {
        QFETCH(QString, fileName);
        QFETCH(QStringList, present);
        QFETCH(QString, saved);
        m_server.scriptPrefix("GET", "/api/v2/docx", {ScriptedResponse::json(200, "new")});
        QTemporaryDir parent;
        QVERIFY(QDir(parent.path()).mkpath("a/b"));
        const QDir dir(parent.filePath("a/b"));
        QStringList before;
        for (const QString &name : present) {
            if (name.startsWith(u"->"))
                QVERIFY(QFile::link(dir.filePath(u"nowhere"_s), dir.filePath(name.mid(2))));
            else if (name.endsWith(u'/'))
                QVERIFY(dir.mkdir(name.chopped(1)));
            else
                before << QFileInfo(writeFile(parent, "a/b/" + name, "old " + name.toUtf8()))
                              .fileName();
        }
        auto vm = fastViewModel();
        auto out = finish(vm->downloadFile(task("r", fileName, 1, "PDF2MD"), dir.path()));
        QVERIFY(out->value);
        QCOMPARE(*out->value, dir.filePath(saved));
        QCOMPARE(QFileInfo(*out->value).absolutePath(), dir.absolutePath());
        QCOMPARE(readAll(*out->value), QByteArray("new"));
        for (const QString &name : std::as_const(before))
            QCOMPARE(readAll(dir.filePath(name)), "old " + name.toUtf8());
        QVERIFY(!QFileInfo::exists(dir.filePath(u"nowhere"_s)));
        QCOMPARE(QDir(parent.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(QDir(parent.filePath("a")).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void numberedNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("copy");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first copy is the name") << u"a.pdf"_s << 1 << 255 << u"a.pdf"_s;
        QTest::newRow("second") << u"report.pdf"_s << 2 << 255 << u"report (2).pdf"_s;
        QTest::newRow("no extension") << u"README"_s << 12 << 255 << u"README (12)"_s;
        QTest::newRow("dots in the stem")
            << u"v1.2 notes.md"_s << 2 << 255 << u"v1.2 notes (2).md"_s;
        QTest::newRow("stem shortened, counter kept")
            << u"abcdefgh.pdf"_s << 2 << 12 << u"abcd (2).pdf"_s;
        QTest::newRow("whole characters dropped")
            << QStringLiteral("报告报告.pdf") << 3 << 14 << QStringLiteral("报告 (3).pdf");
    }
    void numberedNames() {
        QFETCH(QString, name);
        QFETCH(int, copy);
        QFETCH(int, limit);
        QFETCH(QString, expected);
        const QString numbered = ResultName::numbered(name, copy, limit);
        QCOMPARE(numbered, expected);
        QVERIFY(numbered.toUtf8().size() <= limit);
    }

    // What holds the result's name is replaced by a script, whose folder gets the same name
    // each time, and left alone by the window; a planted link is never written through.
    void nameAlreadyTaken_data() {
        QTest::addColumn<bool>("window");
        QTest::addColumn<bool>("link"); // false: an earlier file
        QTest::addColumn<QString>("saved");
        QTest::newRow("script, earlier file") << false << false << u"l.docx"_s;
        QTest::newRow("script, planted link") << false << true << u"l.docx"_s;
        QTest::newRow("window, planted link") << true << true << u"l (2).docx"_s;
    }
    void nameAlreadyTaken() {
        QFETCH(bool, window);
        QFETCH(bool, link);
        QFETCH(QString, saved);
        m_server.scriptPrefix("GET", "/api/v2/docx", {ScriptedResponse::json(200, "fresh")});
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        const QString victim = writeFile(elsewhere, "victim.txt", "precious");
        if (link)
            QVERIFY(QFile::link(victim, dir.filePath("l.docx")));
        else
            writeFile(dir, "l.docx", "old content that is longer");
        auto vm = fastViewModel();
        const ConversionTask done = task("l", "l.pdf", 1, "PDF2DOC");
        auto out = window ? finish(vm->downloadFile(done, dir.path()))
                          : finish(Downloader::download(done, dir.path()));
        QVERIFY(out->value);
        QCOMPARE(*out->value, dir.filePath(saved));
        QVERIFY(!QFileInfo(*out->value).isSymLink());
        QCOMPARE(readAll(*out->value), QByteArray("fresh"));
        QCOMPARE(readAll(victim), QByteArray("precious"));
        if (!window)
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"l.docx"});
    }

    // The window saves where the desktop keeps downloads (user-dirs.dirs), making the
    // folder when a fresh account has none; scripts default to the temporary directory.
    void defaultFolders() {
        QTemporaryDir home;
        const QString downloads = home.filePath(u"Téléchargements"_s);
        m_server.environment().setDownloadFolder(downloads);
        const QByteArray old = qgetenv("TMPDIR");
        qputenv("TMPDIR", home.path().toUtf8());
        auto restore = qScopeGuard([old] { qputenv("TMPDIR", old); });
        m_server.scriptPrefix("GET", "/api/v2/docx",
                              {ScriptedResponse::json(200, "w"), ScriptedResponse::json(200, "s")});
        auto vm = fastViewModel();
        auto window = finish(vm->downloadFile(task("t", "big.pdf", 1, "COMPRESS")));
        QVERIFY(window->value);
        QCOMPARE(*window->value, QDir(downloads).filePath("big.pdf"));
        auto script = finish(Downloader::download(task("t", "big.pdf", 1, "COMPRESS")));
        QVERIFY(script->value);
        QCOMPARE(*script->value, QDir(home.path()).filePath("big.pdf"));
    }

    void unwritableDirectoryFailsBeforeSending() {
        auto vm = fastViewModel();
        auto out = finish(vm->downloadFile(task("u", "u.pdf", 1, "PDF2DOC"), "/nonexistent/dir"));
        QVERIFY(out->error);
        QCOMPARE(out->error->code(), -3000);
        QCOMPARE(m_server.requestCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
