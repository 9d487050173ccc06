#include "ClientTest.h"

#include "conversion/PDFViewModel.h"
#include "history/ConversionTaskModel.h"
#include "history/FilteredTaskModel.h"
#include "history/TaskFilter.h"
#include "history/TaskLook.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// The ids the list model shows, read through its roles as a view would.
QStringList shownIds(const QAbstractItemModel &model) {
    QStringList out;
    const int role = model.roleNames().key("id");
    for (int row = 0; row < model.rowCount(); ++row)
        out << model.data(model.index(row, 0), role).toString();
    return out;
}

QList<ConversionTask> sampleJobs() {
    return {task("1", "q3-report.pdf", 1), task("2", "Straße.docx", 0),
            task("3", "notes.md", 2),      task("4", "REPORT final.pdf", 2),
            task("5", "odd.pdf", 3),       task("6", "STRASSE plan.pptx", 1),
            task("7", "Ünïcödé.pdf", 0),   task("8", "", 1)};
}

// Qt's own checks of the model contract (row counts, signals around every change) on both
// list models of a view model, for as long as the result lives.
auto checkModels(PDFViewModel &vm) {
    using Tester = QAbstractItemModelTester;
    const auto mode = Tester::FailureReportingMode::QtTest;
    return std::make_pair(std::make_unique<Tester>(vm.conversionTaskModel(), mode),
                          std::make_unique<Tester>(vm.filteredTaskModel(), mode));
}

// "a0 b1": job a with status 0, job b with status 1.
QList<ConversionTask> jobsFrom(const QString &words) {
    QList<ConversionTask> out;
    for (const QString &word : words.split(u' ', Qt::SkipEmptyParts))
        out << task(word.left(1), word.left(1) + QStringLiteral(".pdf"), word.mid(1).toLongLong());
    return out;
}

} // namespace

class TestHistoryModels : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void filteredTasks_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<TaskFilter>("filter");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing set keeps all, in order")
            << "" << TaskFilter::All << QStringList{"1", "2", "3", "4", "5", "6", "7", "8"};
        QTest::newRow("capitals find lower case")
            << "REPORT" << TaskFilter::All << QStringList{"1", "4"};
        QTest::newRow("leading space is part of the text")
            << " REPORT" << TaskFilter::All << QStringList{};
        QTest::newRow("search then filter") << "report" << TaskFilter::Failed << QStringList{"4"};
        QTest::newRow("status 3 not under Converting")
            << "odd" << TaskFilter::Converting << QStringList{};
        QTest::newRow("full case folding: ß finds SS")
            << "straße" << TaskFilter::All << QStringList{"2", "6"};
        QTest::newRow("accents are not ignored") << "unicode" << TaskFilter::All << QStringList{};
        QTest::newRow("only file names searched") << "1" << TaskFilter::All << QStringList{};
        QTest::newRow("completed") << "" << TaskFilter::Completed << QStringList{"1", "6", "8"};
        QTest::newRow("converting") << "" << TaskFilter::Converting << QStringList{"2", "7"};
        QTest::newRow("failed") << "" << TaskFilter::Failed << QStringList{"3", "4"};
    }
    void filteredTasks() {
        QFETCH(QString, search);
        QFETCH(TaskFilter, filter);
        QFETCH(QStringList, expected);
        PDFViewModel vm;
        const auto checked = checkModels(vm);
        vm.publishTasks(sampleJobs());
        vm.setSearchText(search);
        vm.setSelectedFilter(filter);
        QCOMPARE(ids(vm.filteredTasks()), expected);
        QCOMPARE(shownIds(*vm.filteredTaskModel()), expected);
        // Same result whichever is set first.
        PDFViewModel other;
        other.setSelectedFilter(filter);
        other.setSearchText(search);
        other.publishTasks(sampleJobs());
        QCOMPARE(ids(other.filteredTasks()), expected);
    }

    // However the text got where it is (typed on, deleted back, replaced), the list is
    // the one a fresh view model computes for it.
    void typingMatchesFreshResult_data() {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("copies"); // of the sample, for changes scattered over many rows
        QTest::newRow("type on") << QStringList{"s", "st", "str", "stra", "straß", "straße"} << 1;
        QTest::newRow("delete back")
            << QStringList{"report", "repor", "repo", "rep", "re", "r", ""} << 1;
        QTest::newRow("replace") << QStringList{"notes", "odd", "pdf", ".pdf", "q3-.pdf"} << 1;
        QTest::newRow("ß grows to ss") << QStringList{"s", "ß", "ßp", "ss p"} << 1;
        QTest::newRow("capital sharp s") << QStringList{"ẞ", "STRAẞE", "strasse"} << 1;
        QTest::newRow("scattered over many rows")
            << QStringList{"", "report", "r", "", "notes", "pdf", "straße", ""} << 12;
    }
    void typingMatchesFreshResult() {
        QFETCH(QStringList, texts);
        QFETCH(int, copies);
        QList<ConversionTask> jobs;
        for (int copy = 0; copy < std::max(copies, 1); ++copy)
            for (ConversionTask t : sampleJobs()) {
                t.id += u'.' + QString::number(copy);
                jobs << t;
            }
        PDFViewModel typed;
        const auto checked = checkModels(typed);
        typed.publishTasks(jobs);
        typed.setSelectedFilter(TaskFilter::All);
        for (const QString &text : texts) {
            typed.setSearchText(text);
            PDFViewModel fresh;
            fresh.setSearchText(text);
            fresh.publishTasks(jobs);
            QCOMPARE(ids(typed.filteredTasks()), ids(fresh.filteredTasks()));
            QCOMPARE(shownIds(*typed.filteredTaskModel()), ids(fresh.filteredTasks()));
            // And the slow reference: fold both, test containment.
            QStringList expected;
            for (const ConversionTask &t : std::as_const(jobs))
                if (text.isEmpty() || t.fileName.toUpper()
                                          .toCaseFolded()
                                          .replace(u'ß', QStringLiteral("ss"))
                                          .contains(text.toUpper().toCaseFolded().replace(
                                              u'ß', QStringLiteral("ss"))))
                    expected << t.id;
            QCOMPARE(ids(typed.filteredTasks()), expected);
        }
    }

    void fold() {
        QStringList pairs; // text, then its folded form
        for (const char *text : {"Q3-Report_FINAL.pdf", "q3-report_final.pdf", "", "", "Straße",
                                 "strasse", "STRAẞE", "strasse", "ﬁle", "file", "ΟΔΟΣ", "οδοσ",
                                 "ÉCOLE", "école", "年度报告", "年度报告", "ABC Ü", "abc ü"})
            pairs << QString::fromUtf8(text);
        for (qsizetype i = 0; i < pairs.size(); i += 2) {
            QCOMPARE(ConversionTaskModel::fold(pairs[i]), pairs[i + 1]);
            // Folding both sides the same way is what makes the search symmetric.
            QCOMPARE(ConversionTaskModel::fold(pairs[i + 1]), pairs[i + 1]);
        }
    }

    // Filter and search survive a new list.
    void refreshKeepsSearchAndFilter() {
        PDFViewModel vm;
        const auto checked = checkModels(vm);
        vm.setSearchText(QStringLiteral("report"));
        vm.setSelectedFilter(TaskFilter::Completed);
        vm.publishTasks(sampleJobs());
        QCOMPARE(ids(vm.filteredTasks()), QStringList{"1"});
        vm.publishTasks({task("9", "Report 2.pdf", 1), task("10", "report 3.pdf", 0)});
        QCOMPARE(ids(vm.filteredTasks()), QStringList{"9"});
        QCOMPARE(vm.searchText(), QStringLiteral("report"));
        QCOMPARE(vm.selectedFilter(), TaskFilter::Completed);
    }

    // Changes made through the list model's own operations reach the filtered view.
    void sourceEditsReachFilteredView() {
        PDFViewModel vm;
        const auto checked = checkModels(vm);
        ConversionTaskModel *tasks = vm.conversionTaskModel();
        // Published as for a window: with its search index.
        tasks->apply(ConversionTaskModel::plan({}, sampleJobs(), tasks->revision(), true));
        vm.setSelectedFilter(TaskFilter::Failed);
        tasks->insertFront(task("new", "retry.pdf", 2));
        QCOMPARE(ids(vm.filteredTasks()), (QStringList{"new", "3", "4"}));
        // A search after such an edit sees the edited list.
        vm.setSearchText(QStringLiteral("RETRY"));
        QCOMPARE(ids(vm.filteredTasks()), QStringList{"new"});
        // A replaced job is searched by its new name, also by the search already set.
        tasks->replaceAt(tasks->indexOfId(QStringLiteral("3")), task("3", "retry notes.md", 2));
        QCOMPARE(ids(vm.filteredTasks()), (QStringList{"new", "3"}));
        vm.setSearchText(QString());
        tasks->replaceAt(tasks->indexOfId(QStringLiteral("3")), task("3", "notes.md", 1));
        QCOMPARE(ids(vm.filteredTasks()), (QStringList{"new", "4"}));
        vm.setSearchText(QStringLiteral("retry"));
        QCOMPARE(ids(vm.filteredTasks()), QStringList{"new"});
        vm.setSearchText(QString());
        QCOMPARE(tasks->indexOfId(QStringLiteral("missing")), qsizetype(-1));
        tasks->replaceAt(99, task("x", "x", 2)); // out of range: ignored
        QCOMPARE(tasks->rowCount(), 9);
    }

    // A new list reaches views as the smallest change: a view keeps its place, its hover and
    // its open sheet when a refresh brings the same or a slightly different answer.
    void publishChangesOnlyWhatChanged_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("same answer") << "a0 b1 c2"
                                     << "a0 b1 c2" << QStringList{};
        QTest::newRow("status changed") << "a0 b1 c2"
                                        << "a0 b2 c2" << QStringList{"change 1-1"};
        QTest::newRow("new jobs on top") << "a0 b1"
                                         << "n0 m0 a0 b1" << QStringList{"insert 0-1"};
        QTest::newRow("job gone") << "a0 b1 c2"
                                  << "a0 c2" << QStringList{"remove 1-1"};
        QTest::newRow("gone, new and changed")
            << "a0 b1 c2"
            << "n0 a1 c2" << QStringList{"remove 1-1", "insert 0-0", "change 1-1"};
        QTest::newRow("first list") << ""
                                    << "a0 b1" << QStringList{"insert 0-1"};
        QTest::newRow("emptied") << "a0 b1"
                                 << "" << QStringList{"remove 0-1"};
        QTest::newRow("order changed") << "a0 b1 c2"
                                       << "c2 a0 b1" << QStringList{"reset"};
        QTest::newRow("repeated id") << "a0 b1"
                                     << "a0 a1" << QStringList{"reset"};
    }
    void publishChangesOnlyWhatChanged() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QStringList, changes);
        PDFViewModel vm;
        const auto checked = checkModels(vm);
        vm.setSelectedFilter(TaskFilter::Converting);
        vm.publishTasks(jobsFrom(before));
        ConversionTaskModel *model = vm.conversionTaskModel();
        QStringList seen;
        const auto range = [&](const char *what, int first, int last) {
            seen << QStringLiteral("%1 %2-%3").arg(QLatin1String(what)).arg(first).arg(last);
        };
        connect(model, &QAbstractItemModel::rowsInserted, this,
                [&](const QModelIndex &, int f, int l) { range("insert", f, l); });
        connect(model, &QAbstractItemModel::rowsRemoved, this,
                [&](const QModelIndex &, int f, int l) { range("remove", f, l); });
        connect(
            model, &QAbstractItemModel::dataChanged, this,
            [&](const QModelIndex &f, const QModelIndex &l) { range("change", f.row(), l.row()); });
        connect(model, &QAbstractItemModel::modelReset, this,
                [&] { seen << QStringLiteral("reset"); });

        const QList<ConversionTask> next = jobsFrom(after);
        vm.publishTasks(next);
        QCOMPARE(seen, changes);
        QCOMPARE(shownIds(*model), ids(next));
        QStringList converting;
        for (const ConversionTask &t : next)
            if (t.status == 0)
                converting << t.id;
        QCOMPARE(shownIds(*vm.filteredTaskModel()), converting);
    }

    // What a card and the sheet show of a job, served as roles by both list models.
    void lookRoles_data() {
        QTest::addColumn<qint64>("status");
        QTest::addColumn<QString>("resultType");
        QTest::addColumn<qint64>("pages");
        QTest::addColumn<QVariantMap>("expected");
        const auto look = [](QString text, TaskLook::Tone color, QString cardIcon,
                             QString sheetIcon, QString action, bool done, bool preview,
                             QString pages, QString reason, QString note) {
            return QVariantMap{{"statusText", text},
                               {"statusTone", int(color)},
                               {"cardIcon", cardIcon},
                               {"cardIconTone", int(color)},
                               {"sheetIcon", sheetIcon},
                               {"sheetIconTone", int(color)},
                               {"action", action},
                               {"badgeCompleted", done},
                               {"showsResult", done},
                               {"canPreview", preview},
                               {"statusIconBounces", text == u"Converting"},
                               {"pagesText", pages},
                               {"shownFailReason", reason},
                               {"shownNote", note},
                               {"typeIcon", "doc.fill"}};
        };
        QTest::newRow("completed, pdf result")
            << qint64(1) << "PDF" << qint64(3)
            << look("Completed", TaskLook::Tone::Success, "doc.fill.badge.checkmark",
                    "checkmark.circle.fill", "download", true, true, "3", "", "kept");
        QTest::newRow("completed, docx result")
            << qint64(1) << "docx" << qint64(0)
            << look("Completed", TaskLook::Tone::Success, "doc.fill.badge.checkmark",
                    "checkmark.circle.fill", "download", true, false, "unknown", "", "kept");
        QTest::newRow("failed") << qint64(2) << "pdf" << qint64(1)
                                << look("Failed", TaskLook::Tone::Failure, "xmark.circle",
                                        "xmark.circle.fill", "retry", false, false, "1", "bad file",
                                        "");
        QTest::newRow("converting")
            << qint64(0) << "pdf" << qint64(-1)
            << look("Converting", TaskLook::Tone::Progress, "arrow.triangle.2.circlepath",
                    "arrow.triangle.2.circlepath", "", false, false, "unknown", "", "");
        QTest::newRow("unknown status")
            << qint64(7) << "pdf" << qint64(2)
            << look("Converting", TaskLook::Tone::Progress, "arrow.triangle.2.circlepath",
                    "arrow.triangle.2.circlepath", "", false, false, "2", "", "");
    }
    void lookRoles() {
        QFETCH(qint64, status);
        QFETCH(QString, resultType);
        QFETCH(qint64, pages);
        QFETCH(QVariantMap, expected);
        ConversionTask t = task("a", "a.pdf", status);
        t.typ = QStringLiteral("NOSUCHTYPE");
        t.resultFileTyp = resultType;
        t.pageNumber = pages;
        t.failReason = QStringLiteral("bad file");
        t.note = QStringLiteral("kept");
        PDFViewModel vm;
        vm.conversionTaskModel()->setTasks({task("b", "b.pdf", 1), t});
        vm.setSearchText(QStringLiteral("a.pdf"));
        const QAbstractItemModel *models[] = {vm.conversionTaskModel(), vm.filteredTaskModel()};
        for (const QAbstractItemModel *model : models) {
            const QModelIndex row = model->index(model->rowCount() - 1, 0);
            for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
                const int role = model->roleNames().key(it.key().toUtf8(), -1);
                QVERIFY2(role >= 0, qPrintable(it.key()));
                QCOMPARE(model->data(row, role), it.value());
            }
        }
    }

    // A card shows "Retrying" while its retry runs, then while the retried job's entry in the
    // list is neither completed nor failed.
    void retryingCondition_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("retried");
        QTest::addColumn<QString>("list");
        QTest::addColumn<bool>("retrying");
        QTest::newRow("request running") << true << QString() << "a2" << true;
        QTest::newRow("nothing retried") << false << QString() << "a0" << false;
        QTest::newRow("retried job converting") << false << "a"
                                                << "b2 a0" << true;
        QTest::newRow("retried job in another state") << false << "a"
                                                      << "a7" << true;
        QTest::newRow("retried job completed") << false << "a"
                                               << "a1" << false;
        QTest::newRow("retried job failed again") << false << "a"
                                                  << "a2" << false;
        QTest::newRow("retried job not listed") << false << "a"
                                                << "b0" << false;
    }
    void retryingCondition() {
        QFETCH(bool, running);
        QFETCH(QString, retried);
        QFETCH(QString, list);
        QFETCH(bool, retrying);
        const std::optional<ConversionTask> retryTask =
            retried.isEmpty() ? std::nullopt : std::optional(task(retried, "x.pdf", 2));
        QCOMPARE(TaskLook::isRetrying(running, retryTask, jobsFrom(list)), retrying);
    }
};

QTEST_GUILESS_MAIN(TestHistoryModels)
#include "tst_history_models.moc"
