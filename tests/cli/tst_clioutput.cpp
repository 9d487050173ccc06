#include "cli/Output.h"
#include "service/BalanceFigures.h"

#include <QTest>

using namespace quorvel;
using namespace quorvel::cli;
using namespace Qt::StringLiterals;

namespace {

ConversionTask job(const QString &id, qint64 status, const QString &fileName, qint64 pages = 3) {
    ConversionTask t;
    t.id = id;
    t.userId = QStringLiteral("u1");
    t.typ = QStringLiteral("pdf2doc");
    t.fileName = fileName;
    t.pageNumber = pages;
    t.sourceFilePath = QStringLiteral("/store/") + fileName;
    t.sourceFileTyp = QStringLiteral("pdf");
    t.resultFileTyp = QStringLiteral("docx");
    t.sourceFileMd5 = QStringLiteral("md5-") + id;
    t.status = status;
    t.createAt = QStringLiteral("2026-12-06 10:00:00");
    return t;
}

UserInfoData info(bool lifetime, qint64 dailyUsage, qint64 dailyTotal) {
    UserInfoData u;
    u.email = QStringLiteral("ann@example.com");
    u.is_lifetimedeal_member = lifetime;
    u.lifetime_member_description = QStringLiteral("Lifetime deal");
    u.page_balcance_description = QStringLiteral("Pages bought");
    u.lft_daily_usage = dailyUsage;
    u.lft_daily_total = dailyTotal;
    return u;
}

} // namespace

Q_DECLARE_METATYPE(quorvel::BalanceFigures::Face)

class TestCliOutput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Columns line up in terminal cells, wide characters counting two.
    void alignment_data() {
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<QString>("expected");

        QTest::newRow("ascii") << QList<QStringList>{{"ID", "FILE"}, {"j-100", "a.pdf"}}
                               << "ID     FILE\nj-100  a.pdf\n";
        QTest::newRow("wide characters")
            << QList<QStringList>{{"报告", "x"}, {"ab", "y"}} << "报告  x\nab    y\n";
    }
    void alignment() {
        QFETCH(QList<QStringList>, rows);
        QTEST(alignedColumns(rows), "expected");
    }

    void jobTableRows() {
        const QString table = jobTable({job("j1", 1, "Report.pdf"), job("j22", 7, "a\nb.pdf", 0)});
        const QStringList lines = table.split(u'\n');
        QCOMPARE(lines.size(), 4); // header, two jobs, the final newline
        QCOMPARE(lines[0],
                 QStringLiteral("ID   STATUS       TYPE     PAGES    CREATED              FILE"));
        QCOMPARE(
            lines[1],
            QStringLiteral("j1   Completed    pdf2doc  3        2026-12-06 10:00:00  Report.pdf"));
        // A control character from the service cannot break the table.
        QCOMPARE(lines[2], QStringLiteral(
                               "j22  Unknown (7)  pdf2doc  unknown  2026-12-06 10:00:00  a?b.pdf"));
        QCOMPARE(lines[3], QString());
    }

    // Why a job failed is a last column, only when a listed failed job has a reason.
    void jobTableReasons() {
        ConversionTask failed = job("f1", 2, "Big.pdf");
        failed.failReason = QStringLiteral("too large for the engine's memory");
        ConversionTask done = job("d1", 1, "Ok.pdf");
        done.failReason = QStringLiteral("not shown for a completed job");
        const QStringList lines = jobTable({failed, done}).split(u'\n');
        QVERIFY2(lines[0].endsWith(u"FILE     REASON"_s), qPrintable(lines[0]));
        QVERIFY2(lines[1].endsWith(u"Big.pdf  too large for the engine's memory"_s),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].endsWith(u"Ok.pdf"_s), qPrintable(lines[2]));
        QVERIFY(!jobTable({done}).contains(u"REASON"_s));
    }

    // What a completed job tells is a last column too, after the reasons when both are there.
    void jobTableNotes() {
        ConversionTask kept = job("k1", 1, "Lean.pdf");
        kept.note = QStringLiteral("the original is returned\nand no pages are charged");
        ConversionTask failed = job("f1", 2, "Big.pdf");
        failed.failReason = QStringLiteral("timed out");
        failed.note = QStringLiteral("not shown for a failed job");
        const QStringList lines = jobTable({kept, failed}).split(u'\n');
        QVERIFY2(lines[0].endsWith(u"FILE      REASON     NOTE"_s), qPrintable(lines[0]));
        QVERIFY2(lines[1].endsWith(
                     u"Lean.pdf             the original is returned?and no pages are charged"_s),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].endsWith(u"Big.pdf   timed out"_s), qPrintable(lines[2]));
        QVERIFY(!jobTable({failed}).contains(u"NOTE"_s));
    }

    // The panel's figures, and what each face of the CLI prints from them.
    void balance_data() {
        QTest::addColumn<bool>("hasInfo");
        QTest::addColumn<bool>("lifetime");
        QTest::addColumn<qint64>("dailyUsage");
        QTest::addColumn<qint64>("dailyTotal");
        QTest::addColumn<bool>("hasBalance");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("consumed");
        QTest::addColumn<BalanceFigures::Face>("face");
        QTest::addColumn<double>("ratio");
        QTest::addColumn<QString>("text");

        QTest::newRow("overdrawn pages")
            << true << false << qint64(0) << qint64(0) << true << qint64(100) << qint64(130)
            << BalanceFigures::Face::Pages << 1.3
            << "Usage  Remain  Total\n130    0       100\nPages bought\n";
        QTest::newRow("empty balance")
            << true << false << qint64(0) << qint64(0) << true << qint64(0) << qint64(0)
            << BalanceFigures::Face::Pages << 0.0
            << "Usage  Remain  Total\n0      0       0\nPages bought\n";
        QTest::newRow("no balance: zeros, no description")
            << true << false << qint64(0) << qint64(0) << false << qint64(0) << qint64(0)
            << BalanceFigures::Face::Pages << 0.0 << "Usage  Remain  Total\n0      0       0\n";
        QTest::newRow("lifetime without allowance")
            << true << true << qint64(0) << qint64(0) << true << qint64(10) << qint64(1)
            << BalanceFigures::Face::Lifetime << 0.0 << "Lifetime Membership\nLifetime deal\n";
        QTest::newRow("lifetime overdrawn day")
            << true << true << qint64(12) << qint64(10) << false << qint64(0) << qint64(0)
            << BalanceFigures::Face::Lifetime << 1.0
            << "Lifetime Membership\nLifetime deal\nDaily Usage: 12/10  Remain: -2\n";
        QTest::newRow("no account yet")
            << false << false << qint64(0) << qint64(0) << true << qint64(50) << qint64(5)
            << BalanceFigures::Face::Loading << 0.1 << "Usage  Remain  Total\n5      45      50\n";
    }
    void balance() {
        QFETCH(bool, hasInfo);
        QFETCH(bool, lifetime);
        QFETCH(qint64, dailyUsage);
        QFETCH(qint64, dailyTotal);
        QFETCH(bool, hasBalance);
        QFETCH(qint64, total);
        QFETCH(qint64, consumed);
        QFETCH(BalanceFigures::Face, face);
        QFETCH(double, ratio);
        QFETCH(QString, text);

        std::optional<UserInfoData> userInfo;
        if (hasInfo)
            userInfo = info(lifetime, dailyUsage, dailyTotal);
        std::optional<PageBalanceData> pageBalance;
        if (hasBalance)
            pageBalance = PageBalanceData{total, consumed};
        const BalanceFigures f = BalanceFigures::from(userInfo, pageBalance);
        QCOMPARE(f.face, face);
        const double shown =
            face == BalanceFigures::Face::Lifetime ? f.dailyRatio : f.pageUsageRatio;
        QCOMPARE(shown, ratio);
        QCOMPARE(f.showPageBar, hasBalance);
        QCOMPARE(balanceText(f), text);
    }

    void progressBar_data() {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<QString>("bar");
        QTest::newRow("start") << 0.0 << "[----------]   0%";
        QTest::newRow("half") << 0.5 << "[#####-----]  50%";
        QTest::newRow("over") << 1.7 << "[##########] 100%";
        QTest::newRow("under") << -0.2 << "[----------]   0%";
    }
    void progressBar();
};

#include "cli/Terminal.h"

void TestCliOutput::progressBar() {
    QFETCH(double, fraction);
    QTEST(ProgressDisplay::bar(fraction, 10), "bar");
}

QTEST_GUILESS_MAIN(TestCliOutput)
#include "tst_clioutput.moc"
