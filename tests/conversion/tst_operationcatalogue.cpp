#include "conversion/OperationCatalogue.h"

#include <QTest>

using namespace quorvel;
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
        QTest::newRow("PDF to DOC") << "PDF to DOC" << pdf << "PDF"
                                    << "PDF2DOC" << true << ".docx";
        QTest::newRow("PDF to PPTX") << "PDF to PPTX" << pdf << "PDF"
                                     << "PDF2PPTX" << true << ".pptx";
        QTest::newRow("PDF to IMG") << "PDF to IMG" << pdf << "PDF"
                                    << "PDF2IMG" << true << ".zip";
        QTest::newRow("PDF to MD") << "PDF to MD" << pdf << "PDF"
                                   << "PDF2MD" << true << ".md";
        QTest::newRow("DOCX to PDF") << "DOCX to PDF" << QStringList{"docx", "doc"} << "DOCX/DOC"
                                     << "DOCX2PDF" << true << ".pdf";
        QTest::newRow("PPTX to PDF") << "PPTX to PDF" << QStringList{"pptx", "ppt"} << "PPTX/PPT"
                                     << "PPTX2PDF" << true << ".pdf";
        QTest::newRow("MD to PDF")
            << "MD to PDF" << QStringList{"md", "markdown", "txt"} << "MD/TXT等文本"
            << "MD2PDF" << true << ".pdf";
        QTest::newRow("Compress") << "Compress" << pdf << "PDF"
                                  << "COMPRESS" << true << ".pdf";
        QTest::newRow("IMG to PDF")
            << "IMG to PDF" << QStringList{"jpg", "jpeg", "png", "gif", "bmp", "tiff"}
            << "JPG/PNG/GIF等图片"
            << "IMG2PDF" << true << ".pdf";
        QTest::newRow("Protect") << "Protect" << pdf << "PDF"
                                 << "PROTECT" << true << ".pdf";
        QTest::newRow("Unlock") << "Unlock" << pdf << "PDF"
                                << "UNLOCK" << true << ".pdf";
        // Codes the reverse rule forms that the result table does not know.
        QTest::newRow("DOC to PDF") << "DOC to PDF" << QStringList{"docx", "doc"} << "DOCX/DOC"
                                    << "DOC2PDF" << true << ".docx";
        QTest::newRow("PPT to PDF") << "PPT to PDF" << QStringList{"pptx", "ppt"} << "PPTX/PPT"
                                    << "PPT2PDF" << true << ".docx";
        QTest::newRow("empty name") << "" << QStringList() << "未知"
                                    << "" << false << ".docx";
        QTest::newRow("lower-case name") << "pdf to doc" << QStringList() << "未知"
                                         << "PDFTODOC" << false << ".docx";
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
        QTest::newRow("lower-case history code") << "pdf2img"
                                                 << ".zip";
        QTest::newRow("pdf2docx") << "PDF2DOCX"
                                  << ".docx";
        QTest::newRow("md2pdf") << "md2pdf"
                                << ".pdf";
        QTest::newRow("unknown code") << "pdf2txt"
                                      << ".docx";
        QTest::newRow("empty") << ""
                               << ".docx";
    }
    void resultExtensionByCode() {
        QFETCH(QString, code);
        QFETCH(QString, extension);
        QCOMPARE(C::resultExtension(code), extension);
    }

    void typeCodeRules_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("code");
        QTest::newRow("first word of a reverse name") << "  HEIC   to PDF"
                                                      << "HEIC2PDF";
        QTest::newRow("no first word") << "to PDF"
                                       << "to2PDF";
        QTest::newRow("forward with spaces") << "PDF to Word Doc"
                                             << "PDF2WORDDOC";
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
        QTest::newRow("pages for DOCX")
            << "DOCX to PDF"
            << "a.pages"
            << "Attention please，'DOCX to PDF'Functional needDOCX/DOCFormat the file, but you "
               "chosepagesFormat。\n\nPlease re-select the appropriate file.";
        QTest::newRow("no extension")
            << "PDF to DOC"
            << "/tmp/README"
            << "Attention please，'PDF to DOC'Functional needPDFFormat the file, but you "
               "choseFormat。\n\nPlease re-select the appropriate file.";
        QTest::newRow("upper-case extension")
            << "IMG to PDF"
            << "/x/Scan.WEBP"
            << "Attention please，'IMG to PDF'Functional needJPG/PNG/GIF等图片Format the file, but "
               "you chosewebpFormat。\n\nPlease re-select the appropriate file.";
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
        QTest::newRow("upper case") << "Report.PDF"
                                    << "pdf";
        QTest::newRow("double") << "a.tar.GZ"
                                << "gz";
        QTest::newRow("dot in folder") << "/home/x.y/readme"
                                       << "";
        QTest::newRow("trailing dot") << "name."
                                      << "";
        QTest::newRow("hidden file") << ".bashrc"
                                     << "bashrc";
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
        QTest::newRow("pdf for PDF to DOC") << "PDF to DOC"
                                            << "a.pdf" << true;
        QTest::newRow("docx for PDF to DOC") << "PDF to DOC"
                                             << "a.docx" << false;
        QTest::newRow("docx") << "DOCX to PDF"
                              << "a.docx" << true;
        QTest::newRow("doc") << "DOCX to PDF"
                             << "a.doc" << true;
        QTest::newRow("ppt") << "PPTX to PDF"
                             << "a.ppt" << true;
        QTest::newRow("webp offered, refused later") << "IMG to PDF"
                                                     << "scan.webp" << true;
        QTest::newRow("text file for MD") << "MD to PDF"
                                          << "notes.txt" << true;
        QTest::newRow("any file for DOC to PDF") << "DOC to PDF"
                                                 << "x.bin" << true;
        QTest::newRow("any file for unknown") << ""
                                              << "x.bin" << true;
    }
    void pickerAndDropTypes() {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QFETCH(bool, allowed);
        QCOMPARE(C::isContentTypeAllowed(name, file), allowed);
        QVERIFY(!C::allowedContentTypes(name).isEmpty());
        QVERIFY(!C::fileDialogNameFilters(name).isEmpty());
    }

    void offeredOperations() {
        QCOMPARE(C::offeredOperations(),
                 (QStringList{"PDF to DOC", "PDF to PPTX", "PDF to IMG", "PDF to MD", "DOCX to PDF",
                              "PPTX to PDF", "MD to PDF", "Compress"}));
        QCOMPARE(C::fileDialogNameFilters(QStringLiteral("")), QStringList{"All files (*)"});
    }
};

QTEST_GUILESS_MAIN(TestOperationCatalogue)
#include "tst_operationcatalogue.moc"
