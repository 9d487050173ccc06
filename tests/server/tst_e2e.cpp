// The whole client against the real service: quorvel-cli signs in, converts
// with each of the eight tool operations and downloads the results, which must
// be valid documents carrying the source's content; the page balance moves by
// the pages converted; the history lists each job with its operation's type icon.
#include "ServerTestSupport.h"
#include "history/TaskLook.h"
#include "service/Operations.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>

using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

const QString kReportHeading1 = u"Harbour Survey"_s;
const QString kReportHeading2 = u"Second Section"_s;
const QString kReportPara1 = QStringLiteral(
    "The harbour survey counted boats, cranes and warehouses along the eastern quay.");
const QString kReportPara2 = u"Tides were measured every hour during the first week of October."_s;

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_server;
    int m_port = 0;
    QProcessEnvironment m_env;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    int cli(const QStringList &args, QByteArray *out = nullptr, const QByteArray &input = {},
            int timeoutMs = 240000) {
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
        if (p.exitCode() != 0)
            qWarning("quorvel-cli %s: %s", qPrintable(args.join(QLatin1Char(' '))),
                     p.readAllStandardError().constData());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    qint64 consumedPages() {
        QByteArray out;
        if (cli({u"--json"_s, u"balance"_s}, &out) != 0)
            return -1;
        return QJsonDocument::fromJson(out).object().value(u"consumed_pages"_s).toInteger(-1);
    }

    void makeDocuments() {
        // Two pages, so page counts are tested too.
        QList<QList<PdfRun>> two{
            {{72, 700, 22, "F2", kReportHeading1}, {72, 660, 11, "F1", kReportPara1}},
            {{72, 700, 17, "F2", kReportHeading2}, {72, 660, 11, "F1", kReportPara2}}};
        writeFile(path(u"report.pdf"_s), makePdf(two));
        writeFile(path(u"notes.md"_s),
                  "# Meeting Notes\n\nThe committee agreed on the budget.\n\n## Actions\n\n- paint "
                  "the bridge\n- "
                  "repair the lantern\n\n| Item | Cost |\n|---|---|\n| paint | 40 |\n");
        writeFile(path(u"scan.pdf"_s), imagePdf());
        QVERIFY(!writeDocx(m_dir.path(), u"letter.docx"_s, 3).isEmpty());
        const QString profile =
            u"-env:UserInstallation="_s + QUrl::fromLocalFile(path(u"lo-profile"_s)).toString();
        QDir().mkpath(path(u"deck"_s));
        QCOMPARE(runTool(u"soffice"_s,
                         {profile, u"--headless"_s, u"--infilter=impress_pdf_import"_s,
                          u"--convert-to"_s, u"pptx:Impress MS PowerPoint 2007 XML"_s,
                          u"--outdir"_s, path(u"deck"_s), path(u"report.pdf"_s)},
                         nullptr, 180000),
                 0);
        QVERIFY(QFile::rename(path(u"deck/report.pptx"_s), path(u"deck.pptx"_s)));
    }

private slots:
    void initTestCase() {
        const QString data = path(u"data"_s);
        QVERIFY(addUserWithBinary(data, u"e2e@example.org"_s, 500, "e2e secret"));
        m_port = startServerBinary(m_server, data, path(u"server.log"_s));
        QVERIFY(m_port > 0);

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(u"QUORVEL_API_ORIGIN"_s, u"http://127.0.0.1:%1"_s.arg(m_port));
        m_env.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
        m_env.insert(u"HOME"_s, path(u"home"_s));
        m_env.insert(u"TMPDIR"_s, path(u"client-tmp"_s));
        m_env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        QDir().mkpath(path(u"home"_s));
        QDir().mkpath(path(u"client-tmp"_s));
        makeDocuments();
    }

    void cleanupTestCase() {
        m_server.terminate();
        m_server.waitForFinished(30000);
    }

    void allEightOperations() {
        QCOMPARE(
            cli({u"login"_s, u"e2e@example.org"_s, u"--password-stdin"_s}, nullptr, "e2e secret\n"),
            0);
        const qint64 before = consumedPages();
        QVERIFY(before >= 0);

        // `shows`: a word the result carries (its quality is tst_engines' to judge).
        struct Case {
            QString operation, file, result, shows;
        };
        const QList<Case> cases{
            {u"PDF to DOC"_s, u"report.pdf"_s, u"report.docx"_s, u"harbour"_s},
            {u"PDF to PPTX"_s, u"report.pdf"_s, u"report.pptx"_s, u"harbour"_s},
            {u"PDF to IMG"_s, u"report.pdf"_s, u"report.zip"_s, u"page-2.png"_s},
            {u"PDF to MD"_s, u"report.pdf"_s, u"report.md"_s, u"## "_s + kReportHeading2},
            {u"DOCX to PDF"_s, u"letter.docx"_s, u"letter.pdf"_s, u"orchard"_s},
            {u"PPTX to PDF"_s, u"deck.pptx"_s, u"deck.pdf"_s, u"Tides"_s},
            {u"MD to PDF"_s, u"notes.md"_s, u"notes.pdf"_s, u"lantern"_s},
            {u"Compress"_s, u"scan.pdf"_s, u"scan.pdf"_s, QString()},
        };
        // All eight at once, as several users' windows would: the queue and both workers are
        // exercised.
        std::vector<std::unique_ptr<QProcess>> runs;
        for (const Case &c : cases) {
            const QString dir =
                path(u"out-"_s + QString(c.operation).replace(QLatin1Char(' '), QLatin1Char('-')));
            QDir().mkpath(dir);
            auto p = std::make_unique<QProcess>();
            p->setProcessEnvironment(m_env);
            p->start(QStringLiteral(QUORVEL_CLI_BINARY),
                     {u"--json"_s, u"convert"_s, c.operation, path(c.file), u"--wait"_s,
                      u"--download"_s, dir});
            runs.push_back(std::move(p));
        }
        qint64 pagesConverted = 0;
        for (int i = 0; i < cases.size(); ++i) {
            QProcess &p = *runs[size_t(i)];
            const Case &c = cases[i];
            QVERIFY2(p.waitForFinished(300000), qPrintable(c.operation));
            const QByteArray out = p.readAllStandardOutput();
            QVERIFY2(p.exitCode() == 0, qPrintable(c.operation + u": "_s +
                                                   QString::fromUtf8(p.readAllStandardError())));
            QJsonParseError perr{};
            const QJsonDocument doc = QJsonDocument::fromJson(out, &perr);
            QVERIFY2(perr.error == QJsonParseError::NoError, out.constData());
            const QJsonObject job = doc.isArray() ? doc.array().first().toObject() : doc.object();
            QCOMPARE(job.value(u"status"_s).toInt(), 1);
            pagesConverted += job.value(u"page_number"_s).toInteger();

            const QString dir =
                path(u"out-"_s + QString(c.operation).replace(QLatin1Char(' '), QLatin1Char('-')));
            const QString result = dir + QLatin1Char('/') + c.result;
            QVERIFY2(QFileInfo(result).size() > 0,
                     qPrintable(c.operation + u" saved no "_s + result));
            const QString kind = QFileInfo(result).suffix();
            const QString text = kind == u"pdf"_s    ? pdfText(result)
                                 : kind == u"md"_s   ? QString::fromUtf8(readFile(result))
                                 : kind == u"docx"_s ? zipText(result, u"word/document.xml"_s)
                                 : kind == u"pptx"_s ? zipText(result, u"ppt/slides/slide1.xml"_s)
                                                     : zipNames(result).join(QLatin1Char(' '));
            QVERIFY2(text.contains(c.shows, Qt::CaseInsensitive),
                     qPrintable(c.operation + u": "_s + text.left(300)));
            if (kind == u"pdf"_s)
                QVERIFY(pdfPages(result) >= 1);
        }
        QVERIFY(pagesConverted >= 13);
        QCOMPARE(consumedPages() - before, pagesConverted);

        QByteArray history;
        QCOMPARE(cli({u"--json"_s, u"history"_s}, &history), 0);
        const QJsonArray listed = QJsonDocument::fromJson(history).array();
        QCOMPARE(listed.size(), 8);
        // Each listed job shows its operation's own icon, not the fallback of an unknown code.
        QSet<QString> codes;
        for (const QJsonValue &job : listed) {
            const QString typ = job.toObject().value(u"typ"_s).toString();
            codes << typ;
            const auto op = std::find_if(
                quorvel::Operations::all().begin(), quorvel::Operations::all().end(),
                [&typ](const auto &row) { return row.typeCode.toString().toLower() == typ; });
            QVERIFY2(op != quorvel::Operations::all().end(), qPrintable(typ));
            QCOMPARE(quorvel::TaskLook::typeIcon(typ), op->typeIcon.toString());
        }
        QCOMPARE(codes.size(), 8);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
