#include "cli/CommandLine.h"

#include <QTest>

using namespace quorvel;
using namespace quorvel::cli;

Q_DECLARE_METATYPE(quorvel::cli::Command)

class TestCliCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Command lines that run, and what each asks for.
    void accepted_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Command>("command");
        QTest::addColumn<bool>("json");
        QTest::addColumn<bool>("trace");
        QTest::addColumn<QString>("detail"); // the command's main argument as parsed

        QTest::newRow("globals before")
            << QStringList{"--json", "--trace", "whoami"} << Command::Whoami << true << true << "";
        QTest::newRow("globals after")
            << QStringList{"balance", "--json"} << Command::Balance << true << false << "";
        QTest::newRow("operation with spaces")
            << QStringList{"convert", "PDF to DOC", "a.pdf", "b.pdf"} << Command::Convert << false
            << false << "PDF to DOC|a.pdf,b.pdf";
        QTest::newRow("dash file after --")
            << QStringList{"convert", "Compress", "--", "-odd.pdf"} << Command::Convert << false
            << false << "Compress|-odd.pdf";
        QTest::newRow("help topic")
            << QStringList{"help", "convert"} << Command::Help << false << false << "convert";
        QTest::newRow("help wins over missing args")
            << QStringList{"convert", "-h"} << Command::Help << false << false << "convert";
        // Option values given inline ("--name=value"), spaces kept.
        QTest::newRow("inline download directory")
            << QStringList{"convert", "PDF to MD", "a.pdf", "--wait", "--download=out dir"}
            << Command::Convert << false << false << "PDF to MD|a.pdf|wait|out dir";
        QTest::newRow("inline target directory") << QStringList{"download", "j", "--to=/x"}
                                                 << Command::Download << false << false << "j|/x";
        QTest::newRow("history default")
            << QStringList{"history"} << Command::History << false << false << "All|";
        QTest::newRow("history filter in any case")
            << QStringList{"history", "--filter=Converting"} << Command::History << false << false
            << "Converting|";
        QTest::newRow("history filter and search")
            << QStringList{"history", "--filter", "completed", "--search", " q3 "}
            << Command::History << false << false << "Completed| q3 ";
        QTest::newRow("history search that looks like an option")
            << QStringList{"history", "--search", "--json"} << Command::History << false << false
            << "All|--json";
    }
    void accepted() {
        QFETCH(QStringList, args);
        QFETCH(Command, command);
        QFETCH(bool, json);
        QFETCH(bool, trace);
        QFETCH(QString, detail);

        const ParseResult r = parse(args);
        QVERIFY2(!r.error, qPrintable(r.error ? r.error->message : QString()));
        QVERIFY(r.invocation);
        const Invocation &inv = *r.invocation;
        QCOMPARE(inv.command, command);
        QCOMPARE(inv.json, json);
        QCOMPARE(inv.trace, trace);
        QString parsed;
        switch (command) {
        case Command::Login:
            parsed = inv.email;
            break;
        case Command::Convert:
            parsed = inv.operation + u'|' + inv.files.join(u',') +
                     (inv.wait ? QStringLiteral("|wait") : QString()) +
                     (inv.downloadDir.isEmpty() ? QString() : u'|' + inv.downloadDir);
            break;
        case Command::Status:
        case Command::Retry:
            parsed = inv.jobId;
            break;
        case Command::Download:
            parsed = inv.jobId + (inv.toDir.isEmpty() ? QString() : u'|' + inv.toDir);
            break;
        case Command::History:
            parsed = rawValue(inv.filter) + u'|' + inv.search;
            break;
        case Command::Help:
            parsed = inv.helpTopic;
            break;
        default:
            break;
        }
        QCOMPARE(parsed, detail);
    }

    // Command lines that must not run: one line naming the mistake.
    void refused_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("fragment");

        QTest::newRow("nothing") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"convrt"} << "unknown command 'convrt'";
        QTest::newRow("login empty email") << QStringList{"login", ""} << "EMAIL must not be empty";
        QTest::newRow("convert no file") << QStringList{"convert", "PDF to DOC"} << "missing FILE";
        QTest::newRow("unknown operation lists the names")
            << QStringList{"convert", "pdf to doc", "a.pdf"}
            << "unknown operation \"pdf to doc\"; the operations are \"PDF to DOC\", \"PDF to "
               "PPTX\", \"PDF to IMG\", \"PDF to MD\", \"DOCX to PDF\", \"PPTX to PDF\", \"MD to "
               "PDF\", \"Compress\"";
        QTest::newRow("timeout of zero")
            << QStringList{"convert", "Compress", "a.pdf", "--wait", "--timeout", "0"}
            << "--timeout needs a whole number of seconds from 1, not '0'";
        QTest::newRow("timeout without wait")
            << QStringList{"convert", "Compress", "a.pdf", "--timeout", "5"}
            << "--timeout needs --wait";
        QTest::newRow("flag with value")
            << QStringList{"retry", "j", "--wait=yes"} << "option '--wait' takes no value";
        QTest::newRow("option of another command")
            << QStringList{"status", "j", "--wait"} << "unknown option '--wait' for 'status'";
        QTest::newRow("bad filter") << QStringList{"history", "--filter", "done"}
                                    << "unknown filter 'done'; use one of all, completed, "
                                       "converting, failed";
        QTest::newRow("empty id") << QStringList{"retry", ""} << "JOB_ID must not be empty";
        QTest::newRow("empty directory")
            << QStringList{"download", "j", "--to", ""} << "DIR must not be empty";
    }
    void refused() {
        QFETCH(QStringList, args);
        QFETCH(QString, fragment);
        const ParseResult r = parse(args);
        QVERIFY(!r.invocation);
        QVERIFY(r.error);
        const QString &message = r.error->message;
        QVERIFY2(message.startsWith(QLatin1String("quorvel-cli: ")), qPrintable(message));
        QVERIFY2(message.contains(fragment), qPrintable(message));
        QVERIFY2(!message.contains(u'\n'), qPrintable(message));
    }

    // Every command has its own usage text, and the program's lists every command.
    void helpTexts() {
        const QString program = helpText();
        for (const QString &name : commandNames()) {
            const QString text = helpText(name);
            QVERIFY2(!text.isEmpty(), qPrintable(name));
            QVERIFY2(text.startsWith(QStringLiteral("Usage: quorvel-cli [--json] [--trace] ")),
                     qPrintable(name));
            if (name != u"help") {
                QVERIFY2(text.contains(u' ' + name), qPrintable(name));
                QVERIFY2(program.contains(QStringLiteral("\n  ") + name + u' '), qPrintable(name));
            }
        }
        QVERIFY(program.contains(QLatin1String("QUORVEL_POLL_INTERVAL_MS")));
        QVERIFY(program.contains(QLatin1String("QUORVEL_API_ORIGIN")));
    }

    void pollInterval_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("milliseconds"); // -1: not set
        QTest::addColumn<bool>("problem");

        QTest::newRow("unset") << "" << -1 << false;
        QTest::newRow("fast") << "20" << 20 << false;
        QTest::newRow("zero") << "0" << -1 << true;
        QTest::newRow("words") << "fast" << -1 << true;
        QTest::newRow("too long") << "3600001" << -1 << true;
    }
    void pollInterval() {
        QFETCH(QString, value);
        QFETCH(int, milliseconds);
        QFETCH(bool, problem);
        const PollIntervalSetting s = pollIntervalSetting(value);
        QCOMPARE(s.milliseconds.value_or(-1), milliseconds);
        QCOMPARE(!s.problem.isEmpty(), problem);
    }
};

QTEST_GUILESS_MAIN(TestCliCommandLine)
#include "tst_clicommandline.moc"
