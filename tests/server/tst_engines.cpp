// Real conversions through the service with the real engines (LibreOffice,
// poppler, Ghostscript, cmark-gfm, img2pdf), and the quality they must reach.
#include "PdfText.h"
#include "ServerTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtEndian>

using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

const char *kVocabulary[] = {"river",   "harvest",  "northern", "meadow",  "survey",  "lantern",
                             "copper",  "orchard",  "valley",   "granite", "weather", "station",
                             "record",  "seasonal", "market",   "bridge",  "careful", "measure",
                             "village", "council",  "budget",   "summer",  "winter",  "planting",
                             "yield",   "soil",     "water",    "level",   "report",  "finding"};

QString sentence(int seed, int words) {
    QStringList w;
    for (int i = 0; i < words; ++i)
        w << QString::fromLatin1(kVocabulary[(seed * 7 + i * 13 + i * i) % 30]);
    w[0][0] = w[0][0].toUpper();
    return w.join(QLatin1Char(' ')) + QLatin1Char('.');
}

QString paragraph(int seed) {
    return sentence(seed, 14) + QLatin1Char(' ') + sentence(seed + 1, 11) + QLatin1Char(' ') +
           sentence(seed + 2, 16);
}

QString sourceMarkdown() {
    return u"# Annual Field Report\n\n"_s + paragraph(1) + u"\n\n"_s + paragraph(4) +
           u"\n\n## Methods\n\n"_s + paragraph(7) +
           QStringLiteral(
               "\n\n- first item about the northern meadow\n- second item about copper wire\n\n") +
           paragraph(10) + u"\n\n## Results\n\n"_s + paragraph(13) +
           u"\n\n| Region | Yield |\n|---|---|\n| North | 42 |\n| South | 37 |\n\n"_s +
           QStringLiteral(
               "### Code Sample\n\n```\ndef harvest(rows):\n    return sum(rows)\n```\n\n") +
           paragraph(16) + u"\n\n## Conclusion\n\n"_s + paragraph(19) + u"\n\n"_s + paragraph(22) +
           u"\n\n"_s + paragraph(25) + u"\n"_s;
}

QStringList headingsOf(const QString &markdown) {
    QStringList out;
    static const QRegularExpression h(u"^#{1,6}\\s+(.*)$"_s, QRegularExpression::MultilineOption);
    auto it = h.globalMatch(markdown);
    while (it.hasNext())
        out << it.next().captured(1).trimmed();
    return out;
}

// Text of each paragraph of a WordprocessingML body.
QStringList docxParagraphs(const QByteArray &documentXml) {
    QStringList out;
    static const QRegularExpression para(u"<w:p[ >].*?</w:p>"_s,
                                         QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression text(u"<w:t(?: [^>]*)?>([^<]*)</w:t>"_s);
    auto it = para.globalMatch(QString::fromUtf8(documentXml));
    while (it.hasNext()) {
        QString p;
        auto t = text.globalMatch(it.next().captured(0));
        while (t.hasNext())
            p += t.next().captured(1);
        if (!p.trimmed().isEmpty())
            out << p;
    }
    return out;
}

} // namespace

class TestEngines : public QObject {
    Q_OBJECT
    std::unique_ptr<TestService> m_svc;
    QString m_token;
    QTemporaryDir m_dir;
    QString m_mdPdf; // MD2PDF's result, the input of later cases

    // Uploads, converts, waits; returns the saved result's path ("" when the job failed).
    QString convert(const QString &name, const QByteArray &content, const QString &typ,
                    QString *jobId = nullptr) {
        int status = 0;
        const QJsonObject up = m_svc->upload(m_token, name, content, &status);
        if (status != 200)
            return {};
        const QJsonObject job = m_svc->convert(m_token, up, typ, &status);
        if (status != 200)
            return {};
        const QString id = job.value(u"id"_s).toString();
        if (jobId)
            *jobId = id;
        const QJsonObject done = m_svc->waitForJob(m_token, id, 180000);
        if (done.value(u"status"_s).toInt() != 1)
            return {};
        auto r = m_svc->get(u"/api/v2/docx?md5_id="_s + id, m_token);
        if (!r || r->status != 200)
            return {};
        const QString path =
            m_dir.filePath(id + QLatin1Char('.') + done.value(u"result_file_typ"_s).toString());
        writeFile(path, QByteArray::fromStdString(r->body));
        return path;
    }

private slots:
    void initTestCase() {
        m_svc = std::make_unique<TestService>(2, 64 * 1024 * 1024);
        m_token = m_svc->addUserAndLogin(u"engines@example.org"_s, 10000);
    }
    void cleanupTestCase() { m_svc.reset(); }

    void markdownToPdfKeepsTablesAndCode() {
        const QString md = sourceMarkdown();
        m_mdPdf = convert(u"report.md"_s, md.toUtf8(), u"MD2PDF"_s);
        QVERIFY(!m_mdPdf.isEmpty());
        QVERIFY(pdfPages(m_mdPdf) >= 1);
        const QString text = pdfText(m_mdPdf);
        for (const char *s : {"Annual Field Report", "Region", "North", "42",
                              "def harvest(rows):", "return sum(rows)"})
            QVERIFY2(text.contains(QString::fromUtf8(s)), s);
        QVERIFY(!text.contains(QLatin1String("|---|"))); // rendered as a table, not as source text
        QVERIFY(!text.contains(QLatin1String("```")));
    }

    // Markdown → PDF → Markdown: every heading back, ≥ 95 % of the words in order.
    void roundTripThroughPdf() {
        QVERIFY(!m_mdPdf.isEmpty());
        const QString mdPath = convert(u"report.pdf"_s, readFile(m_mdPdf), u"PDF2MD"_s);
        QVERIFY(!mdPath.isEmpty());
        const QString back = QString::fromUtf8(readFile(mdPath));
        const QStringList gotHeadings = headingsOf(back);
        for (const QString &h : headingsOf(sourceMarkdown()))
            QVERIFY2(gotHeadings.contains(h), qPrintable(h + u" missing in:\n"_s + back));
        // The table comes back as a table, the code as a code block.
        QVERIFY2(back.contains(u"| Region | Yield |\n|---|---|\n| North | 42 |"_s),
                 qPrintable(back));
        QVERIFY(back.contains(u"```\ndef harvest(rows):\n    return sum(rows)\n```"_s));
        const double share = inOrderShare(wordsOf(sourceMarkdown()), wordsOf(back));
        qInfo("round trip keeps %.1f %% of the words in order", share * 100);
        QVERIFY2(share >= 0.95, qPrintable(back));
    }

    // PDF → DOCX: flowing paragraphs and heading styles, ≥ 98 % of pdftotext's words.
    void pdfToDocxIsFlowingText() {
        QVERIFY(!m_mdPdf.isEmpty());
        const QString docx = convert(u"report.pdf"_s, readFile(m_mdPdf), u"PDF2DOC"_s);
        QVERIFY(!docx.isEmpty());
        const QByteArray xml = zipEntry(docx, u"word/document.xml"_s);
        QVERIFY(!xml.isEmpty());
        for (const char *frame : {"w:framePr", "txbxContent", "wps:wsp", "v:textbox"})
            QVERIFY2(!xml.contains(frame), frame);
        QVERIFY(xml.contains("w:val=\"Heading1\"") || xml.contains("w:val=\"Heading 1\""));
        QVERIFY(xml.contains("<w:tbl>")); // the table is a real table
        const QStringList paras = docxParagraphs(xml);
        QVERIFY2(paras.size() >= 15, qPrintable(QString::number(paras.size())));
        const double share =
            inOrderShare(wordsOf(pdfText(m_mdPdf)), wordsOf(paras.join(QLatin1Char('\n'))));
        qInfo("PDF2DOC keeps %.1f %% of pdftotext's words in order", share * 100);
        QVERIFY(share >= 0.98);
    }

    void pdfToPptxAndBack() {
        QList<QList<PdfRun>> pages;
        for (int i = 1; i <= 3; ++i)
            pages << QList<PdfRun>{{72, 700, 28, "F2", u"Slide title %1"_s.arg(i)},
                                   {72, 600, 14, "F1", u"bullet text number %1"_s.arg(i)}};
        const QString pptx = convert(u"deck.pdf"_s, makePdf(pages), u"PDF2PPTX"_s);
        QVERIFY(!pptx.isEmpty());
        const QStringList names = zipNames(pptx);
        QVERIFY(names.contains(u"ppt/presentation.xml"_s));
        for (int i = 1; i <= 3; ++i) {
            const QByteArray slide = zipEntry(pptx, u"ppt/slides/slide%1.xml"_s.arg(i));
            QVERIFY2(QString::fromUtf8(slide).contains(u"Slide title %1"_s.arg(i)) ||
                         wordsOf(QString::fromUtf8(slide)).contains(u"title"_s),
                     qPrintable(QString::number(i)));
        }
        QVERIFY(!names.contains(u"ppt/slides/slide4.xml"_s));
        const QString pdf = convert(u"deck.pptx"_s, readFile(pptx), u"PPTX2PDF"_s);
        QVERIFY(!pdf.isEmpty());
        QCOMPARE(pdfPages(pdf), 3);
        QVERIFY(pdfText(pdf).contains(QLatin1String("number 2")));
    }

    // A deck too large for LibreOffice's PDF import is refused at once, saying why,
    // instead of failing after minutes of work.
    void pdfToPptxTooLargeRefusedAtOnce() {
        const QJsonObject up = m_svc->upload(m_token, u"huge.pdf"_s, textPdf(401));
        QCOMPARE(up.value(u"page_number"_s).toInt(), 401);
        QElapsedTimer timer;
        timer.start();
        const QJsonObject job = m_svc->convert(m_token, up, u"PDF2PPTX"_s);
        const QJsonObject done = m_svc->waitForJob(m_token, job.value(u"id"_s).toString(), 60000);
        QCOMPARE(done.value(u"status"_s).toInt(), 2);
        QVERIFY2(done.value(u"fail_reason"_s)
                     .toString()
                     .startsWith(u"too large for the engine's memory"_s),
                 qPrintable(done.value(u"fail_reason"_s).toString()));
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    }

    void wordDocumentsToPdf() {
        const QString html = m_dir.filePath(u"letter.html"_s);
        writeFile(html,
                  "<html><body><h1>Dear committee</h1><p>The orchard survey is finished.</p>"
                  "<p style=\"page-break-before: always\">Second page text.</p></body></html>");
        const QString profile = QUrl::fromLocalFile(m_dir.filePath(u"lo-profile"_s)).toString();
        for (const QString &fmt : {u"docx:MS Word 2007 XML"_s, u"doc:MS Word 97"_s}) {
            QCOMPARE(runTool(u"soffice"_s,
                             {u"-env:UserInstallation="_s + profile, u"--headless"_s,
                              u"--infilter=HTML (StarWriter)"_s, u"--convert-to"_s, fmt,
                              u"--outdir"_s, m_dir.path(), html},
                             nullptr, 180000),
                     0);
        }
        const QString docxPdf =
            convert(u"letter.DOCX"_s, readFile(m_dir.filePath(u"letter.docx"_s)), u"DOCX2PDF"_s);
        QVERIFY(!docxPdf.isEmpty());
        QCOMPARE(pdfPages(docxPdf), 2);
        QVERIFY(pdfText(docxPdf).contains(QLatin1String("orchard survey")));
        const QString docPdf =
            convert(u"letter.doc"_s, readFile(m_dir.filePath(u"letter.doc"_s)), u"doc2pdf"_s);
        QVERIFY(!docPdf.isEmpty());
        QVERIFY(pdfText(docPdf).contains(QLatin1String("Dear committee")));
    }

    // Names carry as many digits as the last page needs, so they sort in page order.
    void pdfToImagesOnePngPerPage() {
        const QString zip = convert(u"ten.pdf"_s, textPdf(10), u"PDF2IMG"_s);
        QVERIFY(!zip.isEmpty());
        const QStringList names = zipNames(zip);
        QCOMPARE(names.size(), 10);
        QCOMPARE(names.first(), u"page-01.png"_s);
        QCOMPARE(names.last(), u"page-10.png"_s);
        QStringList sorted = names;
        sorted.sort();
        QCOMPARE(sorted, names);
        for (const QString &name : names) {
            const QByteArray png = zipEntry(zip, name);
            QVERIFY(png.startsWith("\x89PNG\r\n\x1A\n"));
            const quint32 width = qFromBigEndian<quint32>(png.constData() + 16);
            QCOMPARE(width, 1275u); // 8.5 in at 150 dpi
        }
    }

    qint64 consumedPages() {
        return dataOf(m_svc->get(u"/api/v1/tollan/convertapi/page_balance"_s, m_token))
            .value(u"consumed_pages"_s)
            .toInteger();
    }

    void compressShrinksImages() {
        const QByteArray heavy = imagePdf();
        const QString small = convert(u"scan.pdf"_s, heavy, u"COMPRESS"_s);
        QVERIFY(!small.isEmpty());
        QCOMPARE(pdfPages(small), 1);
        QVERIFY2(QFileInfo(small).size() < heavy.size() / 4,
                 qPrintable(QString::number(QFileInfo(small).size())));
    }

    // Every word stays extractable: ligatures ("fi", "ff"), Cyrillic and CJK included,
    // which Ghostscript's newer PDF reader turns into CJK garbage.
    void compressKeepsText() {
        const QString md = u"# Офисные файлы 1.5\n\nThe office staff find fifty fine fish in "
                           u"the field, officially.\n\nПервый абзац о финансах и официальных "
                           u"документах.\n\n日本語のテキストは検索できる必要があります。"
                           u"中文文本也必须可以复制和搜索。\n"_s;
        const QString pdf = convert(u"scripts.md"_s, md.toUtf8(), u"MD2PDF"_s);
        QVERIFY(!pdf.isEmpty());
        const QString small = convert(u"scripts.pdf"_s, readFile(pdf), u"COMPRESS"_s);
        QVERIFY(!small.isEmpty());
        QCOMPARE(pdfPages(small), pdfPages(pdf));
        QVERIFY(QFileInfo(small).size() <= QFileInfo(pdf).size());
        const double recall = quorvel::server::wordRecall(pdfText(pdf), pdfText(small));
        QVERIFY2(recall >= 0.99, qPrintable(pdfText(small)));
    }

    // Nothing smaller that keeps the text: the original comes back, uncharged.
    void compressReturnsLeanFilesFree() {
        // A compressed file compressed again cannot get smaller.
        const QString once =
            convert(u"lean.pdf"_s, makePdf({{{72, 700, 12, "F1", u"lean"_s}}}), u"COMPRESS"_s);
        QVERIFY(!once.isEmpty());
        const QByteArray lean = readFile(once);
        const qint64 before = consumedPages();
        QString id;
        const QString kept = convert(u"lean.pdf"_s, lean, u"COMPRESS"_s, &id);
        QVERIFY(!kept.isEmpty());
        QCOMPARE(readFile(kept), lean);
        QCOMPARE(consumedPages(), before);
        // and says so
        const QString note = m_svc->waitForJob(m_token, id).value(u"note"_s).toString();
        QVERIFY2(note.contains(u"no pages are charged"_s), qPrintable(note));
    }

    // A scan reads as text: a text PDF rendered to an image and back, with no text layer.
    void scannedPdfReadByOcr_data() {
        QTest::addColumn<QString>("typ");
        QTest::newRow("markdown") << u"PDF2MD"_s;
        QTest::newRow("word") << u"PDF2DOC"_s;
    }
    void scannedPdfReadByOcr() {
        QFETCH(QString, typ);
        const QString text = m_dir.filePath(u"typed.pdf"_s);
        writeFile(text, layoutPdf({{1, u"Field Survey"_s}, {0, paragraph(1)}, {0, paragraph(4)}}));
        const QString scan = m_dir.filePath(u"scan.pdf"_s);
        if (!QFileInfo::exists(scan)) {
            QCOMPARE(runTool(u"pdftoppm"_s, {u"-r"_s, u"150"_s, u"-png"_s, u"-singlefile"_s, text,
                                             m_dir.filePath(u"scan"_s)}),
                     0);
            QCOMPARE(runTool(u"img2pdf"_s, {m_dir.filePath(u"scan.png"_s), u"-o"_s, scan}), 0);
            QCOMPARE(pdfText(scan).trimmed(), QString());
        }
        const QString result = convert(u"scan.pdf"_s, readFile(scan), typ);
        QVERIFY(!result.isEmpty());
        const QString got =
            typ == u"PDF2MD"_s
                ? QString::fromUtf8(readFile(result))
                : docxParagraphs(zipEntry(result, u"word/document.xml"_s)).join(QLatin1Char('\n'));
        const double recall = quorvel::server::wordRecall(pdfText(text), got);
        qInfo("OCR keeps %.1f %% of the words", recall * 100);
        QVERIFY2(recall >= 0.8, qPrintable(got));
    }

    // A placed picture stays where it stood, between the text above and below it.
    void pdfToDocxKeepsImagesInPlace() {
        const QString text = m_dir.filePath(u"around.pdf"_s);
        writeFile(text, makePdf({{{72, 700, 12, "F1", u"Before the picture comes this line."_s},
                                  {72, 150, 12, "F1", u"After the picture comes this one."_s}}}));
        const QString picture = m_dir.filePath(u"picture-only.pdf"_s);
        writeFile(picture, imagePdf());
        const QString both = m_dir.filePath(u"with-picture.pdf"_s);
        QCOMPARE(runTool(u"qpdf"_s, {text, u"--overlay"_s, picture, u"--"_s, both}), 0);
        const QString docx = convert(u"with-picture.pdf"_s, readFile(both), u"PDF2DOC"_s);
        QVERIFY(!docx.isEmpty());
        QVERIFY(zipNames(docx).filter(u"word/media/"_s).size() == 1);
        const QByteArray xml = zipEntry(docx, u"word/document.xml"_s);
        const qsizetype before = xml.indexOf("Before the picture"),
                        drawing = xml.indexOf("<w:drawing"),
                        after = xml.indexOf("After the picture");
        QVERIFY2(before >= 0 && before < drawing && drawing < after, xml.constData());
        QVERIFY(!xml.contains("r:link=")); // inside the document, not linked
    }

    // A page with a picture and no text (a cover's logo) keeps its picture; a page-sized
    // picture is a scan, which its text stands for.
    void pictureOfTextlessPageKept() {
        const QString picture = m_dir.filePath(u"big-picture.pdf"_s);
        writeFile(picture, imagePdf());
        QCOMPARE(runTool(u"pdftoppm"_s, {u"-r"_s, u"10"_s, u"-png"_s, u"-singlefile"_s, picture,
                                         m_dir.filePath(u"logo"_s)}),
                 0);
        const QString cover = m_dir.filePath(u"cover.pdf"_s);
        QCOMPARE(runTool(u"img2pdf"_s, {u"--pagesize"_s, u"A4"_s, u"--imgsize"_s, u"6cmx6cm"_s,
                                        m_dir.filePath(u"logo.png"_s), u"-o"_s, cover}),
                 0);
        const QString text = m_dir.filePath(u"after-cover.pdf"_s);
        writeFile(text, makePdf({{{72, 700, 12, "F1", u"The first page after the cover."_s}}}));
        const QString both = m_dir.filePath(u"with-cover.pdf"_s);
        QCOMPARE(runTool(u"qpdf"_s, {u"--empty"_s, u"--pages"_s, cover, text, u"--"_s, both}), 0);
        const QString docx = convert(u"with-cover.pdf"_s, readFile(both), u"PDF2DOC"_s);
        QVERIFY(!docx.isEmpty());
        QCOMPARE(zipNames(docx).filter(u"word/media/"_s).size(), 1);
        QVERIFY(zipText(docx, u"word/document.xml"_s).contains(u"after the cover"_s));
    }

    // A page OCR reads nothing on is named in the completed job's note.
    void unreadPagesNoted() {
        const QString text = m_dir.filePath(u"one-text-page.pdf"_s);
        writeFile(text, makePdf({{{72, 700, 12, "F1", u"A page with words on it."_s}}}));
        const QString picture = m_dir.filePath(u"one-picture-page.pdf"_s);
        writeFile(picture, imagePdf());
        const QString both = m_dir.filePath(u"text-then-picture.pdf"_s);
        QCOMPARE(runTool(u"qpdf"_s, {u"--empty"_s, u"--pages"_s, text, picture, u"--"_s, both}), 0);
        QString id;
        QVERIFY(!convert(u"mixed.pdf"_s, readFile(both), u"PDF2MD"_s, &id).isEmpty());
        const QString note = m_svc->waitForJob(m_token, id).value(u"note"_s).toString();
        QVERIFY2(note.contains(u"no text found on page(s) 2"_s), qPrintable(note));
    }

    // A picture with no text in it is no document to read: the job fails and says why.
    void imageWithoutTextFails() {
        const qint64 before = consumedPages();
        const QJsonObject up = m_svc->upload(m_token, u"picture.pdf"_s, imagePdf());
        const QJsonObject job = m_svc->convert(m_token, up, u"PDF2MD"_s);
        const QJsonObject done = m_svc->waitForJob(m_token, job.value(u"id"_s).toString(), 120000);
        QCOMPARE(done.value(u"status"_s).toInt(), 2);
        QCOMPARE(done.value(u"fail_reason"_s).toString(), u"no text found"_s);
        QCOMPARE(consumedPages(), before);
    }

    void imagesToPdfEmbedsJpegAsIs() {
        const QString src = m_dir.filePath(u"img-src.pdf"_s);
        writeFile(src, layoutPdf({{1, u"Picture"_s}}));
        QCOMPARE(runTool(u"pdftoppm"_s, {u"-jpeg"_s, u"-r"_s, u"40"_s, u"-singlefile"_s, src,
                                         m_dir.filePath(u"photo"_s)}),
                 0);
        const QByteArray jpeg = readFile(m_dir.filePath(u"photo.jpg"_s));
        QVERIFY(jpeg.startsWith("\xFF\xD8\xFF"));
        const QString pdf = convert(u"photo.jpg"_s, jpeg, u"IMG2PDF"_s);
        QVERIFY(!pdf.isEmpty());
        QCOMPARE(pdfPages(pdf), 1);
        QVERIFY(readFile(pdf).contains(jpeg));
    }

    // A conversion over its time limit ends failed, and its engine is gone.
    void timeLimitFailsTheJob() {
        TestService slow(1, 64 * 1024 * 1024, {}, [](quorvel::server::Config &c) {
            c.jobTimeBase = std::chrono::seconds(1);
            c.jobTimePerPage = std::chrono::seconds(0);
            c.jobTimeMax = std::chrono::seconds(1);
        });
        const QString token = slow.addUserAndLogin(u"slow@example.org"_s, 100000);
        QList<PdfBlock> blocks;
        for (int i = 0; i < 400; ++i)
            blocks << PdfBlock{0, paragraph(i)};
        const QJsonObject up = slow.upload(token, u"long.pdf"_s, layoutPdf(blocks));
        QVERIFY(up.value(u"page_number"_s).toInt() > 20);
        const QJsonObject job = slow.convert(token, up, u"PDF2IMG"_s);
        const QJsonObject done = slow.waitForJob(token, job.value(u"id"_s).toString(), 60000);
        QCOMPARE(done.value(u"status"_s).toInt(), 2);
        const auto rows = slow.store->query(u"SELECT failure FROM jobs WHERE id=?"_s,
                                            {job.value(u"id"_s).toString()});
        QCOMPARE(rows.size(), 1u);
        QVERIFY2(rows[0][0].toString().contains(QLatin1String("time limit")),
                 qPrintable(rows[0][0].toString()));
        // The engine and its directory are gone once the worker is done with the job.
        QTRY_VERIFY_WITH_TIMEOUT(QDir(slow.config.dataDir + u"/work"_s).isEmpty(), 10000);
    }
};

QTEST_GUILESS_MAIN(TestEngines)
#include "tst_engines.moc"
