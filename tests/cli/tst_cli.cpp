#include "ClientTest.h"

#include "conversion/OperationCatalogue.h"
#include "service/AuthManager.h"

#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QSocketNotifier>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

const QString kToken = QStringLiteral("tok-1234567890");

QJsonObject job(const QString &id, int status, const QString &fileName = "Report.pdf",
                const QString &typ = "pdf2doc") {
    return {{"id", id},
            {"user_id", "u1"},
            {"typ", typ},
            {"file_name", fileName},
            {"page_number", 4},
            {"source_file_path", "/store/" + fileName},
            {"source_file_typ", "pdf"},
            {"result_file_typ", "docx"},
            {"source_file_md5", "md5-" + id},
            {"status", status},
            {"create_at", "2026-12-06 10:00:00"}};
}

QByteArray userInfo(bool lifetime) {
    return envelope(QJsonObject{{"email", "ann@example.com"},
                                {"is_lifetimedeal_member", lifetime},
                                {"lifetime_member_description", "Lifetime deal"},
                                {"page_balcance_description", "Pages bought: 100"},
                                {"lft_daily_usage", 12},
                                {"lft_daily_total", 10}});
}

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QJsonValue parseJson(const QByteArray &bytes) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return QJsonValue(QJsonValue::Undefined);
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

QStringList ids(const QJsonArray &array) {
    QStringList out;
    for (const QJsonValue &v : array)
        out << v.toObject().value("id").toString();
    return out;
}

using Answers = QList<QPair<QByteArray, ScriptedResponse>>; // "METHOD target", answer

} // namespace

// The built binary against the scripted loopback service: exit status, standard output
// and standard error of every command.
class TestCli : public QObject {
    Q_OBJECT
    // One preferences store for the whole run, read and written by this process and the CLI
    // it runs alike: Qt settles its location once per process.
    ScriptedService m_server;
    std::unique_ptr<QTemporaryDir> m_home;
    QProcessEnvironment m_extraEnv;

    QString configHome() const { return m_server.environment().configHome(); }
    QString tempDir() const { return m_home->filePath("tmp"); }

    // Runs the CLI with a private preferences store and temporary directory, while this
    // process's event loop keeps the scripted server answering.
    void prepare(QProcess &process, const QStringList &args, const char *pollMs) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUORVEL_API_ORIGIN", m_server.origin());
        env.insert("XDG_CONFIG_HOME", configHome());
        env.insert("TMPDIR", tempDir());
        env.insert("QUORVEL_POLL_INTERVAL_MS", pollMs);
        // The same file this process writes, whatever keyring the machine has.
        env.insert("QUORVEL_TOKEN_STORE", "file");
        for (const QString &key : m_extraEnv.keys())
            env.insert(key, m_extraEnv.value(key));
        process.setProcessEnvironment(env);
        process.setProgram(QString::fromUtf8(QUORVEL_CLI_PATH));
        process.setArguments(args);
    }

    // Waits for the run to end, within a bound; its exit status and standard output.
    static CliRun ended(QProcess &process, QSignalSpy &finished) {
        if (finished.isEmpty() && !finished.wait(60'000)) {
            process.kill();
            process.waitForFinished(5'000);
            return {};
        }
        CliRun r;
        r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        r.out = process.readAllStandardOutput();
        return r;
    }

    CliRun run(const QStringList &args, const QByteArray &input = {}) {
        QProcess process;
        prepare(process, args, "20");
        QSignalSpy finished(&process, &QProcess::finished);
        process.start();
        if (!process.waitForStarted(10'000))
            return {};
        process.write(input);
        process.closeWriteChannel();
        CliRun r = ended(process, finished);
        r.err = process.readAllStandardError();
        return r;
    }

    // Runs the CLI with standard error (and standard input when `terminalInput`) on a
    // pseudo-terminal; what the terminal showed lands in `screen`. `typed` is sent once
    // `waitFor` has appeared on the screen, as a person would type after a prompt.
    CliRun runOnTerminal(const QStringList &args, bool terminalInput, const QByteArray &waitFor,
                         const QByteArray &typed, QByteArray *screen) {
        int master = -1;
        int slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return {};
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        const auto drain = [master, screen] {
            char buffer[4096];
            qint64 n = 0;
            while ((n = ::read(master, buffer, sizeof buffer)) > 0)
                screen->append(buffer, n);
        };
        QSocketNotifier notifier(master, QSocketNotifier::Read);
        connect(&notifier, &QSocketNotifier::activated, this, drain);

        QProcess process;
        prepare(process, args, "300");
        process.setChildProcessModifier([slave, terminalInput] {
            ::setsid();
            if (terminalInput)
                ::dup2(slave, STDIN_FILENO);
            ::dup2(slave, STDERR_FILENO);
        });
        QSignalSpy finished(&process, &QProcess::finished);
        process.start();
        ::close(slave);
        if (!process.waitForStarted(10'000)) {
            ::close(master);
            return {};
        }
        if (!terminalInput)
            process.closeWriteChannel();
        if (!waitFor.isEmpty()) {
            if (!QTest::qWaitFor([&] { return screen->contains(waitFor); }, 10'000))
                return {};
            if (::write(master, typed.constData(), size_t(typed.size())) != typed.size())
                return {};
        }
        CliRun r = ended(process, finished);
        drain();
        ::close(master);
        r.err = *screen;
        return r;
    }

    void signIn() { TokenStore::write(kToken); }

    // The account: its user record and its page balance (100 pages, 130 used).
    void scriptAccount(bool lifetime = false, int balanceStatus = 200) {
        m_server.answer("GET", kMe, 200, userInfo(lifetime));
        m_server.answer("GET", kBalance, balanceStatus,
                        envelope(QJsonObject{{"total_pages", 100}, {"consumed_pages", 130}}));
    }

    QString writeFile(const QString &name, const QByteArray &content) {
        const QString path = m_home->filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(content);
        return path;
    }

    // "Report.pdf" uploaded and accepted as job-1, whose status checks get `checks`.
    QString scriptOneJob(const QList<ScriptedResponse> &checks, const QJsonArray &history) {
        signIn();
        m_server.answer("POST", kUpload, 200, uploadAnswer("Report.pdf"));
        m_server.answer("POST", kConvert, 200, envelope(job("job-1", 0)));
        m_server.script("GET", kStatus + "job-1", checks);
        m_server.answer("GET", kHistory, 200, historyAnswer(history));
        return writeFile("Report.pdf", "%PDF");
    }

private Q_SLOTS:
    void init() {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        QDir().mkpath(tempDir());
        m_extraEnv = {};
        m_server.reset();
    }

    // Runs that end at once: exit status, standard output (as it starts), one line on standard
    // error containing `err` (or none). "~/name" in the arguments is a file in the home
    // directory, written unless its name starts with "missing". With no answers scripted,
    // nothing reaches the service.
    void runs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("env"); // name, value
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        const auto answer = [](const QByteArray &route, int status, const QByteArray &body) {
            return Answers{{route, ScriptedResponse::json(status, body)}};
        };
        const QByteArray convert = "POST " + kConvert;
        QTest::newRow("no command") << QStringList{} << QStringList{} << Answers{} << QByteArray()
                                    << 2 << QByteArray() << QByteArray("no command given");
        QTest::newRow("plain http to a remote host")
            << QStringList{"history"}
            << QStringList{"QUORVEL_API_ORIGIN", "http://convert.example.com"} << Answers{}
            << QByteArray() << 1 << QByteArray()
            << QByteArray("The service origin \"http://convert.example.com\" is not usable");
        QTest::newRow("poll interval")
            << QStringList{"history"} << QStringList{"QUORVEL_POLL_INTERVAL_MS", "soon"}
            << Answers{} << QByteArray() << 2 << QByteArray()
            << QByteArray("QUORVEL_POLL_INTERVAL_MS must be a whole number");
        QTest::newRow("help convert")
            << QStringList{"help", "convert"} << QStringList{} << Answers{} << QByteArray() << 0
            << QByteArray("Usage: quorvel-cli [--json] [--trace] convert OPERATION FILE... "
                          "[--wait [--download DIR] [--timeout S]]")
            << QByteArray();
        QTest::newRow("version") << QStringList{"--version"} << QStringList{} << Answers{}
                                 << QByteArray() << 0
                                 << QByteArray("quorvel-cli " QUORVEL_VERSION "\n") << QByteArray();
        QTest::newRow("login without password")
            << QStringList{"login", "ann@example.com", "--password-stdin"} << QStringList{}
            << Answers{} << QByteArray() << 1 << QByteArray() << QByteArray("No password given");
        QTest::newRow("status")
            << QStringList{"status", "job-1"} << QStringList{}
            << answer("GET " + kStatus + "job-1", 200, envelope(job("job-1", 1))) << QByteArray()
            << 0
            << QByteArray("ID     STATUS     TYPE     PAGES  CREATED              FILE\n"
                          "job-1  Completed  pdf2doc  4      2026-12-06 10:00:00  Report.pdf\n")
            << QByteArray();
        QTest::newRow("status of an unknown job")
            << QStringList{"status", "job-1"} << QStringList{}
            << answer("GET " + kStatus + "job-1", 404, "{}") << QByteArray() << 1 << QByteArray()
            << QByteArray("The operation couldn’t be completed. (Status check failed error 404.)");
        // A failed fetch is an error, never an empty history.
        QTest::newRow("history: server error")
            << QStringList{"history"} << QStringList{} << answer("GET " + kHistory, 500, "{}")
            << QByteArray() << 1 << QByteArray()
            << QByteArray(
                   "The operation couldn’t be completed. (Failed to fetch history error 500.)");
        QTest::newRow("history: sign-in refused")
            << QStringList{"history"} << QStringList{} << answer("GET " + kHistory, 401, "{}")
            << QByteArray() << 1 << QByteArray() << QByteArray("The service refused the sign-in");
        QTest::newRow("history: empty account")
            << QStringList{"history"} << QStringList{}
            << answer("GET " + kHistory, 200, historyAnswer({})) << QByteArray() << 0
            << QByteArray("No conversion tasks yet\n") << QByteArray();
        // Refused before anything is sent: nothing uploaded, nothing lost.
        QTest::newRow("convert: wrong format, the whole alert text")
            << QStringList{"convert", "PDF to DOC", "~/notes.txt"} << QStringList{} << Answers{}
            << QByteArray() << 1 << QByteArray()
            << OperationCatalogue::validationAlertText("PDF to DOC", "txt").toUtf8();
        QTest::newRow("convert: missing file")
            << QStringList{"convert", "PDF to DOC", "~/missing.pdf"} << QStringList{} << Answers{}
            << QByteArray() << 1 << QByteArray() << QByteArray("cannot read '");
        QTest::newRow("convert: job refused")
            << QStringList{"convert", "PDF to DOC", "~/Report.pdf"} << QStringList{}
            << answer("POST " + kUpload, 200, uploadAnswer("Report.pdf")) +
                   answer(convert, 402, "{}")
            << QByteArray() << 1 << QByteArray() << QByteArray("402");
    }
    void runs() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, env);
        QFETCH(Answers, answers);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        signIn();
        if (!env.isEmpty())
            m_extraEnv.insert(env[0], env[1]);
        for (const auto &[route, answer] : answers)
            m_server.script(route.left(route.indexOf(' ')), route.mid(route.indexOf(' ') + 1),
                            {answer});
        for (QString &arg : args)
            if (arg.startsWith("~/"))
                arg = arg.mid(2).startsWith("missing") ? m_home->filePath(arg.mid(2))
                                                       : writeFile(arg.mid(2), "%PDF");
        const CliRun r = run(args, input);
        QTEST(r.exitCode, "exitCode");
        QVERIFY2(out.isEmpty() ? r.out.isEmpty() : r.out.startsWith(out), r.out.constData());
        QVERIFY2(r.err.contains(err), r.err.constData());
        QCOMPARE(r.err.count('\n'), err.isEmpty() ? 0 : err.count('\n') + 1);
        if (answers.isEmpty())
            QCOMPARE(m_server.requestCount(), 0);
    }

    // --- account ---

    void login_data() {
        QTest::addColumn<ScriptedResponse>("answer");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<bool>("stored");

        QTest::newRow("signed in")
            << ScriptedResponse::json(200, envelope(QJsonObject{{"token", kToken}})) << 0
            << QByteArray("Signed in as ann@example.com\n") << QByteArray() << true;
        QTest::newRow("wrong password")
            << ScriptedResponse::json(401, R"({"code":401,"msg":"no"})") << 1 << QByteArray()
            << QByteArray("Invalid email or password\n") << false;
    }
    void login() {
        QFETCH(ScriptedResponse, answer);
        QFETCH(int, exitCode);
        m_server.script("POST", kLogin, {answer});
        scriptAccount();
        // Spaces are part of a password; only the line ending is not.
        const CliRun r = run({"login", "ann@example.com"}, " secret pw \n");
        QCOMPARE(r.exitCode, exitCode);
        QTEST(r.out, "out");
        QTEST(r.err, "err");
        QFETCH(bool, stored);
        QCOMPARE(TokenStore::read().value_or(QString()), stored ? kToken : QString());

        const auto logins = m_server.requestsTo("POST", kLogin);
        QCOMPARE(logins.size(), 1);
        const QJsonObject body = QJsonDocument::fromJson(logins[0].body).object();
        QCOMPARE(body.value("email").toString(), QStringLiteral("ann@example.com"));
        QCOMPARE(body.value("password").toString(), QStringLiteral(" secret pw "));
    }

    // At a terminal the password is asked for and not echoed.
    void loginAtTerminal() {
        m_server.answer("POST", kLogin, 200, envelope(QJsonObject{{"token", kToken}}));
        scriptAccount();
        QByteArray screen;
        const CliRun r = runOnTerminal({"login", "ann@example.com"}, true,
                                       "Password: ", "typed secret\n", &screen);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("Signed in as ann@example.com\n"));
        QVERIFY2(screen.startsWith("Password: "), screen.constData());
        QVERIFY2(!screen.contains("typed secret"), screen.constData());
        const auto logins = m_server.requestsTo("POST", kLogin);
        QCOMPARE(logins.size(), 1);
        QCOMPARE(QJsonDocument::fromJson(logins[0].body).object().value("password").toString(),
                 QStringLiteral("typed secret"));
    }

    // A stored token is used by the next run without a new sign-in, and logout forgets
    // it without asking the service anything.
    void logout() {
        signIn();
        const CliRun r = run({"logout"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("Signed out\n"));
        QCOMPARE(r.err, QByteArray());
        QVERIFY(!TokenStore::read());
        QCOMPARE(m_server.requestCount(), 0);

        const CliRun again = run({"whoami"});
        QCOMPARE(again.exitCode, 1);
        QCOMPARE(again.err,
                 QByteArray("Not signed in; sign in with 'quorvel-cli login EMAIL' first\n"));
    }

    void account_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("lifetime");
        QTest::addColumn<int>("balanceStatus");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");

        const QByteArray pagesOut = "Usage  Remain  Total\n130    0       100\nPages bought: 100\n";
        QTest::newRow("whoami") << QStringList{"whoami"} << false << 200 << 0
                                << QByteArray("Email:                ann@example.com\n"
                                              "Lifetime membership:  no\n"
                                              "Membership:           Lifetime deal\n"
                                              "Page balance:         Pages bought: 100\n")
                                << QByteArray();
        QTest::newRow("balance pages")
            << QStringList{"balance"} << false << 200 << 0 << pagesOut << QByteArray();
        QTest::newRow("balance lifetime, balance unavailable")
            << QStringList{"balance"} << true << 500 << 0
            << QByteArray("Lifetime Membership\nLifetime deal\nDaily Usage: 12/10  Remain: -2\n")
            << QByteArray();
        QTest::newRow("balance missing")
            << QStringList{"balance"} << false << 500 << 1 << QByteArray()
            << QByteArray("The operation couldn’t be completed. (Invalid response error -1.)\n");
        QTest::newRow("balance json")
            << QStringList{"--json", "balance"} << false << 200 << 0
            << QByteArray(R"({"consumed_pages":130,"total_pages":100})") << QByteArray();
    }
    void account() {
        QFETCH(QStringList, args);
        QFETCH(bool, lifetime);
        QFETCH(int, balanceStatus);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        signIn();
        scriptAccount(lifetime, balanceStatus);
        const CliRun r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        if (args.contains("--json"))
            QCOMPARE(QJsonDocument::fromJson(r.out).toJson(QJsonDocument::Compact), out);
        else
            QCOMPARE(r.out, out);
        QTEST(r.err, "err");
        const auto me = m_server.requestsTo("GET", kMe);
        QCOMPARE(me.size(), 1);
        QCOMPARE(me[0].header("Authorization"), "Bearer " + kToken.toUtf8());
    }

    // --trace writes the desktop app's diagnostic lines to standard error unchanged;
    // without it nothing of them is written anywhere.
    void trace() {
        signIn();
        scriptAccount();
        const CliRun traced = run({"--trace", "whoami"});
        QCOMPARE(traced.exitCode, 0);
        QVERIFY(traced.out.startsWith("Email:"));
        const QList<QByteArray> lines = traced.err.split('\n');
        QVERIFY(lines.contains(QStringLiteral("🔄 加载已保存的用户信息，令牌: tok-12…").toUtf8()));
        QVERIFY(traced.err.contains(m_server.origin().toUtf8() + kMe));
        QVERIFY(!traced.err.contains(kToken.toUtf8()));

        const CliRun quiet = run({"whoami"});
        QCOMPARE(quiet.exitCode, 0);
        QCOMPARE(quiet.out, traced.out);
        QCOMPARE(quiet.err, QByteArray());
    }

    // --- catalogue, status, history ---

    void operations() {
        const CliRun human = run({"operations"});
        QCOMPARE(human.exitCode, 0);
        const QStringList lines = QString::fromUtf8(human.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1 + OperationCatalogue::offeredOperations().size());
        QCOMPARE(lines[1], QStringLiteral("PDF to DOC   Convert          PDF"));
        const CliRun json = run({"operations", "--json"});
        QCOMPARE(json.exitCode, 0);
        QStringList names;
        for (const QJsonValue &v : parseJson(json.out).toArray())
            names << v.toObject().value("name").toString();
        QCOMPARE(names, OperationCatalogue::offeredOperations());
        QCOMPARE(m_server.requestCount(), 0);
    }

    void statusJson() {
        m_server.answer("GET", kStatus + "job-9", 200, envelope(job("job-9", 0)));
        const CliRun r = run({"--json", "status", "job-9"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(parseJson(r.out).toObject(), job("job-9", 0));
        // Without a stored token the request goes without one; the service decides.
        QVERIFY(!m_server.requestsTo("GET", kStatus + "job-9").value(0).hasHeader("Authorization"));
    }

    void history_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expectedIds");
        const QStringList all = {"a", "b", "c", "d"};
        QTest::newRow("all in service order") << QStringList{} << all;
        QTest::newRow("converting") << QStringList{"--filter", "converting"} << QStringList{"b"};
        QTest::newRow("search and filter")
            << QStringList{"--search", "report", "--filter", "failed"} << QStringList{"c"};
        QTest::newRow("search with a leading space")
            << QStringList{"--search", " report"} << QStringList{};
    }
    void history() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expectedIds);
        signIn();
        m_server.answer("GET", kHistory, 200,
                        historyAnswer({job("a", 1, "q3-report.pdf"), job("b", 0, "notes.pdf"),
                                       job("c", 2, "Report.pdf"), job("d", 1, "x.pdf")}));
        const CliRun json = run(QStringList{"history", "--json"} + args);
        QCOMPARE(json.exitCode, 0);
        QCOMPARE(json.err, QByteArray());
        const QJsonValue parsed = parseJson(json.out);
        QVERIFY(parsed.isArray());
        QCOMPARE(ids(parsed.toArray()), expectedIds);

        const CliRun human = run(QStringList{"history"} + args);
        QCOMPARE(human.exitCode, 0);
        const QStringList lines = QString::fromUtf8(human.out).split('\n', Qt::SkipEmptyParts);
        if (expectedIds.isEmpty()) {
            QCOMPARE(lines, QStringList{"No matching tasks found"});
            return;
        }
        QCOMPARE(lines.size(), expectedIds.size() + 1);
        QVERIFY(lines[0].startsWith("ID  STATUS"));
        for (qsizetype i = 0; i < expectedIds.size(); ++i)
            QVERIFY2(lines[i + 1].startsWith(expectedIds[i] + "  "), qPrintable(lines[i + 1]));
    }

    // --- conversion ---

    // One whole run: validation, upload, job, polls, history reload, download.
    void convertWaitDownload() {
        signIn();
        const QString a = writeFile("Report.pdf", "%PDF-1.4 report");
        const QString b = writeFile("Memo.pdf", "%PDF-1.4 memo");
        m_server.script("POST", kUpload,
                        {ScriptedResponse::json(200, uploadAnswer("Report.pdf")),
                         ScriptedResponse::json(200, uploadAnswer("Memo.pdf"))});
        m_server.script("POST", kConvert,
                        {ScriptedResponse::json(200, envelope(job("job-1", 0, "Report.pdf"))),
                         ScriptedResponse::json(200, envelope(job("job-2", 0, "Memo.pdf")))});
        m_server.script("GET", kStatus + "job-1",
                        {ScriptedResponse::json(200, envelope(job("job-1", 0, "Report.pdf"))),
                         ScriptedResponse::json(200, envelope(job("job-1", 1, "Report.pdf")))});
        m_server.script("GET", kStatus + "job-2",
                        {ScriptedResponse::json(500, "{}"),
                         ScriptedResponse::json(200, envelope(job("job-2", 1, "Memo.pdf")))});
        m_server.answer(
            "GET", kHistory, 200,
            historyAnswer({job("job-2", 1, "Memo.pdf"), job("job-1", 1, "Report.pdf")}));
        m_server.answer("GET", kDownload + "job-1", 200, "DOCX report");
        m_server.answer("GET", kDownload + "job-2", 200, "DOCX memo");

        const QString out = m_home->filePath("results");
        const CliRun r =
            run({"--json", "convert", "PDF to DOC", a, b, "--wait", "--download", out});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
        const QJsonArray jobs = parseJson(r.out).toArray();
        QCOMPARE(ids(jobs), (QStringList{"job-1", "job-2"}));
        for (const QJsonValue &v : jobs)
            QCOMPARE(v.toObject().value("status").toInt(), 1);
        QCOMPARE(jobs[0].toObject().value("saved_path").toString(),
                 QDir(out).filePath("Report.docx"));
        for (const char *name : {"Report", "Memo"}) {
            QFile saved(QDir(out).filePath(QString::fromLatin1(name) + ".docx"));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            QCOMPARE(saved.readAll(), "DOCX " + QByteArray(name).toLower());
        }
        QVERIFY(m_server.requestsTo("GET", kStatus + "job-2").size() >= 2);
        QCOMPARE(m_server.requestsTo("GET", kHistory).size(), 2); // one reload per job
        QCOMPARE(m_server.requestsTo("GET", kDownload).size(), 2);
    }

    // The accepted job, or with --wait its end: --wait follows the job it asked about whatever
    // id the answers carry, ends on a job the service does not know, and gives up after
    // --timeout. Nothing is downloaded from a failed job.
    void convertEnds_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<ScriptedResponse>("check");
        QTest::addColumn<int>("listed"); // the job's status in the history; -1: not listed
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("statusWord"); // empty: nothing printed
        QTest::addColumn<QByteArray>("err");
        const auto check = [](const char *id, int status) {
            return ScriptedResponse::json(200, envelope(job(id, status)));
        };
        QTest::newRow("no wait: the accepted job")
            << QStringList{} << check("job-1", 1) << 1 << 0 << "Converting" << QByteArray();
        QTest::newRow("wait: completed")
            << QStringList{"--wait"} << check("job-1", 1) << 1 << 0 << "Completed" << QByteArray();
        QTest::newRow("wait: failed job fails the run")
            << QStringList{"--wait", "--download", "dl"} << check("job-1", 2) << 2 << 1 << "Failed"
            << QByteArray("The job ended failed\n");
        QTest::newRow("wait: answer names another job")
            << QStringList{"--wait"} << check("job-9", 1) << -1 << 0 << "" << QByteArray();
        QTest::newRow("wait: unknown job")
            << QStringList{"--wait"} << ScriptedResponse::json(404, "") << -1 << 1 << ""
            << QByteArray("The service does not know job 'job-1': The operation couldn’t be "
                          "completed. (Status check failed error 404.)\n");
        QTest::newRow("wait: timeout")
            << QStringList{"--wait", "--timeout", "1"} << check("job-1", 0) << -1 << 1 << ""
            << QByteArray("Gave up waiting for 1 job after 1 s\n");
    }
    void convertEnds() {
        QFETCH(QStringList, options);
        QFETCH(ScriptedResponse, check);
        QFETCH(int, listed);
        QFETCH(QString, statusWord);
        const QString a =
            scriptOneJob({check}, listed < 0 ? QJsonArray{} : QJsonArray{job("job-1", listed)});
        QStringList args{"convert", "PDF to DOC", a};
        for (const QString &o : options)
            args << (o == "dl" ? m_home->filePath("dl") : o);
        const CliRun r = run(args);
        QTEST(r.exitCode, "exitCode");
        QTEST(r.err, "err");
        QCOMPARE(m_server.requestsTo("GET", kDownload).size(), 0);
        if (statusWord.isEmpty())
            return;
        const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[1].startsWith("job-1  " + statusWord + "  "), qPrintable(lines[1]));
    }

    // On a terminal the upload shows a progress bar and the wait a spinner, all erased
    // before the results; standard output stays the same.
    void convertProgressOnTerminal() {
        const QString a = scriptOneJob({ScriptedResponse::json(200, envelope(job("job-1", 0))),
                                        ScriptedResponse::json(200, envelope(job("job-1", 1)))},
                                       {job("job-1", 1)});
        QByteArray screen;
        const CliRun r =
            runOnTerminal({"convert", "PDF to DOC", a, "--wait"}, false, {}, {}, &screen);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("ID "), r.out.constData());
        QVERIFY2(!r.out.contains('\r'), r.out.constData());
        QVERIFY2(screen.contains("100%"), screen.constData());
        QVERIFY2(screen.contains("] ") && screen.contains("Uploading"), screen.constData());
        QVERIFY2(screen.contains("Waiting for 1 job"), screen.constData());
        QVERIFY2(screen.endsWith("\r\x1b[K"), screen.constData());
    }

    // --- download and retry ---

    void download_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("toDir");
        QTest::addColumn<int>("downloadStatus");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("into the temporary directory")
            << "job-1" << false << 200 << 0 << QByteArray();
        QTest::newRow("into a directory") << "job-1" << true << 200 << 0 << QByteArray();
        QTest::newRow("not in the history")
            << "job-x" << false << 200 << 1
            << QByteArray("No job with ID 'job-x' in the history\n");
        QTest::newRow("not completed")
            << "job-2" << false << 200 << 1
            << QByteArray("Job 'job-2' is Failed; only a completed job has a result\n");
        QTest::newRow("service refuses")
            << "job-1" << false << 404 << 1
            << QByteArray("Download failed: The operation couldn’t be completed. (Download "
                          "failed error 404.)\n");
    }
    void download() {
        QFETCH(QString, id);
        QFETCH(bool, toDir);
        QFETCH(int, downloadStatus);
        QFETCH(int, exitCode);
        signIn();
        m_server.answer("GET", kHistory, 200,
                        historyAnswer({job("job-1", 1, "Q3.PDF"), job("job-2", 2)}));
        m_server.answer("GET", kDownload + "job-1", downloadStatus, "result bytes");
        QStringList args{"download", id};
        const QString dir = toDir ? m_home->filePath("out/nested") : tempDir();
        if (toDir)
            args << "--to" << dir;
        const CliRun r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        QTEST(r.err, "err");
        if (exitCode != 0) {
            QCOMPARE(r.out, QByteArray());
            QVERIFY(!QFile::exists(QDir(dir).filePath("Q3.docx")));
            return;
        }
        const QString expected = QDir(dir).filePath("Q3.docx");
        QCOMPARE(r.out, (expected + "\n").toUtf8());
        QFile f(expected);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("result bytes"));
    }

    void retry_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("wait");
        QTest::addColumn<ScriptedResponse>("retryAnswer");
        QTest::addColumn<int>("finalStatus");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printedId");
        QTest::addColumn<int>("printedStatus");
        QTest::addColumn<QByteArray>("err");

        const auto accepted = ScriptedResponse::json(200, envelope(job("job-9", 0)));
        QTest::newRow("accepted") << "job-2" << false << accepted << 1 << 0 << "job-9" << 0
                                  << QByteArray();
        QTest::newRow("wait: completed")
            << "job-2" << true << accepted << 1 << 0 << "job-9" << 1 << QByteArray();
        QTest::newRow("wait: failed again") << "job-2" << true << accepted << 2 << 1 << "job-9" << 2
                                            << QByteArray("The job ended failed\n");
        QTest::newRow("refused")
            << "job-2" << false << ScriptedResponse::json(500, "busy") << 1 << 1 << "" << 0
            << QByteArray("The operation couldn’t be completed. (Retry conversion failed with "
                          "status 500: busy error 500.)\n");
        QTest::newRow("not failed") << "job-1" << false << accepted << 1 << 1 << "" << 0
                                    << QByteArray("Job 'job-1' is Completed; only a failed job "
                                                  "can be retried\n");
    }
    void retry() {
        QFETCH(QString, id);
        QFETCH(bool, wait);
        QFETCH(ScriptedResponse, retryAnswer);
        QFETCH(int, finalStatus);
        QFETCH(int, exitCode);
        QFETCH(QString, printedId);
        QFETCH(int, printedStatus);
        signIn();
        m_server.answer("GET", kHistory, 200, historyAnswer({job("job-1", 1), job("job-2", 2)}));
        m_server.script("POST", kConvert, {retryAnswer});
        m_server.script("GET", kStatus + "job-9",
                        {ScriptedResponse::json(200, envelope(job("job-9", 0))),
                         ScriptedResponse::json(200, envelope(job("job-9", finalStatus)))});
        QStringList args{"--json", "retry", id};
        if (wait)
            args << "--wait";
        const CliRun r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        QTEST(r.err, "err");
        if (printedId.isEmpty()) {
            QCOMPARE(r.out, QByteArray());
        } else {
            const QJsonObject printed = parseJson(r.out).toObject();
            QCOMPARE(printed.value("id").toString(), printedId);
            QCOMPARE(printed.value("status").toInt(), printedStatus);
        }
        QCOMPARE(m_server.requestsTo("POST", kConvert).size(), id == "job-2" ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
