// The client's operations table against the service's own: every code the client sends is
// one the service knows, and a result is named after what the service produces.
#include "Records.h"
#include "conversion/OperationCatalogue.h"
#include "history/TaskLook.h"
#include "service/Operations.h"

#include <QTest>

using namespace quorvel;

class TestOperations : public QObject {
    Q_OBJECT
private slots:
    void everyRowAgainstTheService_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("resultAsServed");
        // The older codes' results keep the ".docx" the client has always named them with.
        const QStringList namedDocx{QStringLiteral("DOC2PDF"), QStringLiteral("PPT2PDF")};
        for (const Operations::Operation &op : Operations::all())
            QTest::newRow(op.name.toLatin1().constData())
                << op.name.toString() << !namedDocx.contains(op.typeCode);
    }
    void everyRowAgainstTheService() {
        QFETCH(QString, name);
        QFETCH(bool, resultAsServed);
        const Operations::Operation *op = Operations::find(name);
        QVERIFY(op);
        QVERIFY(OperationCatalogue::needsConversion(name));
        const QString code = OperationCatalogue::conversionTypeCode(name);
        const std::optional<server::Operation> served = server::findOperation(code);
        QVERIFY2(served, qPrintable(code));
        QCOMPARE(served->code, code);
        // A history lists codes in any case; the result extension follows the code.
        for (const QString &listed : {code, code.toLower()}) {
            const QString extension = OperationCatalogue::resultExtension(listed);
            if (resultAsServed)
                QCOMPARE(extension, u'.' + served->resultType);
            else
                QCOMPARE(extension, QStringLiteral(".docx"));
        }
        // The row's code is the one its rule forms from the name, so a name no row
        // has yet is sent with the code a new row would carry.
        QString formed;
        switch (op->codeRule) {
        case Operations::CodeRule::Fixed:
            formed = code;
            break;
        case Operations::CodeRule::Reverse:
            formed = name.section(u' ', 0, 0) + QStringLiteral("2PDF");
            break;
        case Operations::CodeRule::Forward:
            formed = QString(name)
                         .replace(QStringLiteral("PDF to "), QStringLiteral("PDF2"))
                         .remove(u' ')
                         .toUpper();
            break;
        }
        QCOMPARE(code, formed);
        // Every accepted extension is one the picker offers or any file is offered.
        for (QStringView ext : op->extensions.tokenize(u' '))
            QVERIFY(OperationCatalogue::isExtensionAccepted(name, ext.toString()));
        QVERIFY(!OperationCatalogue::isExtensionAccepted(name, QStringLiteral("exe")));
    }
    // The service lists a job's code in lower case, and every code a tool produces finds an
    // icon of its own there; only PDF to DOC's is the generic document.
    void listedCodesFindTheirIcons_data() {
        QTest::addColumn<QString>("code");
        for (const Operations::Operation &op : Operations::all())
            if (!op.group.isEmpty())
                QTest::newRow(op.name.toLatin1().constData()) << op.typeCode.toString();
    }
    void listedCodesFindTheirIcons() {
        QFETCH(QString, code);
        server::JobRecord job;
        job.typ = server::findOperation(code)->code;
        const QString listed = server::jobJson(job).value(u"typ").toString();
        QCOMPARE(listed, code.toLower());
        const QString icon = TaskLook::typeIcon(listed);
        QCOMPARE(icon == u"doc.fill", code == u"PDF2DOC");
        QCOMPARE(TaskLook::typeIcon(code), QStringLiteral("doc.fill")); // as a retry sends it
    }
    void offeredRowsAreTheToolRows() {
        QStringList offered;
        for (const Operations::Operation &op : Operations::all())
            if (!op.group.isEmpty())
                offered << op.name.toString();
        QCOMPARE(OperationCatalogue::offeredOperations(), offered);
        QCOMPARE(offered.size(), 8);
    }
};

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"
