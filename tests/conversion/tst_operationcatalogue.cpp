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

    void resultExtensionByCode_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("extension");
        QTest::newRow("lower-case history code") << u"pdf2img"_s << u".zip"_s;
        QTest::newRow("unknown code") << u"pdf2txt"_s << u".docx"_s;
        QTest::newRow("empty") << u""_s << u".docx"_s;
    }
    void resultExtensionByCode() {
        QFETCH(QString, code);
        QFETCH(QString, extension);
        QCOMPARE(C::resultExtension(code), extension);
    }

    void typeCodeRules_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("code");
        QTest::newRow("first word of a reverse name") << u"  HEIC   to PDF"_s << u"HEIC2PDF"_s;
        QTest::newRow("no first word") << u"to PDF"_s << u"to2PDF"_s;
        QTest::newRow("forward with spaces") << u"PDF to Word Doc"_s << u"PDF2WORDDOC"_s;
    }
    void typeCodeRules() {
        QFETCH(QString, name);
        QFETCH(QString, code);
        QCOMPARE(C::conversionTypeCode(name), code);
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

    void fileExtension_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("extension");
        QTest::newRow("upper case") << u"Report.PDF"_s << u"pdf"_s;
        QTest::newRow("double") << u"a.tar.GZ"_s << u"gz"_s;
        QTest::newRow("dot in folder") << u"/home/x.y/readme"_s << u""_s;
        QTest::newRow("trailing dot") << u"name."_s << u""_s;
        QTest::newRow("hidden file") << u".bashrc"_s << u"bashrc"_s;
    }
    void fileExtension() {
        QFETCH(QString, file);
        QFETCH(QString, extension);
        QCOMPARE(C::fileExtension(file), extension);
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
