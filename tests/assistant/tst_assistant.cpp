// The assistant page without a window: the PDF list's paging, search and selection, the
// feature cards, the chat and the preview of a card.
#include "AssistantPage.h"
#include "ClientTest.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quorvel;
using namespace quorvel::test;

namespace {
// Job "job-<n>", completed unless told.
ConversionTask job(int n, const QString &name, qint64 status = 1, const QString &typ = "md2pdf") {
    return task(QStringLiteral("job-%1").arg(n), name, status, typ);
}

// `count` completed files named "file 0.pdf" …, with a failed and a converting job between.
QList<ConversionTask> completed(int count) {
    QList<ConversionTask> out{job(100, QStringLiteral("failed.pdf"), 2),
                              job(101, QStringLiteral("converting.pdf"), 0)};
    for (int i = 0; i < count; ++i)
        out.append(job(i, QStringLiteral("file %1.pdf").arg(i)));
    return out;
}

QStringList names(const QList<ConversionTask> &tasks) {
    QStringList out;
    for (const ConversionTask &t : tasks)
        out << t.fileName;
    return out;
}
} // namespace

class TestAssistant : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void paging_data() {
        QTest::addColumn<int>("files");
        QTest::addColumn<double>("width");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("perPage");
        QTest::addColumn<int>("totalPages");
        QTest::addColumn<QStringList>("shown");

        QTest::newRow("initial width: 5 a page")
            << 7 << 1000.0 << 1 << 5 << 2
            << QStringList{"file 0.pdf", "file 1.pdf", "file 2.pdf", "file 3.pdf", "file 4.pdf"};
        QTest::newRow("179 wide: 1 a page")
            << 3 << 179.0 << 2 << 1 << 3 << QStringList{"file 1.pdf"};
        QTest::newRow("360 wide: 2 a page")
            << 3 << 360.0 << 2 << 2 << 2 << QStringList{"file 2.pdf"};
        QTest::newRow("no files: one empty page") << 0 << 1000.0 << 1 << 5 << 1 << QStringList{};
        QTest::newRow("11 files: the last of 3 pages holds 1")
            << 11 << 1000.0 << 3 << 5 << 3 << QStringList{"file 10.pdf"};
    }

    void paging() {
        QFETCH(int, files);
        QFETCH(double, width);
        QFETCH(int, page);
        AssistantPage assistant;
        PDFFileList *list = assistant.files();
        assistant.viewModel()->publishTasks(completed(files));
        list->setWindowWidth(width);
        for (int i = 1; i < page; ++i)
            list->nextPage();
        QCOMPARE(list->completedCount(), files);
        QTEST(list->itemsPerPage(), "perPage");
        QTEST(list->totalPages(), "totalPages");
        QCOMPARE(list->currentPage(), page);
        QTEST(names(list->paginatedFiles()), "shown");
        QCOMPARE(list->rowCount(), list->paginatedFiles().size());
        list->nextPage(); // never past the last page
        QTEST(list->currentPage(), "totalPages");
    }

    // Once the grid reports its columns and rows, a page is exactly what it shows.
    void pagingByGrid_data() {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("perPage");
        QTest::addColumn<int>("totalPages");

        QTest::newRow("800x600: 4 columns, 1 row") << 8 << 4 << 1 << 4 << 2;
        QTest::newRow("1440x900: 7 columns, 2 rows hold 8") << 8 << 7 << 2 << 14 << 1;
        QTest::newRow("one column") << 3 << 1 << 1 << 1 << 3;
        QTest::newRow("rows below 1 count as 1") << 5 << 3 << 0 << 3 << 2;
        QTest::newRow("columns unknown: the width guesses") << 8 << 0 << 2 << 5 << 2;
    }
    void pagingByGrid() {
        QFETCH(int, files);
        AssistantPage assistant;
        PDFFileList *list = assistant.files();
        assistant.viewModel()->publishTasks(completed(files));
        list->setCurrentPage(2);
        QFETCH(int, rows);
        list->setPageRows(rows);
        QFETCH(int, columns);
        list->setPageColumns(columns);
        QTEST(list->itemsPerPage(), "perPage");
        QTEST(list->totalPages(), "totalPages");
        QCOMPARE(list->rowCount(),
                 std::min(list->itemsPerPage(),
                          files - (list->currentPage() - 1) * list->itemsPerPage()));
        QVERIFY(list->currentPage() <= list->totalPages());
    }

    // Qt's own checks of the model contract (row counts, data, signals around every change)
    // over every list model the window binds, while the lists change as the window changes them.
    void everyModelKeepsTheContract() {
        using Tester = QAbstractItemModelTester;
        const auto mode = Tester::FailureReportingMode::QtTest;
        AssistantPage assistant;
        PDFViewModel *vm = assistant.viewModel();
        PDFFileList *list = assistant.files();
        ChatModel *chat = assistant.chat();
        chat->replyPauseMs = 1;
        std::vector<std::unique_ptr<Tester>> testers;
        for (QAbstractItemModel *model : std::initializer_list<QAbstractItemModel *>{
                 vm->conversionTaskModel(), vm->filteredTaskModel(), list, chat})
            testers.push_back(std::make_unique<Tester>(model, mode));

        vm->publishTasks(completed(20));
        list->setWindowWidth(1440);
        list->nextPage();
        list->setSearchText(QStringLiteral("file 1"));
        vm->setSearchText(QStringLiteral("file 1"));
        vm->setSelectedFilter(TaskFilter::Completed);
        list->toggleSelectAllCurrentPage();
        vm->publishTasks(completed(3));
        vm->setSelectedFilter(TaskFilter::All);
        list->setSearchText({});
        vm->publishTasks({});
        chat->setInputText(QStringLiteral("hello"));
        chat->sendInput();
        QTRY_COMPARE(chat->count(), 2);
        QVERIFY(!QTest::currentTestFailed());
    }

    void lastPageFollowsTheList() {
        AssistantPage assistant;
        PDFFileList *list = assistant.files();
        assistant.viewModel()->publishTasks(completed(11));
        list->setCurrentPage(3);
        list->setWindowWidth(1440); // 8 a page: 2 pages
        QCOMPARE(list->currentPage(), 2);
        QCOMPARE(names(list->paginatedFiles()),
                 QStringList({"file 8.pdf", "file 9.pdf", "file 10.pdf"}));
        assistant.viewModel()->publishTasks(completed(4));
        QCOMPARE(list->currentPage(), 1);
        // A page past the end shows nothing until the queued correction moves to the last.
        list->setCurrentPage(5);
        QVERIFY(list->paginatedFiles().isEmpty());
        QTRY_COMPARE(list->currentPage(), 1);
        QCOMPARE(list->paginatedFiles().size(), 4);
    }

    void search_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("stillSelected");

        QTest::newRow("any case") << "report" << QStringList{"Report Q1.pdf", "REPORT q2.pdf"}
                                  << QStringList{"Report Q1.pdf", "REPORT q2.pdf"};
        QTest::newRow("no match") << "zzz" << QStringList{} << QStringList{};
    }

    void search() {
        QFETCH(QString, text);
        AssistantPage assistant;
        PDFFileList *list = assistant.files();
        QList<ConversionTask> tasks;
        for (const char *name : {"Report Q1.pdf", "notes.pdf", "季度报告.pdf", "REPORT q2.pdf",
                                 "Straße.pdf", "a.pdf", "b.pdf"})
            tasks.append(job(int(tasks.size()), name));
        assistant.viewModel()->publishTasks(tasks);
        list->toggleSelectAllCurrentPage();
        list->nextPage();
        list->toggleSelectAllCurrentPage();
        QCOMPARE(list->selectedCount(), 7);
        QCOMPARE(list->currentPage(), 2);

        list->setSearchText(text);
        QCOMPARE(list->currentPage(), 1);
        QTEST(names(list->paginatedFiles()), "shown");
        QTEST(names(list->selectedFiles()), "stillSelected");
    }

    // A new history under a search: the rows shown and the job a card selects are the new
    // list's, though every job moved down one place.
    void searchFollowsTheList() {
        AssistantPage assistant;
        PDFFileList *list = assistant.files();
        QList<ConversionTask> tasks = completed(3);
        tasks.append(job(7, QStringLiteral("report old.pdf")));
        assistant.viewModel()->publishTasks(tasks);
        list->setSearchText(QStringLiteral("report"));
        QCOMPARE(names(list->paginatedFiles()), QStringList{"report old.pdf"});
        tasks.prepend(job(8, QStringLiteral("Report new.pdf")));
        tasks[4].fileName = QStringLiteral("renamed.pdf"); // "file 2.pdf"
        assistant.viewModel()->publishTasks(tasks);
        QCOMPARE(names(list->paginatedFiles()), QStringList({"Report new.pdf", "report old.pdf"}));
        list->toggleSelection(QStringLiteral("job-7"));
        QCOMPARE(names(list->selectedFiles()), QStringList{"report old.pdf"});
        list->setSearchText(QString());
        QCOMPARE(list->completedCount(), 5);
        QVERIFY(names(list->paginatedFiles()).contains(QStringLiteral("renamed.pdf")));
    }

    void selectAllOfThePage() {
        AssistantPage assistant;
        PDFFileList *list = assistant.files();
        assistant.viewModel()->publishTasks(completed(11));
        list->toggleSelection(QStringLiteral("job-0"));
        list->nextPage();
        list->toggleSelection(QStringLiteral("job-6"));
        QVERIFY(!list->areAllCurrentFilesSelected());
        list->toggleSelectAllCurrentPage();
        QVERIFY(list->areAllCurrentFilesSelected());
        QCOMPARE(list->selectedCount(), 6);
        QVERIFY(list->data(list->index(4), PDFFileList::IsSelectedRole).toBool());
        list->toggleSelectAllCurrentPage();
        QCOMPARE(names(list->selectedFiles()), QStringList{"file 0.pdf"});
        QCOMPARE(assistant.historyTasks().size(), 1);
    }

    void featureTap_data() {
        QTest::addColumn<int>("feature");
        QTest::addColumn<bool>("withSelection");
        QTest::addColumn<bool>("opens");

        QTest::newRow("analysis, nothing selected") << int(FeatureType::Analysis) << false << false;
        QTest::newRow("processing, nothing selected")
            << int(FeatureType::Processing) << false << true;
        QTest::newRow("qa, a file selected") << int(FeatureType::Qa) << true << true;
    }

    void featureTap() {
        QFETCH(int, feature);
        QFETCH(bool, withSelection);
        QFETCH(bool, opens);
        AssistantPage assistant;
        assistant.viewModel()->publishTasks(completed(2));
        if (withSelection)
            assistant.files()->toggleSelection(QStringLiteral("job-1"));
        LogCapture log;
        QCOMPARE(assistant.tapFeature(feature), opens);
        QCOMPARE(assistant.selectedFeature(), opens ? feature : AssistantPage::kNoFeature);
        QCOMPARE(log.lines(), opens ? QStringList{} : QStringList{"请先选择PDF文件"});
        if (opens) {
            QCOMPARE(assistant.selectedFeatureInfo().value("title").toString(),
                     FeatureType::title(FeatureType::Case(feature)));
            assistant.closeFeature();
            QCOMPARE(assistant.selectedFeature(), AssistantPage::kNoFeature);
        }
    }

    void chat_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("reply");

        QTest::newRow("abc") << "abc"
                             << "基于您的问题「abc」，我可以分析出您需要了解文档中的相关内容。如果"
                                "您有具体的PDF文件已上传，我可以提供更精确的回答。";
        QTest::newRow("spaces are sent as they are")
            << "  "
            << "基于您的问题「  」，我可以分析出您需要了解文档中的相关内容。如果您有具体的"
               "PDF文件已上传，我可以提供更精确的回答。";
        QTest::newRow("empty: nothing") << ""
                                        << "";
    }

    void chat() {
        QFETCH(QString, input);
        QFETCH(QString, reply);
        AssistantPage assistant;
        ChatModel *chat = assistant.chat();
        chat->replyPauseMs = 50;
        assistant.tapFeature(FeatureType::Processing);
        assistant.startChat();

        chat->setInputText(input);
        QCOMPARE(chat->canSend(), !input.isEmpty());
        chat->sendInput();
        if (input.isEmpty()) {
            QCOMPARE(chat->count(), 0);
            QVERIFY(!chat->isLoading());
            return;
        }
        QCOMPARE(chat->count(), 1);
        QCOMPARE(chat->messages()[0].text, input);
        QVERIFY(chat->messages()[0].isUser);
        QVERIFY(chat->isLoading());
        QCOMPARE(chat->inputText(), QString());

        // While waiting the input row sends nothing; leaving the chat loses nothing.
        chat->setInputText(QStringLiteral("more"));
        QVERIFY(!chat->canSend());
        chat->sendInput();
        assistant.leaveChat();
        QVERIFY(!assistant.showChat());
        QCOMPARE(assistant.selectedFeature(), AssistantPage::kNoFeature);
        QTRY_VERIFY(!chat->isLoading());
        QCOMPARE(chat->count(), 2);
        QCOMPARE(chat->messages()[1].text, reply);
        QVERIFY(!chat->messages()[1].isUser);
        QVERIFY(chat->messages()[0].id != chat->messages()[1].id);
        QCOMPARE(chat->inputText(), QStringLiteral("more"));

        // A suggestion sends itself.
        assistant.startChat();
        chat->sendSuggestion(ChatModel::suggestions().constFirst());
        QCOMPARE(chat->messages().last().text, QStringLiteral("这篇文档的主要内容是什么？"));
        QTRY_COMPARE(chat->count(), 4);
    }

    // Shown while signed in: the account's list; signed out: nothing of it is left.
    void listFollowsTheAccount() {
        ScriptedService server;
        server.reset(QStringLiteral("tok_assistant_0123456789"));
        server.answer("GET", "/api/v1/tollan/convert/all", 200,
                      R"({"code":0,"msg":"ok","data":{"converts":[{"id":"a","file_name":)"
                      R"("a.pdf","status":1},{"id":"b","file_name":"b.pdf","status":1}]}})");
        AuthManager account(AuthManager::StartupFetch::None);
        AssistantPage assistant;
        assistant.setAuthManager(&account);
        Log::setSink({});
        assistant.appear();
        QTRY_COMPARE(assistant.files()->completedCount(), 2);
        assistant.files()->toggleSelection(QStringLiteral("a"));
        QVERIFY(assistant.tapFeature(FeatureType::Qa));
        account.logout();
        Log::useStandardOutput();
        QCOMPARE(assistant.files()->completedCount(), 0);
        QCOMPARE(assistant.files()->selectedCount(), 0);
        QCOMPARE(assistant.selectedFeature(), AssistantPage::kNoFeature);
        QCOMPARE(server.requestsTo("GET", "/api/v1/tollan/convert/all").size(), 1);
    }

    void preview_data() {
        QTest::addColumn<QString>("typ");
        QTest::addColumn<int>("downloadStatus");
        QTest::addColumn<bool>("inDocuments");
        QTest::addColumn<QString>("opened"); // "result", "documents" or none
        QTest::addColumn<QString>("message");

        QTest::newRow("PDF result: downloaded") << "md2pdf" << 200 << true << "result"
                                                << "";
        QTest::newRow("not a PDF result: the file in Documents")
            << "pdf2doc" << 0 << true << "documents"
            << "";
        QTest::newRow("not a PDF result, not here") << "pdf2doc" << 0 << false << ""
                                                    << "“季度 report.pdf”不在这台电脑上。";
        QTest::newRow("download fails, not here")
            << "md2pdf" << 500 << false << ""
            << "Download failed: The operation couldn’t be completed. (Download failed error 500.)";
    }

    void preview() {
        QFETCH(QString, typ);
        QFETCH(int, downloadStatus);
        QFETCH(bool, inDocuments);
        QFETCH(QString, opened);
        ScriptedService server;
        QTemporaryDir dir;
        const QString documents = dir.filePath(QStringLiteral("Docs"));
        const QString temp = dir.filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(documents) && QDir().mkpath(temp));
        qputenv("TMPDIR", temp.toUtf8());
        QFile dirs(QDir(server.environment().configHome()).filePath("user-dirs.dirs"));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DOCUMENTS_DIR=\"" + documents.toUtf8() + "\"\n");
        dirs.close();
        const QString name = QStringLiteral("季度 report.pdf");
        if (inDocuments) {
            QFile f(QDir(documents).filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        if (downloadStatus)
            server.scriptPrefix("GET", "/api/v2/docx",
                                {ScriptedResponse::json(downloadStatus, "%PDF-1.4 result")});
        Log::setSink({});

        AssistantPage assistant;
        assistant.viewModel()->publishTasks({job(1, name, 1, typ)});
        QSignalSpy requested(&assistant, &AssistantPage::previewRequested);
        await(assistant.previewTask(assistant.files()->paginatedFiles().constFirst()));
        Log::useStandardOutput();

        QTEST(assistant.previewMessage(), "message");
        QCOMPARE(requested.size(), opened.isEmpty() ? 0 : 1);
        QCOMPARE(server.requestsTo("GET", "/api/v2/docx").size(), downloadStatus ? 1 : 0);
        if (opened == u"result") {
            const QString path = requested[0][0].toUrl().toLocalFile();
            QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(temp).absoluteFilePath());
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("%PDF-1.4 result"));
        } else if (opened == u"documents") {
            QCOMPARE(requested[0][0].toUrl(), QUrl::fromLocalFile(QDir(documents).filePath(name)));
        }
        // The chat names the file shown, or the one looked for.
        QCOMPARE(assistant.selectedPDFName().isEmpty(), false);
        qunsetenv("TMPDIR");
    }
};

QTEST_MAIN(TestAssistant)
#include "tst_assistant.moc"
