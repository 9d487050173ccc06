#include "conversion/OperationCatalogue.h"

#include <QTest>

using namespace quorvel;
using namespace Qt::StringLiterals;
namespace C = quorvel::OperationCatalogue;

class TestOperationCatalogue : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rows_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("accepted");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("needsJob");
        QTest::addColumn<QString>("resultExtension");
        const QStringList pdf{"pdf"};
        QTest::newRow("PDF to DOC")
            << u"PDF to DOC"_s << pdf << u"PDF"_s << u"PDF2DOC"_s << true << u".docx"_s;
        QTest::newRow("MD to PDF") << u"MD to PDF"_s << QStringList{"md", "markdown", "txt"}
                                   << u"MD/TXT等文本"_s << u"MD2PDF"_s << true << u".pdf"_s;
        // Codes the reverse rule forms that the result table does not know.
        QTest::newRow("DOC to PDF") << u"DOC to PDF"_s << QStringList{"docx", "doc"}
                                    << u"DOCX/DOC"_s << u"DOC2PDF"_s << true << u".docx"_s;
        QTest::newRow("empty name")
            << u""_s << QStringList() << u"未知"_s << u""_s << false << u".docx"_s;
        QTest::newRow("lower-case name") << u"pdf to doc"_s << QStringList() << u"未知"_s
                                         << u"PDFTODOC"_s << false << u".docx"_s;
    }
    void rows() {
        QFETCH(QString, name);
        QFETCH(QStringList, accepted);
        QFETCH(QString, description);
        QFETCH(QString, code);
        QFETCH(bool, needsJob);
        QFETCH(QString, resultExtension);
        QCOMPARE(C::acceptedFormatDescription(name), description);
        QCOMPARE(C::conversionTypeCode(name), code);
        QCOMPARE(C::needsConversion(name), needsJob);
        QCOMPARE(C::resultExtension(C::conversionTypeCode(name)), resultExtension);
        const QStringList probes{"pdf", "docx", "doc",  "pptx",  "ppt", "md",  "markdown",
                                 "txt", "jpg",  "jpeg", "png",   "gif", "bmp", "tiff",
                                 "tif", "webp", "heic", "pages", ""};
        for (const QString &ext : probes) {
            // An unlisted name accepts every extension, the empty one included.
            const bool expected = accepted.isEmpty() ? true : accepted.contains(ext);
            QVERIFY2(C::isExtensionAccepted(name, ext) == expected, qPrintable(name + " / " + ext));
        }
    }

    // The catalogue's answers of one argument: a code's result extension, a name's type code
    // and a file's extension.
    void oneArgumentRules_data() {
        QTest::addColumn<int>("rule");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *tag, int rule, const QString &in, const QString &out) {
            QTest::newRow(tag) << rule << in << out;
        };
        row("lower-case history code", 0, u"pdf2img"_s, u".zip"_s);
        row("unknown code", 0, u"pdf2txt"_s, u".docx"_s);
        row("empty code", 0, u""_s, u".docx"_s);
        row("first word of a reverse name", 1, u"  HEIC   to PDF"_s, u"HEIC2PDF"_s);
        row("no first word", 1, u"to PDF"_s, u"to2PDF"_s);
        row("forward with spaces", 1, u"PDF to Word Doc"_s, u"PDF2WORDDOC"_s);
        row("upper-case extension", 2, u"Report.PDF"_s, u"pdf"_s);
        row("double extension", 2, u"a.tar.GZ"_s, u"gz"_s);
        row("dot in folder", 2, u"/home/x.y/readme"_s, u""_s);
        row("trailing dot", 2, u"name."_s, u""_s);
        row("hidden file", 2, u".bashrc"_s, u"bashrc"_s);
    }
    void oneArgumentRules() {
        QFETCH(int, rule);
        QFETCH(QString, input);
        QString (*const rules[])(const QString &) = {C::resultExtension, C::conversionTypeCode,
                                                     C::fileExtension};
        QTEST(rules[rule](input), "expected");
    }

    void alertText_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text");
        const QString again = u"\n\nPlease re-select the appropriate file."_s;
        QTest::newRow("one format")
            << u"PDF to DOC"_s << u"/x/notes.md"_s
            << u"“PDF to DOC” needs a PDF file, but you chose an MD file."_s + again;
        QTest::newRow("no extension")
            << u"PDF to DOC"_s << u"/tmp/README"_s
            << u"“PDF to DOC” needs a PDF file, but you chose a file without an extension."_s +
                   again;
        QTest::newRow("two formats, upper-case extension")
            << u"DOCX to PDF"_s << u"/x/Scan.WEBP"_s
            << u"“DOCX to PDF” needs a DOCX or DOC file, but you chose a WEBP file."_s + again;
        QTest::newRow("several formats")
            << u"IMG to PDF"_s << u"/x/a.svg"_s
            << u"“IMG to PDF” needs a JPG, JPEG, PNG, GIF, BMP or TIFF file, but you chose an "
               u"SVG file."_s +
                   again;
        QTest::newRow("markers stay text")
            << u"MD to PDF"_s << u"/x/a.%1"_s
            << u"“MD to PDF” needs an MD, MARKDOWN or TXT file, but you chose a %1 file."_s + again;
    }
    void alertText() {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QFETCH(QString, text);
        QCOMPARE(C::validationAlertText(name, C::fileExtension(file)), text);
    }

    void pickerAndDropTypes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("pdf for PDF to DOC") << u"PDF to DOC"_s << u"a.pdf"_s << true;
        QTest::newRow("docx for PDF to DOC") << u"PDF to DOC"_s << u"a.docx"_s << false;
        QTest::newRow("webp offered, refused later") << u"IMG to PDF"_s << u"scan.webp"_s << true;
        QTest::newRow("text file for MD") << u"MD to PDF"_s << u"notes.txt"_s << true;
        QTest::newRow("any file for unknown") << u""_s << u"x.bin"_s << true;
    }
    void pickerAndDropTypes() {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QFETCH(bool, allowed);
        QCOMPARE(C::isContentTypeAllowed(name, file), allowed);
    }
};

QTEST_GUILESS_MAIN(TestOperationCatalogue)
#include "tst_operationcatalogue.moc"
