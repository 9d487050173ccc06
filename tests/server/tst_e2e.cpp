// The whole client against the real service: quorvel-cli signs in, converts
// with each of the eight tool operations and downloads the results, which must
// be valid documents carrying the source's content; the page balance moves by
// the pages converted.
#include "ServerTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace quorvel::test;

namespace {

int pdfPages(const QString &path) {
    QByteArray out;
    if (runTool(QStringLiteral("pdfinfo"), {path}, &out) != 0)
        return -1;
    const auto m =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromLatin1(out));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString pdfText(const QString &path) {
    QByteArray out;
    runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")}, &out);
    return QString::fromUtf8(out);
}

QStringList zipNames(const QString &zip) {
    QByteArray out;
    if (runTool(QStringLiteral("unzip"), {QStringLiteral("-Z1"), zip}, &out) != 0)
        return {};
    return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString zipText(const QString &zip, const QString &pattern) {
    QByteArray out;
    runTool(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, pattern}, &out);
    // Paragraph ends become line breaks, so words of adjacent paragraphs stay apart.
    return QString::fromUtf8(out)
        .replace(QRegularExpression(QStringLiteral("</(?:w|a):p>")), QStringLiteral("\n"))
        .remove(QRegularExpression(QStringLiteral("<[^>]*>")));
}

const QString kReportHeading1 = QStringLiteral("Harbour Survey");
const QString kReportHeading2 = QStringLiteral("Second Section");
const QString kReportPara1 = QStringLiteral(
    "The harbour survey counted boats, cranes and warehouses along the eastern quay.");
const QString kReportPara2 =
    QStringLiteral("Tides were measured every hour during the first week of October.");

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_server;
    int m_port = 0;
    QProcessEnvironment m_env;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    int cli(const QStringList &args, QByteArray *out = nullptr, const QByteArray &input = {},
            QByteArray *err = nullptr, int timeoutMs = 240000) {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(QStringLiteral(QUORVEL_CLI_BINARY), args);
        if (!p.waitForStarted())
            return -1;
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (out)
            *out = p.readAllStandardOutput();
        const QByteArray e = p.readAllStandardError();
        if (err)
            *err = e;
        if (p.exitCode() != 0)
            qWarning("quorvel-cli %s: %s", qPrintable(args.join(QLatin1Char(' '))), e.constData());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    qint64 consumedPages() {
        QByteArray out;
        if (cli({QStringLiteral("--json"), QStringLiteral("balance")}, &out) != 0)
            return -1;
        return QJsonDocument::fromJson(out)
            .object()
            .value(QStringLiteral("consumed_pages"))
            .toInteger(-1);
    }

    void makeDocuments() {
        // Two pages, so page counts are tested too.
        QList<QList<PdfRun>> two{
            {{72, 700, 22, "F2", kReportHeading1}, {72, 660, 11, "F1", kReportPara1}},
            {{72, 700, 17, "F2", kReportHeading2}, {72, 660, 11, "F1", kReportPara2}}};
        writeFile(path(QStringLiteral("report.pdf")), makePdf(two));
        writeFile(path(QStringLiteral("notes.md")),
                  "# Meeting Notes\n\nThe committee agreed on the budget.\n\n## Actions\n\n- paint "
                  "the bridge\n- "
                  "repair the lantern\n\n| Item | Cost |\n|---|---|\n| paint | 40 |\n");
        writeFile(path(QStringLiteral("scan.pdf")), imagePdf());
        writeFile(
            path(QStringLiteral("letter.html")),
            "<html><body><h1>Dear members</h1><p>The orchard survey is finished.</p>"
            "<p style=\"page-break-before: always\">Second page of the letter.</p></body></html>");
        const QString profile = QStringLiteral("-env:UserInstallation=") +
                                QUrl::fromLocalFile(path(QStringLiteral("lo-profile"))).toString();
        QCOMPARE(
            runTool(QStringLiteral("soffice"),
                    {profile, QStringLiteral("--headless"),
                     QStringLiteral("--infilter=HTML (StarWriter)"), QStringLiteral("--convert-to"),
                     QStringLiteral("docx:MS Word 2007 XML"), QStringLiteral("--outdir"),
                     m_dir.path(), path(QStringLiteral("letter.html"))},
                    nullptr, 180000),
            0);
        QDir().mkpath(path(QStringLiteral("deck")));
        QCOMPARE(runTool(QStringLiteral("soffice"),
                         {profile, QStringLiteral("--headless"),
                          QStringLiteral("--infilter=impress_pdf_import"),
                          QStringLiteral("--convert-to"),
                          QStringLiteral("pptx:Impress MS PowerPoint 2007 XML"),
                          QStringLiteral("--outdir"), path(QStringLiteral("deck")),
                          path(QStringLiteral("report.pdf"))},
                         nullptr, 180000),
                 0);
        QVERIFY(QFile::rename(path(QStringLiteral("deck/report.pptx")),
                              path(QStringLiteral("deck.pptx"))));
        QVERIFY(QFileInfo(path(QStringLiteral("letter.docx"))).size() > 0);
    }

private slots:
    void initTestCase() {
        const QString data = path(QStringLiteral("data"));
        QProcess add;
        add.start(QStringLiteral(QUORVEL_SERVER_BINARY),
                  {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("e2e@example.org"),
                   QStringLiteral("--pages"), QStringLiteral("500"), QStringLiteral("--data"), data,
                   QStringLiteral("--password-stdin")});
        QVERIFY(add.waitForStarted());
        add.write("e2e secret\n");
        add.closeWriteChannel();
        QVERIFY(add.waitForFinished(30000));
        QCOMPARE(add.exitCode(), 0);

        m_server.setStandardErrorFile(path(QStringLiteral("server.log")));
        m_server.start(QStringLiteral(QUORVEL_SERVER_BINARY),
                       {QStringLiteral("serve"), QStringLiteral("--listen"),
                        QStringLiteral("127.0.0.1:0"), QStringLiteral("--data"), data,
                        QStringLiteral("--workers"), QStringLiteral("2")});
        QVERIFY(m_server.waitForStarted());
        QElapsedTimer t;
        t.start();
        while (m_port == 0 && t.elapsed() < 20000 && m_server.waitForReadyRead(500)) {
            const QByteArray line = m_server.readLine().trimmed();
            if (line.startsWith("listening "))
                m_port = line.mid(10).toInt();
        }
        QVERIFY(m_port > 0);

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("QUORVEL_API_ORIGIN"),
                     QStringLiteral("http://127.0.0.1:%1").arg(m_port));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        m_env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        m_env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("client-tmp")));
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QDir().mkpath(path(QStringLiteral("home")));
        QDir().mkpath(path(QStringLiteral("client-tmp")));
        makeDocuments();
    }

    void cleanupTestCase() {
        m_server.terminate();
        m_server.waitForFinished(30000);
    }

    void wrongPasswordIsRefused() {
        QByteArray err;
        QCOMPARE(cli({QStringLiteral("login"), QStringLiteral("e2e@example.org"),
                      QStringLiteral("--password-stdin")},
                     nullptr, "not it\n", &err),
                 1);
        QVERIFY2(err.contains("Invalid email or password"), err.constData());
    }

    void allEightOperations() {
        QCOMPARE(cli({QStringLiteral("login"), QStringLiteral("e2e@example.org"),
                      QStringLiteral("--password-stdin")},
                     nullptr, "e2e secret\n"),
                 0);
        const qint64 before = consumedPages();
        QVERIFY(before >= 0);

        struct Case {
            QString operation, file, result;
        };
        const QList<Case> cases{
            {QStringLiteral("PDF to DOC"), QStringLiteral("report.pdf"),
             QStringLiteral("report.docx")},
            {QStringLiteral("PDF to PPTX"), QStringLiteral("report.pdf"),
             QStringLiteral("report.pptx")},
            {QStringLiteral("PDF to IMG"), QStringLiteral("report.pdf"),
             QStringLiteral("report.zip")},
            {QStringLiteral("PDF to MD"), QStringLiteral("report.pdf"),
             QStringLiteral("report.md")},
            {QStringLiteral("DOCX to PDF"), QStringLiteral("letter.docx"),
             QStringLiteral("letter.pdf")},
            {QStringLiteral("PPTX to PDF"), QStringLiteral("deck.pptx"),
             QStringLiteral("deck.pdf")},
            {QStringLiteral("MD to PDF"), QStringLiteral("notes.md"), QStringLiteral("notes.pdf")},
            {QStringLiteral("Compress"), QStringLiteral("scan.pdf"), QStringLiteral("scan.pdf")},
        };
        // All eight at once, as several users' windows would: the queue and both workers are
        // exercised.
        std::vector<std::unique_ptr<QProcess>> runs;
        for (const Case &c : cases) {
            const QString dir =
                path(QStringLiteral("out-") +
                     QString(c.operation).replace(QLatin1Char(' '), QLatin1Char('-')));
            QDir().mkpath(dir);
            auto p = std::make_unique<QProcess>();
            p->setProcessEnvironment(m_env);
            p->start(QStringLiteral(QUORVEL_CLI_BINARY),
                     {QStringLiteral("--json"), QStringLiteral("convert"), c.operation,
                      path(c.file), QStringLiteral("--wait"), QStringLiteral("--download"), dir});
            runs.push_back(std::move(p));
        }
        qint64 pagesConverted = 0;
        for (int i = 0; i < cases.size(); ++i) {
            QProcess &p = *runs[size_t(i)];
            const Case &c = cases[i];
            QVERIFY2(p.waitForFinished(300000), qPrintable(c.operation));
            const QByteArray out = p.readAllStandardOutput();
            QVERIFY2(p.exitCode() == 0, qPrintable(c.operation + QStringLiteral(": ") +
                                                   QString::fromUtf8(p.readAllStandardError())));
            QJsonParseError perr{};
            const QJsonDocument doc = QJsonDocument::fromJson(out, &perr);
            QVERIFY2(perr.error == QJsonParseError::NoError, out.constData());
            const QJsonObject job = doc.isArray() ? doc.array().first().toObject() : doc.object();
            QCOMPARE(job.value(QStringLiteral("status")).toInt(), 1);
            pagesConverted += job.value(QStringLiteral("page_number")).toInteger();

            const QString dir =
                path(QStringLiteral("out-") +
                     QString(c.operation).replace(QLatin1Char(' '), QLatin1Char('-')));
            const QString result = dir + QLatin1Char('/') + c.result;
            QVERIFY2(QFileInfo(result).size() > 0,
                     qPrintable(c.operation + QStringLiteral(" saved no ") + result));
            if (c.operation == QLatin1String("PDF to DOC")) {
                QVERIFY(zipNames(result).contains(QStringLiteral("word/document.xml")));
                const QString text = zipText(result, QStringLiteral("word/document.xml"));
                QVERIFY(inOrderShare(wordsOf(kReportPara1 + QLatin1Char(' ') + kReportPara2),
                                     wordsOf(text)) >= 0.98);
            } else if (c.operation == QLatin1String("PDF to PPTX")) {
                const QStringList names = zipNames(result);
                QVERIFY(names.contains(QStringLiteral("ppt/slides/slide2.xml")));
                QVERIFY(!names.contains(QStringLiteral("ppt/slides/slide3.xml")));
                QVERIFY(wordsOf(zipText(result, QStringLiteral("ppt/slides/slide1.xml")))
                            .contains(QStringLiteral("harbour")));
            } else if (c.operation == QLatin1String("PDF to IMG")) {
                QCOMPARE(zipNames(result), (QStringList{QStringLiteral("page-001.png"),
                                                        QStringLiteral("page-002.png")}));
            } else if (c.operation == QLatin1String("PDF to MD")) {
                const QString md = QString::fromUtf8(readFile(result));
                QVERIFY2(md.contains(QStringLiteral("# ") + kReportHeading1), qPrintable(md));
                QVERIFY2(md.contains(QStringLiteral("## ") + kReportHeading2), qPrintable(md));
                QVERIFY(md.contains(kReportPara1) && md.contains(kReportPara2));
            } else if (c.operation == QLatin1String("DOCX to PDF")) {
                QCOMPARE(pdfPages(result), 2);
                QVERIFY(pdfText(result).contains(QLatin1String("orchard survey")));
            } else if (c.operation == QLatin1String("PPTX to PDF")) {
                QCOMPARE(pdfPages(result), 2);
                QVERIFY(wordsOf(pdfText(result)).contains(QStringLiteral("tides")));
            } else if (c.operation == QLatin1String("MD to PDF")) {
                QVERIFY(pdfPages(result) >= 1);
                const QString text = pdfText(result);
                QVERIFY(text.contains(QLatin1String("Meeting Notes")) &&
                        text.contains(QLatin1String("repair the lantern")));
            } else if (c.operation == QLatin1String("Compress")) {
                QCOMPARE(pdfPages(result), 1);
                QVERIFY(QFileInfo(result).size() <= QFileInfo(path(c.file)).size());
            }
        }
        QVERIFY(pagesConverted >= 14);
        QCOMPARE(consumedPages() - before, pagesConverted);

        QByteArray history;
        QCOMPARE(cli({QStringLiteral("--json"), QStringLiteral("history")}, &history), 0);
        QCOMPARE(QJsonDocument::fromJson(history).array().size(), 8);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
