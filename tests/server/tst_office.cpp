// LibreOffice kept loaded per worker: jobs through it give real documents; an
// engine killed or stuck costs only the job it was converting; an engine is
// replaced after a number of documents or when it holds too much memory.
#include "OfficeEngine.h"
#include "ServerTestSupport.h"
#include "Zip.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

using namespace quorvel::test;
using namespace Qt::StringLiterals;
using quorvel::server::OfficeEngine;
using Clock = std::chrono::steady_clock;

class TestOffice : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_small, m_big;

    OfficeEngine::Settings settings(const QString &name) const {
        OfficeEngine::Settings s;
        s.program = OfficeEngine::locateProgram(QStringLiteral(QUORVEL_SERVER_BINARY));
        s.profileDir = m_dir.filePath(name + u"/profile"_s);
        s.homeDir = m_dir.filePath(name + u"/home"_s);
        s.logFile = m_dir.filePath(name + u"/engine.log"_s);
        return s;
    }

    OfficeEngine::Result toPdf(OfficeEngine &engine, const QString &docx, const QString &pdf,
                               std::chrono::milliseconds limit = std::chrono::minutes(4)) {
        QFile::remove(pdf);
        return engine.convert({docx, pdf, {}, u"pdf"_s}, Clock::now() + limit);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(!OfficeEngine::locateProgram(QStringLiteral(QUORVEL_SERVER_BINARY)).isEmpty());
        m_small = writeDocx(m_dir.path(), u"letter.docx"_s, 3);
        // About 160 pages: seconds of work even for a warm LibreOffice.
        m_big = writeDocx(m_dir.path(), u"report.docx"_s, 4000);
        QVERIFY(!m_small.isEmpty() && !m_big.isEmpty());
    }

    // Through the service: the warm engine's result is a real PDF; killing
    // the engine mid-job fails that job alone, saying why; the next job runs
    // on a fresh engine.
    void serviceSurvivesAKilledEngine() {
        TestService svc(1, 64 * 1024 * 1024, {},
                        [](quorvel::server::Config &c) { c.warmOfficeEngines = true; });
        const QString token = svc.addUserAndLogin(u"o@example.org"_s, 10000);
        auto run = [&](const QString &file) {
            const QJsonObject up = svc.upload(token, QFileInfo(file).fileName(), readFile(file));
            return svc.convert(token, up, u"DOCX2PDF"_s).value(u"id"_s).toString();
        };
        auto resultPdf = [&](const QString &id) {
            auto r = svc.get(u"/api/v2/docx?md5_id="_s + id, token);
            const QString path = m_dir.filePath(id + u".pdf"_s);
            return r && r->status == 200 && writeFile(path, QByteArray::fromStdString(r->body))
                       ? pdfPages(path)
                       : -1;
        };
        auto stateOf = [&](const QString &id) {
            const auto rows =
                svc.store->query(u"SELECT state, failure FROM jobs WHERE id=?"_s, {id});
            return rows.empty() ? QString()
                                : rows[0][0].toString() + QLatin1Char('|') + rows[0][1].toString();
        };

        const QString first = run(m_small);
        QCOMPARE(svc.waitForJob(token, first, 300000).value(u"status"_s).toInt(), 1);
        QCOMPARE(resultPdf(first), 1);

        const QString home = svc.config.dataDir + u"/work/office-engine-0"_s;
        const int engine = processesWithHomeUnder(home).value(0);
        QVERIFY(engine > 0);
        const QString doomed = run(m_big);
        QTRY_VERIFY_WITH_TIMEOUT(stateOf(doomed).startsWith(QLatin1String("running")), 30000);
        QCOMPARE(::kill(engine, SIGKILL), 0);
        QCOMPARE(svc.waitForJob(token, doomed, 60000).value(u"status"_s).toInt(), 2);
        const QString failure = stateOf(doomed);
        QVERIFY2(failure.contains(QLatin1String("LibreOffice")) &&
                     failure.contains(QLatin1String("killed by signal 9")),
                 qPrintable(failure));

        const QString next = run(m_small);
        QCOMPARE(svc.waitForJob(token, next, 300000).value(u"status"_s).toInt(), 1);
        QCOMPARE(resultPdf(next), 1);
        const int replacement = processesWithHomeUnder(home).value(0);
        QVERIFY(replacement > 0 && replacement != engine);
    }

    // A new process after N documents, or after a job that left it above its memory bound.
    void replacedAfterDocumentsOrMemory_data() {
        QTest::addColumn<int>("recycleAfter");
        QTest::addColumn<qint64>("residentLimit");
        QTest::addColumn<QList<int>>("startsAfterEachJob");
        QTest::newRow("after 2 documents") << 2 << (qint64(4) << 30) << QList<int>{1, 2, 2, 3};
        QTest::newRow("memory above its bound") << 100 << (qint64(1) << 20) << QList<int>{2, 3};
    }
    void replacedAfterDocumentsOrMemory() {
        QFETCH(int, recycleAfter);
        QFETCH(qint64, residentLimit);
        QFETCH(QList<int>, startsAfterEachJob);
        OfficeEngine::Settings s = settings(QString::fromLatin1(QTest::currentDataTag()));
        s.recycleAfter = recycleAfter;
        s.residentLimit = std::uint64_t(residentLimit);
        OfficeEngine engine(s);
        for (int i = 0; i < startsAfterEachJob.size(); ++i) {
            const QString pdf = m_dir.filePath(u"recycled-%1.pdf"_s.arg(i));
            const OfficeEngine::Result r = toPdf(engine, m_small, pdf);
            QVERIFY2(r.ok, qPrintable(r.reason));
            QCOMPARE(pdfPages(pdf), 1);
            QCOMPARE(engine.starts(), startsAfterEachJob[i]);
        }
    }

    // A conversion past its time limit ends the engine; the next one gets a new engine.
    void stuckConversionTimesOut() {
        OfficeEngine engine(settings(u"stuck"_s));
        const QString pdf = m_dir.filePath(u"stuck.pdf"_s);
        QVERIFY(toPdf(engine, m_small, pdf).ok); // loaded and warm
        const int first = engine.pid();
        // A job whose time ran out in earlier steps leaves the idle engine alone.
        QCOMPARE(toPdf(engine, m_small, pdf, std::chrono::milliseconds(-1)).reason,
                 u"LibreOffice: time limit exceeded"_s);
        QCOMPARE(engine.pid(), first);
        const OfficeEngine::Result r = toPdf(engine, m_big, pdf, std::chrono::milliseconds(200));
        QVERIFY(!r.ok && !r.cancelled);
        QCOMPARE(r.reason, u"LibreOffice: time limit exceeded"_s);
        QVERIFY(::kill(first, 0) != 0); // gone
        const OfficeEngine::Result again = toPdf(engine, m_small, pdf);
        QVERIFY2(again.ok, qPrintable(again.reason));
        QCOMPARE(pdfPages(pdf), 1);
    }
};

QTEST_GUILESS_MAIN(TestOffice)
#include "tst_office.moc"
