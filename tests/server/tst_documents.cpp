// Upload checks (what a file really is), the type-code table, client-supplied
// names, and the PDF text layer turned into Markdown.
#include "FileCheck.h"
#include "PdfText.h"
#include "Records.h"
#include "ServerTestSupport.h"
#include "Zip.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quorvel::server;
using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

// A minimal but well-formed package: [Content_Types].xml plus the main part.
QByteArray officePackage(const QTemporaryDir &dir, const QString &mainPart,
                         const QByteArray &mainContent) {
    const QString types = dir.filePath(u"types.xml"_s);
    const QString main = dir.filePath(u"main.xml"_s);
    writeFile(types, "<Types/>");
    writeFile(main, mainContent);
    const QString zip = dir.filePath(u"pkg-%1.zip"_s.arg(qHash(mainPart)));
    writeZip(zip, {types, main}, {u"[Content_Types].xml"_s, mainPart});
    return readFile(zip);
}

} // namespace

class TestDocuments : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString put(const QString &name, const QByteArray &data) {
        const QString p = m_dir.filePath(u"upload-"_s + name);
        writeFile(p, data);
        return p;
    }

private slots:
    void operations_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("accepts");
        QTest::newRow("lower case") << u"pdf2img"_s << true << u"zip"_s << u"pdf"_s;
        QTest::newRow("PDF2DOCX") << u"PDF2DOCX"_s << true << u"docx"_s << u"pdf"_s;
        QTest::newRow("MD2PDF") << u"MD2PDF"_s << true << u"pdf"_s << u"txt"_s;
        QTest::newRow("COMPRESS") << u"Compress"_s << true << u"pdf"_s << u"pdf"_s;
        QTest::newRow("unknown") << u"PDF2TXT"_s << false << u""_s << u""_s;
        QTest::newRow("empty") << u""_s << false << u""_s << u""_s;
    }
    void operations() {
        QFETCH(QString, code);
        QFETCH(bool, known);
        QFETCH(QString, result);
        QFETCH(QString, accepts);
        const auto op = findOperation(code);
        QCOMPARE(op.has_value(), known);
        if (known) {
            QCOMPARE(op->code, code.toUpper());
            QCOMPARE(op->resultType, result);
            QVERIFY(op->sourceTypes.contains(accepts));
        }
    }

    // Client-supplied text made safe: a display name, and the upload a storage key names.
    void clientNames_data() {
        QTest::addColumn<bool>("key"); // false: a display name
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("safe");
        const QString id = u"0123456789abcdef0123456789abcdef"_s;
        QTest::newRow("retry mark kept") << false << u"a.pdf【retry】"_s << u"a.pdf【retry】"_s;
        QTest::newRow("path") << false << u"../../etc/passwd"_s << u"passwd"_s;
        QTest::newRow("windows path") << false << u"C:\\x\\y.docx"_s << u"y.docx"_s;
        QTest::newRow("controls") << false << u"a\r\nb\t.md"_s << u"a__b_.md"_s;
        QTest::newRow("dot dot") << false << u".."_s << u"upload"_s;
        QTest::newRow("empty") << false << u""_s << u"upload"_s;
        QTest::newRow("quote kept") << false << u"say \"hi\".pdf"_s << u"say \"hi\".pdf"_s;
        QTest::newRow("key: ours") << true << u"uploads/"_s + id + u"/a.pdf"_s << id;
        QTest::newRow("key: retry name") << true << u"uploads/"_s + id + u"/a.pdf【retry】"_s << id;
        QTest::newRow("key: filesystem path") << true << u"/etc/passwd"_s << u""_s;
        QTest::newRow("key: traversal") << true << u"uploads/../../x"_s << u""_s;
        QTest::newRow("key: short id") << true << u"uploads/0123/a.pdf"_s << u""_s;
    }
    void clientNames() {
        QFETCH(bool, key);
        QFETCH(QString, raw);
        QTEST(key ? uploadIdFromKey(raw) : safeDisplayName(raw), "safe");
    }

    void checks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("typ");
        QTest::addColumn<int>("pages");

        const QByteArray pdf3 = makePdf({{{72, 700, 12, "F1", u"one"_s}},
                                         {{72, 700, 12, "F1", u"two"_s}},
                                         {{72, 700, 12, "F1", u"three"_s}}});
        const int ok = int(FileCheck::Verdict::Ok),
                  unsupported = int(FileCheck::Verdict::Unsupported),
                  unreadable = int(FileCheck::Verdict::Unreadable);
        const QByteArray docx = officePackage(m_dir, u"word/document.xml"_s, "<w:document/>");
        const QByteArray pptx =
            officePackage(m_dir, u"ppt/presentation.xml"_s, "<p:presentation/>");

        QTest::newRow("pdf") << u"a.pdf"_s << pdf3 << ok << u"pdf"_s << 3;
        QTest::newRow("pdf, upper-case extension") << u"A.PDF"_s << pdf3 << ok << u"pdf"_s << 3;
        QTest::newRow("pdf without extension") << u"scan"_s << pdf3 << ok << u"pdf"_s << 3;
        QTest::newRow("text named .pdf")
            << u"a.pdf"_s << QByteArray("hello") << unsupported << u"pdf"_s << 0;
        QTest::newRow("damaged pdf")
            << u"a.pdf"_s << QByteArray("%PDF-1.4\n1 0 obj <<>>\n") << unreadable << u"pdf"_s << 0;
        QTest::newRow("pdf cut in half")
            << u"a.pdf"_s << pdf3.left(pdf3.size() / 3) << unreadable << u"pdf"_s << 0;
        QTest::newRow("docx") << u"a.docx"_s << docx << ok << u"docx"_s << 0;
        QTest::newRow("pptx named .docx") << u"a.docx"_s << pptx << unsupported << u"docx"_s << 0;
        QTest::newRow("pdf named .docx") << u"a.docx"_s << pdf3 << unsupported << u"docx"_s << 0;
        QTest::newRow("zip start, then junk")
            << u"a.docx"_s << QByteArray("PK\x03\x04junkjunkjunk") << unreadable << u"docx"_s << 0;
        QTest::newRow("doc") << u"a.doc"_s << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1rest")
                             << ok << u"doc"_s << 0;
        QTest::newRow("markdown") << u"n.md"_s << QByteArray("# Hi\n\ntext\n") << ok
                                  << u"markdown"_s << 0;
        QTest::newRow("txt, utf-8")
            << u"n.txt"_s << QString::fromUtf8("héllo 你好").toUtf8() << ok << u"txt"_s << 0;
        QTest::newRow("binary named .md")
            << u"n.md"_s << QByteArray("a\0b", 3) << unsupported << u"markdown"_s << 0;
        QTest::newRow("latin-1 named .txt")
            << u"n.txt"_s << QByteArray("caf\xE9") << unsupported << u"txt"_s << 0;
        QTest::newRow("png") << u"p.png"_s << QByteArray("\x89PNG\r\n\x1A\nrest") << ok << u"png"_s
                             << 0;
        QTest::newRow("png named .jpg")
            << u"p.jpg"_s << QByteArray("\x89PNG\r\n\x1A\nrest") << unsupported << u"jpeg"_s << 0;
        QTest::newRow("unknown kind")
            << u"a.xyz"_s << QByteArray("whatever") << unsupported << u""_s << 0;
    }
    void checks() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, verdict);
        QFETCH(QString, typ);
        QFETCH(int, pages);
        const FileCheck c = checkUpload(put(QString::number(qHash(name + content)), content), name);
        QCOMPARE(int(c.verdict), verdict);
        if (verdict == int(FileCheck::Verdict::Ok) || !typ.isEmpty())
            QCOMPARE(c.typ, typ);
        QCOMPARE(c.pages, pages);
        if (verdict != int(FileCheck::Verdict::Ok))
            QVERIFY(!c.reason.isEmpty());
    }

    // An archive that would expand far beyond its size is refused before any engine opens it.
    void zipBombDisguisedAsDocx() {
        const QString types = m_dir.filePath(u"bomb-types.xml"_s);
        const QString zeros = m_dir.filePath(u"bomb-zeros"_s);
        writeFile(types, "<Types/>");
        writeFile(zeros, QByteArray(24 * 1024 * 1024, '\0'));
        const QString zip = m_dir.filePath(u"bomb.zip"_s);
        QByteArray out;
        // Stored zips cannot be bombs; deflate it with the zip tool.
        QDir().mkpath(m_dir.filePath(u"bomb/word"_s));
        QFile::copy(types, m_dir.filePath(u"bomb/[Content_Types].xml"_s));
        QFile::copy(zeros, m_dir.filePath(u"bomb/word/document.xml"_s));
        QProcess p;
        p.setWorkingDirectory(m_dir.filePath(u"bomb"_s));
        p.start(u"zip"_s, {u"-q"_s, u"-r"_s, zip, u"."_s});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFileInfo(zip).size() < 1024 * 1024);
        const FileCheck c = checkUpload(zip, u"report.docx"_s);
        QCOMPARE(int(c.verdict), int(FileCheck::Verdict::Unreadable));
        QVERIFY2(c.reason.contains(QLatin1String("expands")), qPrintable(c.reason));
        // The same archive passes when the limits allow it, so the limit is what refused it.
        ArchiveLimits generous;
        generous.maxRatio = 1u << 30;
        QCOMPARE(int(checkUpload(zip, u"report.docx"_s, generous).verdict),
                 int(FileCheck::Verdict::Ok));
    }

    void markdownFromPdf() {
        const QByteArray pdf = layoutPdf({
            {1, u"Quarterly Report"_s},
            {0,
             QStringLiteral(
                 "The first paragraph talks about revenue and growth across the northern region, "
                 "which rose sharply during the spring months.")},
            {2, u"Details"_s},
            {0, u"A second paragraph."_s},
            {-1, u"first bullet point"_s},
            {-1, u"second bullet point"_s},
            {3, u"Code"_s},
            {-2, u"int main() {"_s},
            {-2, u"    return 0;"_s},
            {-2, u"}"_s},
            {0, u"Closing words."_s},
        });
        const QString path = put(u"report.pdf"_s, pdf);
        QString error;
        const auto md = pdfToMarkdown(path, &error);
        QVERIFY2(md, qPrintable(error));
        const QStringList blocks = md->trimmed().split(u"\n\n"_s);
        const QStringList expected{
            u"# Quarterly Report"_s,
            QStringLiteral("The first paragraph talks about revenue and growth across the northern "
                           "region, which "
                           "rose sharply during the spring months."),
            u"## Details"_s,
            u"A second paragraph."_s,
            u"- first bullet point\n- second bullet point"_s,
            u"### Code"_s,
            u"```\nint main() {\n    return 0;\n}\n```"_s,
            u"Closing words."_s,
        };
        QCOMPARE(blocks, expected);
    }

    // Columns are read one after another, never zipped together, also under a full-width
    // title with rows not lined up; running headers and footers (page numbers too) are left
    // out of the body.
    void readingOrder_data() {
        QTest::addColumn<QByteArray>("pdf");
        QTest::addColumn<QString>("text");
        QList<PdfRun> two;
        QStringList left, right;
        for (int i = 0; i < 12; ++i) {
            left << u"left column line %1 with several words in it"_s.arg(i);
            right << u"right column line %1 with several words in it"_s.arg(i);
            two << PdfRun{50, 700.0 - i * 14, 10, "F1", left.last()}
                << PdfRun{320, 700.0 - i * 14, 10, "F1", right.last()};
        }
        QTest::newRow("two columns") << makePdf({two}) << (left + right).join(u' ');
        // Written row by row across the page.
        QList<PdfRun> three{{72, 740, 16, "F2", u"Reference card"_s}};
        QStringList columns[3];
        for (int i = 0; i < 14; ++i)
            for (int c = 0; c < 3; ++c) {
                columns[c] << u"column %1 entry %2 words"_s.arg(c + 1).arg(i);
                three << PdfRun{40.0 + c * 190, 700.0 - c * 4 - i * 12, 9, "F1", columns[c].last()};
            }
        QTest::newRow("three columns under a title")
            << makePdf({three})
            << (QStringList{u"Reference card"_s} + columns[0] + columns[1] + columns[2]).join(u' ');
        const char *topics[] = {"orchard", "river", "meadow", "copper", "granite"};
        QList<QList<PdfRun>> pages;
        QStringList body;
        for (int p = 1; p <= 4; ++p) {
            body << QString::fromLatin1(topics[p]) + u" is what page %1 is about."_s.arg(p);
            pages << QList<PdfRun>{{72, 760, 9, "F1", u"Debian Reference Card"_s},
                                   {72, 600, 11, "F1", body.last()},
                                   {290, 30, 9, "F1", u"Page %1 of 4"_s.arg(p)}};
        }
        QTest::newRow("running headers and footers") << makePdf(pages) << body.join(u' ');
    }
    void readingOrder() {
        QFETCH(QByteArray, pdf);
        QFETCH(QString, text);
        const auto md = pdfToMarkdown(put(QTest::currentDataTag() + u".pdf"_s, pdf), nullptr);
        QVERIFY(md);
        QCOMPARE(wordsOf(*md), wordsOf(text));
    }

    // Only what CommonMark would read as syntax is escaped, so no backslash shows in a
    // result: a section number stays "1.5", a list-like line becomes "1\\.".
    void markdownEscapesSyntax_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("markdown");
        QTest::newRow("heading-like")
            << u"# not a heading *really*"_s << u"\\# not a heading \\*really\\*"_s;
        QTest::newRow("list-like number") << u"1999. was a year"_s << u"1999\\. was a year"_s;
        QTest::newRow("section number")
            << u"1.5 Feedback and notes"_s << u"1.5 Feedback and notes"_s;
        QTest::newRow("snake case and path")
            << u"set max_pages in C:\\data"_s << u"set max_pages in C:\\data"_s;
        QTest::newRow("emphasis and tags")
            << u"_x_ <b> &amp; a < b"_s << u"\\_x\\_ \\<b> \\&amp; a < b"_s;
    }
    void markdownEscapesSyntax() {
        QFETCH(QString, line);
        QFETCH(QString, markdown);
        const QString path = put(u"syntax.pdf"_s, makePdf({{{72, 700, 11, "F1", line}}}));
        const auto md = pdfToMarkdown(path, nullptr);
        QVERIFY(md);
        QCOMPARE(md->trimmed(), markdown);
        // What a Markdown reader shows is the line as it stood in the PDF.
        const QString mdPath = m_dir.filePath(u"syntax.md"_s);
        writeFile(mdPath, md->toUtf8());
        QByteArray text;
        QCOMPARE(runTool(u"cmark-gfm"_s, {u"--to"_s, u"html"_s, mdPath}, &text), 0);
        QString shown = QString::fromUtf8(text).trimmed();
        shown.remove(u"<p>"_s).remove(u"</p>"_s);
        shown.replace(u"&lt;"_s, u"<"_s).replace(u"&gt;"_s, u">"_s).replace(u"&amp;"_s, u"&"_s);
        QCOMPARE(shown, line);
    }

    // The measure Compress is held to: words as a multiset, CJK character by character.
    void wordRecallCounts_data() {
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("actual");
        QTest::addColumn<double>("recall");
        QTest::newRow("same words, other order") << u"a b c d"_s << u"d c\nb a"_s << 1.0;
        QTest::newRow("repeats count") << u"fish fish fish fish"_s << u"fish"_s << 0.25;
        QTest::newRow("ligature garbage") << u"find office"_s << u"昀椀nd o昀昀ice"_s << 0.0;
        QTest::newRow("cjk per character") << u"日本語です"_s << u"日本 語"_s << 0.6;
        QTest::newRow("nothing expected") << u" "_s << u"anything"_s << 1.0;
    }
    void wordRecallCounts() {
        QFETCH(QString, expected);
        QFETCH(QString, actual);
        QFETCH(double, recall);
        QCOMPARE(wordRecall(expected, actual), recall);
    }

    // The service parses uploads in a child process; it must see what the
    // in-process parser sees, and a broken file only makes it say "unreadable".
    void isolatedProbeAgrees() {
        const QString good = put(u"probe-good.pdf"_s, layoutPdf({{0, u"probe"_s}}));
        const QString cut = put(u"probe-cut.pdf"_s, readFile(good).left(200));
        const QString locked = m_dir.filePath(u"probe-locked.pdf"_s);
        QCOMPARE(
            runTool(u"qpdf"_s, {u"--encrypt"_s, u"u"_s, u"o"_s, u"256"_s, u"--"_s, good, locked}),
            0);
        setIsolatedPdfProbe(QStringLiteral(QUORVEL_SERVER_BINARY));
        for (const QString &f : {good, cut, locked}) {
            const PdfInfo a = pdfInfo(f), b = pdfInfoInProcess(f);
            QCOMPARE(a.readable, b.readable);
            QCOMPARE(a.encrypted, b.encrypted);
            QCOMPARE(a.pages, b.pages);
        }
        QCOMPARE(pdfInfo(good).pages, 1);
        QVERIFY(pdfInfo(locked).encrypted);
        // A probe that dies gives "unreadable", not a wrong answer.
        setIsolatedPdfProbe(u"/bin/false"_s);
        QVERIFY(!pdfInfo(good).readable);
        setIsolatedPdfProbe(QString());
        QVERIFY(pdfInfo(good).readable);
    }

    void pdfInfoOfBrokenFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header only") << QByteArray("%PDF-1.7\n");
        QTest::newRow("random") << QByteArray(4096, '\x7f');
    }
    void pdfInfoOfBrokenFiles() {
        QFETCH(QByteArray, content);
        const QString path = put(u"broken-%1.pdf"_s.arg(content.size()), content);
        const PdfInfo info = pdfInfo(path);
        QVERIFY(!info.readable || info.pages == 0);
        QVERIFY(!pdfToMarkdown(path, nullptr) || info.readable);
    }
};

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"
