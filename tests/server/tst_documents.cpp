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

namespace {

// A minimal but well-formed package: [Content_Types].xml plus the main part.
QByteArray officePackage(const QTemporaryDir &dir, const QString &mainPart,
                         const QByteArray &mainContent) {
    const QString types = dir.filePath(QStringLiteral("types.xml"));
    const QString main = dir.filePath(QStringLiteral("main.xml"));
    writeFile(types, "<Types/>");
    writeFile(main, mainContent);
    const QString zip = dir.filePath(QStringLiteral("pkg-%1.zip").arg(qHash(mainPart)));
    writeZip(zip, {types, main}, {QStringLiteral("[Content_Types].xml"), mainPart});
    return readFile(zip);
}

} // namespace

class TestDocuments : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString put(const QString &name, const QByteArray &data) {
        const QString p = m_dir.filePath(QStringLiteral("upload-") + name);
        writeFile(p, data);
        return p;
    }

private slots:
    void operations_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("accepts");
        QTest::newRow("PDF2DOC") << "PDF2DOC" << true << "docx"
                                 << "pdf";
        QTest::newRow("lower case") << "pdf2img" << true << "zip"
                                    << "pdf";
        QTest::newRow("PDF2DOCX") << "PDF2DOCX" << true << "docx"
                                  << "pdf";
        QTest::newRow("PDF2PPTX") << "PDF2PPTX" << true << "pptx"
                                  << "pdf";
        QTest::newRow("PDF2MD") << "PDF2MD" << true << "md"
                                << "pdf";
        QTest::newRow("DOC2PDF") << "DOC2PDF" << true << "pdf"
                                 << "doc";
        QTest::newRow("PPTX2PDF") << "PPTX2PDF" << true << "pdf"
                                  << "ppt";
        QTest::newRow("MD2PDF") << "MD2PDF" << true << "pdf"
                                << "txt";
        QTest::newRow("IMG2PDF") << "IMG2PDF" << true << "pdf"
                                 << "jpeg";
        QTest::newRow("COMPRESS") << "Compress" << true << "pdf"
                                  << "pdf";
        QTest::newRow("PROTECT") << "PROTECT" << true << "pdf"
                                 << "pdf";
        QTest::newRow("unknown") << "PDF2TXT" << false << ""
                                 << "";
        QTest::newRow("empty") << "" << false << ""
                               << "";
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

    void displayNames_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("safe");
        QTest::newRow("plain") << "Report.PDF"
                               << "Report.PDF";
        QTest::newRow("retry mark kept") << "a.pdf【retry】"
                                         << "a.pdf【retry】";
        QTest::newRow("path") << "../../etc/passwd"
                              << "passwd";
        QTest::newRow("windows path") << "C:\\x\\y.docx"
                                      << "y.docx";
        QTest::newRow("controls") << "a\r\nb\t.md"
                                  << "a__b_.md";
        QTest::newRow("dot dot") << ".."
                                 << "upload";
        QTest::newRow("empty") << ""
                               << "upload";
        QTest::newRow("quote kept") << "say \"hi\".pdf"
                                    << "say \"hi\".pdf";
    }
    void displayNames() {
        QFETCH(QString, raw);
        QFETCH(QString, safe);
        QCOMPARE(safeDisplayName(raw), safe);
    }

    void uploadKeys_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("id");
        QTest::newRow("ours") << "uploads/0123456789abcdef0123456789abcdef/a.pdf"
                              << "0123456789abcdef0123456789abcdef";
        QTest::newRow("retry name") << "uploads/0123456789abcdef0123456789abcdef/a.pdf【retry】"
                                    << "0123456789abcdef0123456789abcdef";
        QTest::newRow("filesystem path") << "/etc/passwd"
                                         << "";
        QTest::newRow("traversal") << "uploads/../../x"
                                   << "";
        QTest::newRow("short id") << "uploads/0123/a.pdf"
                                  << "";
    }
    void uploadKeys() {
        QFETCH(QString, key);
        QFETCH(QString, id);
        QCOMPARE(uploadIdFromKey(key), id);
    }

    void checks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("typ");
        QTest::addColumn<int>("pages");

        const QByteArray pdf3 = makePdf({{{72, 700, 12, "F1", QStringLiteral("one")}},
                                         {{72, 700, 12, "F1", QStringLiteral("two")}},
                                         {{72, 700, 12, "F1", QStringLiteral("three")}}});
        const int ok = int(FileCheck::Verdict::Ok),
                  unsupported = int(FileCheck::Verdict::Unsupported),
                  unreadable = int(FileCheck::Verdict::Unreadable);
        const QByteArray docx =
            officePackage(m_dir, QStringLiteral("word/document.xml"), "<w:document/>");
        const QByteArray pptx =
            officePackage(m_dir, QStringLiteral("ppt/presentation.xml"), "<p:presentation/>");

        QTest::newRow("pdf") << "a.pdf" << pdf3 << ok << "pdf" << 3;
        QTest::newRow("pdf, upper-case extension") << "A.PDF" << pdf3 << ok << "pdf" << 3;
        QTest::newRow("pdf without extension") << "scan" << pdf3 << ok << "pdf" << 3;
        QTest::newRow("text named .pdf")
            << "a.pdf" << QByteArray("hello") << unsupported << "pdf" << 0;
        QTest::newRow("damaged pdf")
            << "a.pdf" << QByteArray("%PDF-1.4\n1 0 obj <<>>\n") << unreadable << "pdf" << 0;
        QTest::newRow("pdf cut in half")
            << "a.pdf" << pdf3.left(pdf3.size() / 3) << unreadable << "pdf" << 0;
        QTest::newRow("docx") << "a.docx" << docx << ok << "docx" << 0;
        QTest::newRow("pptx") << "a.pptx" << pptx << ok << "pptx" << 0;
        QTest::newRow("pptx named .docx") << "a.docx" << pptx << unsupported << "docx" << 0;
        QTest::newRow("pdf named .docx") << "a.docx" << pdf3 << unsupported << "docx" << 0;
        QTest::newRow("text named .docx")
            << "a.docx" << QByteArray("plain words") << unsupported << "docx" << 0;
        QTest::newRow("zip start, then junk")
            << "a.docx" << QByteArray("PK\x03\x04junkjunkjunk") << unreadable << "docx" << 0;
        QTest::newRow("doc") << "a.doc" << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1rest") << ok
                             << "doc" << 0;
        QTest::newRow("markdown") << "n.md" << QByteArray("# Hi\n\ntext\n") << ok << "markdown"
                                  << 0;
        QTest::newRow(".markdown") << "n.markdown" << QByteArray("text") << ok << "markdown" << 0;
        QTest::newRow("txt, utf-8")
            << "n.txt" << QString::fromUtf8("héllo 你好").toUtf8() << ok << "txt" << 0;
        QTest::newRow("binary named .md")
            << "n.md" << QByteArray("a\0b", 3) << unsupported << "markdown" << 0;
        QTest::newRow("latin-1 named .txt")
            << "n.txt" << QByteArray("caf\xE9") << unsupported << "txt" << 0;
        QTest::newRow("png") << "p.png" << QByteArray("\x89PNG\r\n\x1A\nrest") << ok << "png" << 0;
        QTest::newRow("jpg") << "p.jpg" << QByteArray("\xFF\xD8\xFF\xE0rest") << ok << "jpeg" << 0;
        QTest::newRow("png named .jpg")
            << "p.jpg" << QByteArray("\x89PNG\r\n\x1A\nrest") << unsupported << "jpeg" << 0;
        QTest::newRow("unknown kind")
            << "a.xyz" << QByteArray("whatever") << unsupported << "" << 0;
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
        const QString types = m_dir.filePath(QStringLiteral("bomb-types.xml"));
        const QString zeros = m_dir.filePath(QStringLiteral("bomb-zeros"));
        writeFile(types, "<Types/>");
        writeFile(zeros, QByteArray(24 * 1024 * 1024, '\0'));
        const QString zip = m_dir.filePath(QStringLiteral("bomb.zip"));
        QByteArray out;
        // Stored zips cannot be bombs; deflate it with the zip tool.
        QDir().mkpath(m_dir.filePath(QStringLiteral("bomb/word")));
        QFile::copy(types, m_dir.filePath(QStringLiteral("bomb/[Content_Types].xml")));
        QFile::copy(zeros, m_dir.filePath(QStringLiteral("bomb/word/document.xml")));
        QProcess p;
        p.setWorkingDirectory(m_dir.filePath(QStringLiteral("bomb")));
        p.start(QStringLiteral("zip"),
                {QStringLiteral("-q"), QStringLiteral("-r"), zip, QStringLiteral(".")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFileInfo(zip).size() < 1024 * 1024);
        const FileCheck c = checkUpload(zip, QStringLiteral("report.docx"));
        QCOMPARE(int(c.verdict), int(FileCheck::Verdict::Unreadable));
        QVERIFY2(c.reason.contains(QLatin1String("expands")), qPrintable(c.reason));
        // The same archive passes when the limits allow it, so the limit is what refused it.
        ArchiveLimits generous;
        generous.maxRatio = 1u << 30;
        QCOMPARE(int(checkUpload(zip, QStringLiteral("report.docx"), generous).verdict),
                 int(FileCheck::Verdict::Ok));
    }

    void encryptedPdf() {
        const QString plain =
            put(QStringLiteral("plain.pdf"), layoutPdf({{0, QStringLiteral("secret words")}}));
        const QString locked = m_dir.filePath(QStringLiteral("locked.pdf"));
        QCOMPARE(
            runTool(QStringLiteral("qpdf"),
                    {QStringLiteral("--encrypt"), QStringLiteral("user"), QStringLiteral("owner"),
                     QStringLiteral("256"), QStringLiteral("--"), plain, locked}),
            0);
        const FileCheck c = checkUpload(locked, QStringLiteral("locked.pdf"));
        QCOMPARE(int(c.verdict), int(FileCheck::Verdict::Ok));
        QVERIFY(c.encrypted);
        QString error;
        QVERIFY(!pdfToMarkdown(locked, &error));
        QVERIFY(error.contains(QLatin1String("password")));
    }

    void markdownFromPdf() {
        const QByteArray pdf = layoutPdf({
            {1, QStringLiteral("Quarterly Report")},
            {0,
             QStringLiteral(
                 "The first paragraph talks about revenue and growth across the northern region, "
                 "which rose sharply during the spring months.")},
            {2, QStringLiteral("Details")},
            {0, QStringLiteral("A second paragraph.")},
            {-1, QStringLiteral("first bullet point")},
            {-1, QStringLiteral("second bullet point")},
            {3, QStringLiteral("Code")},
            {-2, QStringLiteral("int main() {")},
            {-2, QStringLiteral("    return 0;")},
            {-2, QStringLiteral("}")},
            {0, QStringLiteral("Closing words.")},
        });
        const QString path = put(QStringLiteral("report.pdf"), pdf);
        QString error;
        const auto md = pdfToMarkdown(path, &error);
        QVERIFY2(md, qPrintable(error));
        const QStringList blocks = md->trimmed().split(QStringLiteral("\n\n"));
        const QStringList expected{
            QStringLiteral("# Quarterly Report"),
            QStringLiteral("The first paragraph talks about revenue and growth across the northern "
                           "region, which "
                           "rose sharply during the spring months."),
            QStringLiteral("## Details"),
            QStringLiteral("A second paragraph."),
            QStringLiteral("- first bullet point\n- second bullet point"),
            QStringLiteral("### Code"),
            QStringLiteral("```\nint main() {\n    return 0;\n}\n```"),
            QStringLiteral("Closing words."),
        };
        QCOMPARE(blocks, expected);
    }

    void tableRowsBecomeATable() {
        QList<PdfRun> page{{72, 720, 11, "F1", QStringLiteral("Yields by region:")}};
        const QStringList rows[] = {{QStringLiteral("Region"), QStringLiteral("Yield")},
                                    {QStringLiteral("North"), QStringLiteral("42")},
                                    {QStringLiteral("South"), QStringLiteral("37")}};
        double y = 690;
        for (const QStringList &r : rows) {
            const QByteArray font = r[0] == QLatin1String("Region") ? "F2" : "F1";
            page << PdfRun{72, y, 11, font, r[0]} << PdfRun{200, y, 11, font, r[1]};
            y -= 16;
        }
        page << PdfRun{72, y - 20, 11, "F1", QStringLiteral("After the table.")};
        const auto md = pdfToMarkdown(put(QStringLiteral("table.pdf"), makePdf({page})), nullptr);
        QVERIFY(md);
        QCOMPARE(md->trimmed(),
                 QStringLiteral("Yields by region:\n\n| Region | Yield |\n|---|---|\n"
                                "| North | 42 |\n| South | 37 |\n\nAfter the table."));
    }

    // Two columns of prose side by side are read column by column, never zipped together.
    void columnsStayApart() {
        QList<PdfRun> page;
        QStringList left, right;
        for (int i = 0; i < 12; ++i) {
            left << QStringLiteral("left column line %1 with several words in it").arg(i);
            right << QStringLiteral("right column line %1 with several words in it").arg(i);
            page << PdfRun{50, 700.0 - i * 14, 10, "F1", left.last()}
                 << PdfRun{320, 700.0 - i * 14, 10, "F1", right.last()};
        }
        const auto md = pdfToMarkdown(put(QStringLiteral("columns.pdf"), makePdf({page})), nullptr);
        QVERIFY(md);
        QCOMPARE(wordsOf(*md), wordsOf(left.join(QLatin1Char(' ')) + QLatin1Char(' ') +
                                       right.join(QLatin1Char(' '))));
    }

    void markdownAcrossPagesKeepsOrder() {
        QList<PdfBlock> blocks;
        QStringList words;
        for (int i = 0; i < 60; ++i) {
            const QString text =
                QStringLiteral("Paragraph number %1 carries several plain words to fill the "
                               "lines of the page with text.")
                    .arg(i);
            blocks << PdfBlock{0, text};
            words << wordsOf(text);
        }
        const QString path = put(QStringLiteral("long.pdf"), layoutPdf(blocks));
        QVERIFY(pdfInfo(path).pages >= 3);
        const auto md = pdfToMarkdown(path, nullptr);
        QVERIFY(md);
        QCOMPARE(wordsOf(*md), words);
        QCOMPARE(md->count(QStringLiteral("\n\n")), 59);
    }

    void markdownEscapesSyntax() {
        const QString path =
            put(QStringLiteral("syntax.pdf"),
                makePdf({{{72, 700, 11, "F1", QStringLiteral("# not a heading *really*")},
                          {72, 600, 11, "F1", QStringLiteral("1999. was a year")}}}));
        const auto md = pdfToMarkdown(path, nullptr);
        QVERIFY(md);
        QVERIFY2(md->contains(QStringLiteral("\\# not a heading \\*really\\*")), qPrintable(*md));
        QVERIFY2(md->contains(QStringLiteral("\\1999. was a year")), qPrintable(*md));
    }

    // The service parses uploads in a child process; it must see what the
    // in-process parser sees, and a broken file only makes it say "unreadable".
    void isolatedProbeAgrees() {
        const QString good =
            put(QStringLiteral("probe-good.pdf"), layoutPdf({{0, QStringLiteral("probe")}}));
        const QString cut = put(QStringLiteral("probe-cut.pdf"), readFile(good).left(200));
        const QString locked = m_dir.filePath(QStringLiteral("probe-locked.pdf"));
        QCOMPARE(runTool(QStringLiteral("qpdf"),
                         {QStringLiteral("--encrypt"), QStringLiteral("u"), QStringLiteral("o"),
                          QStringLiteral("256"), QStringLiteral("--"), good, locked}),
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
        setIsolatedPdfProbe(QStringLiteral("/bin/false"));
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
        const QString path = put(QStringLiteral("broken-%1.pdf").arg(content.size()), content);
        const PdfInfo info = pdfInfo(path);
        QVERIFY(!info.readable || info.pages == 0);
        QVERIFY(!pdfToMarkdown(path, nullptr) || info.readable);
    }
};

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"
