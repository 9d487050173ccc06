// Real conversions through the service with the real engines (LibreOffice,
// poppler, Ghostscript, cmark-gfm, img2pdf), and the quality they must reach.
#include "ServerTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtEndian>

using namespace quorvel::test;

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
    return QStringLiteral("# Annual Field Report\n\n") + paragraph(1) + QStringLiteral("\n\n") +
           paragraph(4) + QStringLiteral("\n\n## Methods\n\n") + paragraph(7) +
           QStringLiteral(
               "\n\n- first item about the northern meadow\n- second item about copper wire\n\n") +
           paragraph(10) + QStringLiteral("\n\n## Results\n\n") + paragraph(13) +
           QStringLiteral("\n\n| Region | Yield |\n|---|---|\n| North | 42 |\n| South | 37 |\n\n") +
           QStringLiteral(
               "### Code Sample\n\n```\ndef harvest(rows):\n    return sum(rows)\n```\n\n") +
           paragraph(16) + QStringLiteral("\n\n## Conclusion\n\n") + paragraph(19) +
           QStringLiteral("\n\n") + paragraph(22) + QStringLiteral("\n\n") + paragraph(25) +
           QStringLiteral("\n");
}

QStringList headingsOf(const QString &markdown) {
    QStringList out;
    static const QRegularExpression h(QStringLiteral("^#{1,6}\\s+(.*)$"),
                                      QRegularExpression::MultilineOption);
    auto it = h.globalMatch(markdown);
    while (it.hasNext())
        out << it.next().captured(1).trimmed();
    return out;
}

QString pdfText(const QString &path) {
    QByteArray out;
    runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")}, &out);
    return QString::fromUtf8(out);
}

int pdfPages(const QString &path) {
    QByteArray out;
    if (runTool(QStringLiteral("pdfinfo"), {path}, &out) != 0)
        return -1;
    const auto m =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromLatin1(out));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QByteArray zipEntry(const QString &zip, const QString &entry) {
    QByteArray out;
    runTool(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, entry}, &out);
    return out;
}

QStringList zipNames(const QString &zip) {
    QByteArray out;
    runTool(QStringLiteral("unzip"), {QStringLiteral("-Z1"), zip}, &out);
    return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Text of each paragraph of a WordprocessingML body.
QStringList docxParagraphs(const QByteArray &documentXml) {
    QStringList out;
    static const QRegularExpression para(QStringLiteral("<w:p[ >].*?</w:p>"),
                                         QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression text(QStringLiteral("<w:t(?: [^>]*)?>([^<]*)</w:t>"));
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
        const QString id = job.value(QStringLiteral("id")).toString();
        if (jobId)
            *jobId = id;
        const QJsonObject done = m_svc->waitForJob(m_token, id, 180000);
        if (done.value(QStringLiteral("status")).toInt() != 1)
            return {};
        auto r = m_svc->get(QStringLiteral("/api/v2/docx?md5_id=") + id, m_token);
        if (!r || r->status != 200)
            return {};
        const QString path = m_dir.filePath(
            id + QLatin1Char('.') + done.value(QStringLiteral("result_file_typ")).toString());
        writeFile(path, QByteArray::fromStdString(r->body));
        return path;
    }

private slots:
    void initTestCase() {
        m_svc = std::make_unique<TestService>(2, 64 * 1024 * 1024);
        m_token = m_svc->addUserAndLogin(QStringLiteral("engines@example.org"), 10000);
    }
    void cleanupTestCase() { m_svc.reset(); }

    void markdownToPdfKeepsTablesAndCode() {
        const QString md = sourceMarkdown();
        m_mdPdf = convert(QStringLiteral("report.md"), md.toUtf8(), QStringLiteral("MD2PDF"));
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
        const QString mdPath =
            convert(QStringLiteral("report.pdf"), readFile(m_mdPdf), QStringLiteral("PDF2MD"));
        QVERIFY(!mdPath.isEmpty());
        const QString back = QString::fromUtf8(readFile(mdPath));
        const QStringList gotHeadings = headingsOf(back);
        for (const QString &h : headingsOf(sourceMarkdown()))
            QVERIFY2(gotHeadings.contains(h),
                     qPrintable(h + QStringLiteral(" missing in:\n") + back));
        // The table comes back as a table, the code as a code block.
        QVERIFY2(back.contains(QStringLiteral("| Region | Yield |\n|---|---|\n| North | 42 |")),
                 qPrintable(back));
        QVERIFY(
            back.contains(QStringLiteral("```\ndef harvest(rows):\n    return sum(rows)\n```")));
        const double share = inOrderShare(wordsOf(sourceMarkdown()), wordsOf(back));
        qInfo("round trip keeps %.1f %% of the words in order", share * 100);
        QVERIFY2(share >= 0.95, qPrintable(back));
    }

    // PDF → DOCX: flowing paragraphs and heading styles, ≥ 98 % of pdftotext's words.
    void pdfToDocxIsFlowingText() {
        QVERIFY(!m_mdPdf.isEmpty());
        const QString docx =
            convert(QStringLiteral("report.pdf"), readFile(m_mdPdf), QStringLiteral("PDF2DOC"));
        QVERIFY(!docx.isEmpty());
        const QByteArray xml = zipEntry(docx, QStringLiteral("word/document.xml"));
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
            pages << QList<PdfRun>{
                {72, 700, 28, "F2", QStringLiteral("Slide title %1").arg(i)},
                {72, 600, 14, "F1", QStringLiteral("bullet text number %1").arg(i)}};
        const QString pptx =
            convert(QStringLiteral("deck.pdf"), makePdf(pages), QStringLiteral("PDF2PPTX"));
        QVERIFY(!pptx.isEmpty());
        const QStringList names = zipNames(pptx);
        QVERIFY(names.contains(QStringLiteral("ppt/presentation.xml")));
        for (int i = 1; i <= 3; ++i) {
            const QByteArray slide =
                zipEntry(pptx, QStringLiteral("ppt/slides/slide%1.xml").arg(i));
            QVERIFY2(QString::fromUtf8(slide).contains(QStringLiteral("Slide title %1").arg(i)) ||
                         wordsOf(QString::fromUtf8(slide)).contains(QStringLiteral("title")),
                     qPrintable(QString::number(i)));
        }
        QVERIFY(!names.contains(QStringLiteral("ppt/slides/slide4.xml")));
        const QString pdf =
            convert(QStringLiteral("deck.pptx"), readFile(pptx), QStringLiteral("PPTX2PDF"));
        QVERIFY(!pdf.isEmpty());
        QCOMPARE(pdfPages(pdf), 3);
        QVERIFY(pdfText(pdf).contains(QLatin1String("number 2")));
    }

    void wordDocumentsToPdf() {
        const QString html = m_dir.filePath(QStringLiteral("letter.html"));
        writeFile(html,
                  "<html><body><h1>Dear committee</h1><p>The orchard survey is finished.</p>"
                  "<p style=\"page-break-before: always\">Second page text.</p></body></html>");
        const QString profile =
            QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("lo-profile"))).toString();
        for (const QString &fmt :
             {QStringLiteral("docx:MS Word 2007 XML"), QStringLiteral("doc:MS Word 97")}) {
            QCOMPARE(runTool(QStringLiteral("soffice"),
                             {QStringLiteral("-env:UserInstallation=") + profile,
                              QStringLiteral("--headless"),
                              QStringLiteral("--infilter=HTML (StarWriter)"),
                              QStringLiteral("--convert-to"), fmt, QStringLiteral("--outdir"),
                              m_dir.path(), html},
                             nullptr, 180000),
                     0);
        }
        const QString docxPdf = convert(QStringLiteral("letter.DOCX"),
                                        readFile(m_dir.filePath(QStringLiteral("letter.docx"))),
                                        QStringLiteral("DOCX2PDF"));
        QVERIFY(!docxPdf.isEmpty());
        QCOMPARE(pdfPages(docxPdf), 2);
        QVERIFY(pdfText(docxPdf).contains(QLatin1String("orchard survey")));
        const QString docPdf = convert(QStringLiteral("letter.doc"),
                                       readFile(m_dir.filePath(QStringLiteral("letter.doc"))),
                                       QStringLiteral("doc2pdf"));
        QVERIFY(!docPdf.isEmpty());
        QVERIFY(pdfText(docPdf).contains(QLatin1String("Dear committee")));
    }

    void pdfToImagesOnePngPerPage() {
        const QString zip = convert(QStringLiteral("three.pdf"),
                                    layoutPdf({{1, QStringLiteral("One")},
                                               {0, paragraph(3).repeated(12)},
                                               {1, QStringLiteral("End")}}),
                                    QStringLiteral("PDF2IMG"));
        QVERIFY(!zip.isEmpty());
        const QStringList names = zipNames(zip);
        QVERIFY(names.size() >= 2);
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(names[i], QStringLiteral("page-%1.png").arg(i + 1, 3, 10, QLatin1Char('0')));
            const QByteArray png = zipEntry(zip, names[i]);
            QVERIFY(png.startsWith("\x89PNG\r\n\x1A\n"));
            const quint32 width = qFromBigEndian<quint32>(png.constData() + 16);
            QCOMPARE(width, 1275u); // 8.5 in at 150 dpi
        }
    }

    void compressShrinksImagesAndKeepsLeanFiles() {
        const QByteArray heavy = imagePdf();
        const QString small =
            convert(QStringLiteral("scan.pdf"), heavy, QStringLiteral("COMPRESS"));
        QVERIFY(!small.isEmpty());
        QCOMPARE(pdfPages(small), 1);
        QVERIFY2(QFileInfo(small).size() < heavy.size() / 4,
                 qPrintable(QString::number(QFileInfo(small).size())));

        const QByteArray lean = makePdf({{{72, 700, 12, "F1", QStringLiteral("lean")}}});
        const QString kept = convert(QStringLiteral("lean.pdf"), lean, QStringLiteral("COMPRESS"));
        QVERIFY(!kept.isEmpty());
        QVERIFY(QFileInfo(kept).size() <= lean.size());
    }

    void imagesToPdfEmbedsJpegAsIs() {
        const QString src = m_dir.filePath(QStringLiteral("img-src.pdf"));
        writeFile(src, layoutPdf({{1, QStringLiteral("Picture")}}));
        QCOMPARE(
            runTool(QStringLiteral("pdftoppm"),
                    {QStringLiteral("-jpeg"), QStringLiteral("-r"), QStringLiteral("40"),
                     QStringLiteral("-singlefile"), src, m_dir.filePath(QStringLiteral("photo"))}),
            0);
        const QByteArray jpeg = readFile(m_dir.filePath(QStringLiteral("photo.jpg")));
        QVERIFY(jpeg.startsWith("\xFF\xD8\xFF"));
        const QString pdf = convert(QStringLiteral("photo.jpg"), jpeg, QStringLiteral("IMG2PDF"));
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
        const QString token = slow.addUserAndLogin(QStringLiteral("slow@example.org"), 100000);
        QList<PdfBlock> blocks;
        for (int i = 0; i < 400; ++i)
            blocks << PdfBlock{0, paragraph(i)};
        const QJsonObject up = slow.upload(token, QStringLiteral("long.pdf"), layoutPdf(blocks));
        QVERIFY(up.value(QStringLiteral("page_number")).toInt() > 20);
        const QJsonObject job = slow.convert(token, up, QStringLiteral("PDF2IMG"));
        const QJsonObject done =
            slow.waitForJob(token, job.value(QStringLiteral("id")).toString(), 60000);
        QCOMPARE(done.value(QStringLiteral("status")).toInt(), 2);
        auto q = slow.db->exec(QStringLiteral("SELECT failure FROM jobs WHERE id=?"),
                               {job.value(QStringLiteral("id"))});
        QVERIFY(q.next());
        QVERIFY2(q.value(0).toString().contains(QLatin1String("time limit")),
                 qPrintable(q.value(0).toString()));
        // The engine and its directory are gone once the worker is done with the job.
        QTRY_VERIFY_WITH_TIMEOUT(QDir(slow.config.dataDir + QStringLiteral("/work")).isEmpty(),
                                 10000);
    }
};

QTEST_GUILESS_MAIN(TestEngines)
#include "tst_engines.moc"
