#include "conversion/PDFViewModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace quorvel;

// What the window alone needs of the view model: the eased progress animation, the
// simulation's pace, the reset behind "Reselect file" and the file intake.
class TestViewModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void simulationSteps_data() {
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<int>("steps");
        QTest::newRow("empty file: at least 10") << qint64(0) << 10;
        QTest::newRow("just under 1.1 MB") << qint64(1'099'999) << 10;
        QTest::newRow("1.1 MB") << qint64(1'100'000) << 11;
        QTest::newRow("1 GiB") << (qint64(1) << 30) << 50;
    }
    void simulationSteps() {
        QFETCH(qint64, fileSize);
        QTEST(PDFViewModel::simulationSteps(fileSize), "steps");
    }

    // The bar eases in and out over its steps, lands exactly on the target, and a new
    // target restarts from where the bar stands.
    void animateProgress() {
        PDFViewModel vm;
        vm.animationTickMs = 1;
        vm.animationSteps = 20;
        QList<double> seen;
        connect(&vm, &PDFViewModel::uploadProgressChanged, this,
                [&] { seen << vm.uploadProgress(); });
        vm.animateProgress(1);
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 20, 5000);
        QCOMPARE(seen.last(), 1.0);
        QVERIFY2(seen.first() < 1.0 / 20, "eased in: slower than linear at the start");
        QCOMPARE(seen.at(9), 0.5); // half the steps, half the way
        for (qsizetype i = 1; i < seen.size(); ++i)
            QVERIFY(seen[i] >= seen[i - 1]);
        QTest::qWait(20);
        QCOMPARE(seen.size(), 20); // stopped at the target

        seen.clear();
        vm.animateProgress(0.5);
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 20, 5000);
        QVERIFY(seen.first() > 0.5 && seen.first() < 1.0);
        QCOMPARE(seen.last(), 0.5);
    }

    // "Reselect file": every intake and progress field back to its start, the animation
    // stopped, and every change announced.
    void resetClearsEverything() {
        PDFViewModel vm;
        vm.animationTickMs = 5;
        vm.animationSteps = 1000;
        vm.addPickedFiles({QUrl::fromLocalFile("/tmp/a.pdf")});
        vm.setProcessingState(ProcessingState::error("boom"));
        vm.setActualUploadProgress(0.7);
        vm.setUploadedFiles({FileUploadData{}});
        vm.animateProgress(1);
        QTRY_VERIFY_WITH_TIMEOUT(vm.uploadProgress() > 0, 5000);
        QSignalSpy files(&vm, &PDFViewModel::selectedFilesChanged);
        QSignalSpy processed(&vm, &PDFViewModel::processedFilesChanged);
        QSignalSpy state(&vm, &PDFViewModel::processingStateChanged);
        QSignalSpy password(&vm, &PDFViewModel::passwordChanged);
        QSignalSpy uploaded(&vm, &PDFViewModel::uploadedFilesChanged);
        vm.reset();
        QVERIFY(vm.selectedFiles().isEmpty());
        QVERIFY(vm.processedFiles().isEmpty());
        QCOMPARE(vm.processingState(), ProcessingState::idle());
        QCOMPARE(vm.password(), QString());
        QCOMPARE(vm.uploadProgress(), 0.0);
        QCOMPARE(vm.actualUploadProgress(), 0.0);
        QVERIFY(vm.uploadedFiles().isEmpty());
        for (QSignalSpy *spy : {&files, &processed, &state, &password, &uploaded})
            QCOMPARE(spy->count(), 1);
        QTest::qWait(50);
        QCOMPARE(vm.uploadProgress(), 0.0); // the animation did not go on
    }

    // Picked files are appended as chosen; a drop keeps only the local files the
    // operation takes and is refused when there is none.
    void fileIntake_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QList<QUrl>>("dropped");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QList<QUrl>>("selected");
        const QUrl picked = QUrl::fromLocalFile("/tmp/picked.pdf");
        const QUrl pdf = QUrl::fromLocalFile("/tmp/a.pdf");
        const QUrl text = QUrl::fromLocalFile("/tmp/b.txt");
        const QUrl docx = QUrl::fromLocalFile("/tmp/c.docx");
        const QUrl remote("https://example.com/d.pdf");
        QTest::newRow("only the suitable local files")
            << "PDF to DOC" << QList<QUrl>{text, pdf, remote, pdf} << true
            << QList<QUrl>{picked, picked, pdf, pdf};
        QTest::newRow("nothing suitable: refused, nothing added")
            << "PDF to DOC" << QList<QUrl>{text, docx, remote} << false
            << QList<QUrl>{picked, picked};
        QTest::newRow("any file for an unlisted operation")
            << "Watermark" << QList<QUrl>{text, remote} << true
            << QList<QUrl>{picked, picked, text};
    }
    void fileIntake() {
        QFETCH(QString, operation);
        QFETCH(QList<QUrl>, dropped);
        QFETCH(bool, accepted);
        PDFViewModel vm;
        const QUrl picked = QUrl::fromLocalFile("/tmp/picked.pdf");
        vm.addPickedFiles({picked, picked});
        vm.addPickedFiles({});
        QSignalSpy changed(&vm, &PDFViewModel::selectedFilesChanged);
        QCOMPARE(vm.canDrop(dropped, operation), accepted);
        QCOMPARE(vm.dropFiles(dropped, operation), accepted);
        QTEST(vm.selectedFiles(), "selected");
        QCOMPARE(changed.count(), accepted ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestViewModel)
#include "tst_viewmodel.moc"
