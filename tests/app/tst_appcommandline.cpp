#include "AppCommandLine.h"

#include <QProcess>
#include <QTest>

using namespace quorvel;
using Action = AppArguments::Action;

class TestAppCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("no arguments") << QStringList{} << int(Action::Run) << QStringList{};
        QTest::newRow("files keep their order")
            << QStringList{"b.pdf", "/tmp/a.docx"} << int(Action::Run)
            << QStringList{"b.pdf", "/tmp/a.docx"};
        QTest::newRow("help wins over files")
            << QStringList{"a.pdf", "--help"} << int(Action::Help) << QStringList{};
        QTest::newRow("short help") << QStringList{"-h"} << int(Action::Help) << QStringList{};
        QTest::newRow("version") << QStringList{"--version"} << int(Action::Version)
                                 << QStringList{};
        QTest::newRow("after -- a dash name is a file")
            << QStringList{"--", "--help", "-x.pdf"} << int(Action::Run)
            << QStringList{"--help", "-x.pdf"};
        QTest::newRow("lone dash is a file")
            << QStringList{"-"} << int(Action::Run) << QStringList{"-"};
        QTest::newRow("unknown option refused")
            << QStringList{"a.pdf", "--frobnicate"} << int(Action::Error) << QStringList{};
    }
    void parse() {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(QStringList, files);
        const AppArguments parsed = parseAppArguments(arguments);
        QCOMPARE(int(parsed.action), action);
        QCOMPARE(parsed.files, files);
        QCOMPARE(parsed.problem.isEmpty(), action != int(Action::Error));
    }

    // Over SSH or in a package check there is no display: the answers must not need one.
    void informationWithoutDisplay_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("expected");
        QTest::newRow("version") << "--version"
                                 << "quorvel " QUORVEL_VERSION "\n";
        QTest::newRow("help") << "--help"
                              << "Usage: quorvel [OPTION]... [FILE]...\n";
    }
    void informationWithoutDisplay() {
        QFETCH(QString, option);
        QFETCH(QString, expected);
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(QUORVEL_APP_BINARY), {option});
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(QString::fromLocal8Bit(app.readAllStandardOutput()).startsWith(expected));
    }

    void unknownOptionFailsBeforeAWindow() {
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(QUORVEL_APP_BINARY), {QStringLiteral("--frobnicate")});
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitCode(), 2);
        QVERIFY(app.readAllStandardError().contains("--frobnicate"));
    }
};

QTEST_GUILESS_MAIN(TestAppCommandLine)
#include "tst_appcommandline.moc"
