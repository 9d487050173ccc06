// quorvel-server: serve the conversion API, manage accounts, and run the
// built-in engines in a child process.
#include "Accounts.h"
#include "Config.h"
#include "HttpApi.h"
#include "JobRunner.h"
#include "PdfText.h"
#include "Records.h"
#include "Store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace quorvel::server;

namespace {

const char *kUsage = R"(Usage: quorvel-server COMMAND [OPTIONS]

Commands:
  serve [--listen HOST:PORT] [--data DIR] [--workers N] [--max-upload MiB]
        [--job-timeout SECONDS] [--history-cache MiB] [--database URL]
        [--storage DIR] [--job-lease SECONDS] [--cold-office]
        [--access-log FILE|-|off] [--access-log-size MiB]
                              run the service (default 127.0.0.1:8740); the
                              history answers it keeps hold at most MiB (256).
                              Several services share one PostgreSQL database
                              (--database postgresql://…) and one folder for
                              uploads and results (--storage, default the data
                              folder); a job a service stops renewing for
                              --job-lease seconds (60) is run by another.
                              --cold-office starts LibreOffice at a worker's
                              first office job instead of with the worker.
                              One line per request goes to DIR/access.log, which
                              is rotated at MiB (32; one older file kept), or to
                              FILE, to standard error (-) or nowhere (off)
  user add EMAIL [--pages N] [--lifetime DAILY_PAGES] [--password-stdin]
                              create an account (100 pages unless --pages; a
                              lifetime member converts up to DAILY_PAGES a day);
                              the password is asked for on the terminal, or
                              read from standard input
  user list                   list the accounts with their page figures
  user set-pages EMAIL N [--lifetime DAILY_PAGES]
                              set the pages an account holds (and its daily
                              allowance; 0 ends a lifetime membership)
  user passwd EMAIL [--password-stdin]
                              set a new password and sign out every session

Every command takes --data DIR (default: the user's data home, quorvel-server)
and --database URL (default: the SQLite file in the data folder).
)";

int usageError(const QString &msg) {
    std::cerr << "quorvel-server: " << msg.toStdString() << "\n\n" << kUsage;
    return 2;
}

QString defaultDataDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/quorvel-server");
}

// Options of the form --name VALUE; flags without value are listed in `flags`.
struct Args {
    QStringList positional;
    QMap<QString, QString> options;
    QSet<QString> flags;
    QString error;
};

Args parseArgs(const QStringList &list, const QSet<QString> &valued, const QSet<QString> &flags) {
    Args a;
    for (qsizetype i = 0; i < list.size(); ++i) {
        QString arg = list[i];
        if (arg.startsWith(QLatin1String("--"))) {
            QString value;
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            bool hasValue = false;
            if (eq > 0) {
                value = arg.mid(eq + 1);
                arg = arg.left(eq);
                hasValue = true;
            }
            if (flags.contains(arg)) {
                a.flags.insert(arg);
            } else if (valued.contains(arg)) {
                if (!hasValue) {
                    if (i + 1 >= list.size()) {
                        a.error = arg + QStringLiteral(" needs a value");
                        return a;
                    }
                    value = list[++i];
                }
                a.options[arg] = value;
            } else {
                a.error = QStringLiteral("unknown option ") + arg;
                return a;
            }
        } else {
            a.positional << arg;
        }
    }
    return a;
}

std::optional<qint64> number(const QString &s) {
    bool ok = false;
    const qint64 v = s.toLongLong(&ok);
    if (!ok || v < 0)
        return std::nullopt;
    return v;
}

QString readPassword(bool fromStdin) {
    std::string line;
    if (fromStdin || !::isatty(STDIN_FILENO)) {
        std::getline(std::cin, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return QString::fromStdString(line);
    }
    termios old{};
    ::tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    auto ask = [&](const char *prompt) {
        std::cerr << prompt << std::flush;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::string s;
        std::getline(std::cin, s);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
        std::cerr << "\n";
        return s;
    };
    line = ask("Password: ");
    if (ask("Repeat password: ") != line) {
        std::cerr << "quorvel-server: the passwords differ\n";
        return {};
    }
    return QString::fromStdString(line);
}

int userCommand(const QStringList &rest) {
    const Args a = parseArgs(rest,
                             {QStringLiteral("--data"), QStringLiteral("--database"),
                              QStringLiteral("--pages"), QStringLiteral("--lifetime")},
                             {QStringLiteral("--password-stdin")});
    if (!a.error.isEmpty())
        return usageError(a.error);
    if (a.positional.isEmpty())
        return usageError(QStringLiteral("user: missing subcommand"));
    const QString dataDir = a.options.value(QStringLiteral("--data"), defaultDataDir());
    QDir().mkpath(dataDir);
    std::unique_ptr<Store> store;
    try {
        store = openStore(a.options.value(QStringLiteral("--database")), dataDir);
        store->migrate();
    } catch (const std::exception &e) {
        std::cerr << "quorvel-server: " << e.what() << "\n";
        return 1;
    }
    Accounts accounts(*store);
    const QString sub = a.positional[0];
    std::optional<qint64> pages, lifetime;
    if (a.options.contains(QStringLiteral("--pages")) &&
        !(pages = number(a.options[QStringLiteral("--pages")])))
        return usageError(QStringLiteral("--pages needs a whole number"));
    if (a.options.contains(QStringLiteral("--lifetime")) &&
        !(lifetime = number(a.options[QStringLiteral("--lifetime")])))
        return usageError(QStringLiteral("--lifetime needs a whole number"));
    const bool stdinPw = a.flags.contains(QStringLiteral("--password-stdin"));

    if (sub == QLatin1String("add")) {
        if (a.positional.size() != 2)
            return usageError(QStringLiteral("user add: give one e-mail address"));
        const QString pw = readPassword(stdinPw);
        if (pw.isEmpty()) {
            std::cerr << "quorvel-server: the password is empty\n";
            return 1;
        }
        try {
            const UserRecord u =
                accounts.addUser(a.positional[1], pw, pages.value_or(100), lifetime.value_or(0));
            std::cout << "added " << u.email.toStdString() << " with " << u.totalPages
                      << " pages\n";
        } catch (const std::exception &e) {
            std::cerr << "quorvel-server: " << e.what() << "\n";
            return 1;
        }
        return 0;
    }
    if (sub == QLatin1String("list")) {
        std::printf("%-40s %8s %8s %8s\n", "EMAIL", "TOTAL", "USED", "DAILY");
        for (const UserRecord &u : accounts.users()) {
            const Balance b = accounts.balance(u);
            std::printf("%-40s %8lld %8lld %8lld\n", u.email.toUtf8().constData(), b.totalPages,
                        b.consumedPages, u.lifetimeDaily);
        }
        return 0;
    }
    if (sub == QLatin1String("set-pages")) {
        if (a.positional.size() != 3 || !(pages = number(a.positional[2])))
            return usageError(
                QStringLiteral("user set-pages: give an e-mail address and a number of pages"));
        if (!accounts.setPages(a.positional[1], pages, lifetime)) {
            std::cerr << "quorvel-server: no such user: " << a.positional[1].toStdString() << "\n";
            return 1;
        }
        return 0;
    }
    if (sub == QLatin1String("passwd")) {
        if (a.positional.size() != 2)
            return usageError(QStringLiteral("user passwd: give one e-mail address"));
        if (!accounts.userByEmail(a.positional[1])) {
            std::cerr << "quorvel-server: no such user: " << a.positional[1].toStdString() << "\n";
            return 1;
        }
        const QString pw = readPassword(stdinPw);
        if (pw.isEmpty() || !accounts.setPassword(a.positional[1], pw)) {
            std::cerr << "quorvel-server: the password was not changed\n";
            return 1;
        }
        return 0;
    }
    return usageError(QStringLiteral("unknown user subcommand ") + sub);
}

int serveCommand(const QStringList &rest) {
    const Args a = parseArgs(rest,
                             {QStringLiteral("--listen"), QStringLiteral("--data"),
                              QStringLiteral("--database"), QStringLiteral("--storage"),
                              QStringLiteral("--job-lease"), QStringLiteral("--workers"),
                              QStringLiteral("--max-upload"), QStringLiteral("--job-timeout"),
                              QStringLiteral("--history-cache"), QStringLiteral("--access-log"),
                              QStringLiteral("--access-log-size")},
                             {QStringLiteral("--cold-office")});
    if (!a.error.isEmpty())
        return usageError(a.error);
    if (!a.positional.isEmpty())
        return usageError(QStringLiteral("serve takes no arguments"));
    const QString databaseUrl = a.options.value(QStringLiteral("--database"));
    Config cfg;
    cfg.dataDir = QDir(a.options.value(QStringLiteral("--data"), defaultDataDir())).absolutePath();
    const QString listen =
        a.options.value(QStringLiteral("--listen"), QStringLiteral("127.0.0.1:8740"));
    const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    cfg.port = colon > 0 ? listen.mid(colon + 1).toInt(&portOk) : 0;
    if (colon <= 0 || !portOk || cfg.port < 0 || cfg.port > 65535)
        return usageError(QStringLiteral("--listen needs HOST:PORT"));
    cfg.host = listen.left(colon);
    if (a.options.contains(QStringLiteral("--workers"))) {
        const auto w = number(a.options[QStringLiteral("--workers")]);
        if (!w || *w < 1 || *w > 64)
            return usageError(QStringLiteral("--workers needs a number from 1 to 64"));
        cfg.workers = int(*w);
    }
    if (a.options.contains(QStringLiteral("--max-upload"))) {
        const auto m = number(a.options[QStringLiteral("--max-upload")]);
        if (!m || *m < 1)
            return usageError(QStringLiteral("--max-upload needs a number of MiB"));
        cfg.maxUploadBytes = *m * 1024 * 1024;
    }
    if (a.options.contains(QStringLiteral("--job-timeout"))) {
        const auto t = number(a.options[QStringLiteral("--job-timeout")]);
        if (!t || *t < 1)
            return usageError(QStringLiteral("--job-timeout needs a number of seconds"));
        cfg.jobTimeBase = std::chrono::seconds(*t);
        cfg.jobTimePerPage = std::chrono::seconds(0);
        cfg.jobTimeMax = std::chrono::seconds(*t);
    }
    if (a.options.contains(QStringLiteral("--job-lease"))) {
        const auto t = number(a.options[QStringLiteral("--job-lease")]);
        if (!t || *t < 1 || *t > 3600)
            return usageError(QStringLiteral("--job-lease needs a number of seconds (1 to 3600)"));
        cfg.jobLease = std::chrono::seconds(*t);
    }
    if (a.options.contains(QStringLiteral("--storage")))
        cfg.storageDir = QDir(a.options[QStringLiteral("--storage")]).absolutePath();
    if (!databaseUrl.isEmpty() && !databaseUrl.startsWith(QLatin1String("postgresql://")) &&
        !databaseUrl.startsWith(QLatin1String("postgres://")))
        return usageError(QStringLiteral("--database needs a postgresql:// URL"));
    cfg.warmOfficeEngines = !a.flags.contains(QStringLiteral("--cold-office"));
    cfg.instance = QSysInfo::machineHostName() + QStringLiteral("/") +
                   QString::number(QCoreApplication::applicationPid());
    if (a.options.contains(QStringLiteral("--history-cache"))) {
        const auto m = number(a.options[QStringLiteral("--history-cache")]);
        if (!m || *m > 1024 * 1024)
            return usageError(QStringLiteral("--history-cache needs a number of MiB"));
        cfg.historyCacheBytes = std::size_t(*m) * 1024 * 1024;
    }
    if (a.options.contains(QStringLiteral("--access-log"))) {
        cfg.accessLog = a.options[QStringLiteral("--access-log")];
        if (cfg.accessLog.isEmpty())
            return usageError(QStringLiteral("--access-log needs a file, - or off"));
    }
    if (a.options.contains(QStringLiteral("--access-log-size"))) {
        const auto m = number(a.options[QStringLiteral("--access-log-size")]);
        if (!m || *m < 1 || *m > 1024 * 1024)
            return usageError(QStringLiteral("--access-log-size needs a number of MiB"));
        cfg.accessLogBytes = *m * 1024 * 1024;
    }
    cfg.selfExecutable = QCoreApplication::applicationFilePath();

    // Signals are taken by one thread with sigwait; every other thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit then fails the write (and the upload with 507) instead of the service.
    std::signal(SIGXFSZ, SIG_IGN);

    if (!QDir().mkpath(cfg.dataDir) ||
        (!cfg.storageDir.isEmpty() &&
         !QDir().mkpath(cfg.storageDir + QStringLiteral("/uploads")))) {
        std::cerr << "quorvel-server: cannot create " << cfg.dataDir.toStdString() << "\n";
        return 1;
    }
    // Uploads and results are private to their owners.
    QFile::setPermissions(cfg.dataDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::umask(077);
    // One service per data directory: workers share LibreOffice profiles by index.
    const int lockFd =
        ::open(QFile::encodeName(cfg.dataDir + QStringLiteral("/service.lock")).constData(),
               O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        std::cerr << "quorvel-server: another quorvel-server is using " << cfg.dataDir.toStdString()
                  << "\n";
        return 1;
    }
    try {
        const std::unique_ptr<Store> store = openStore(databaseUrl, cfg.dataDir);
        store->migrate();
        store->openConnections(cfg.workers > 0 ? cfg.workers
                                               : int(std::thread::hardware_concurrency()));
        Accounts accounts(*store);
        JobRunner runner(*store, cfg);
        HttpApi api(*store, accounts, runner, cfg);
        if (const QString e = api.accessLogError(); !e.isEmpty()) {
            std::cerr << "quorvel-server: cannot open the access log: " << e.toStdString() << "\n";
            return 1;
        }
        const int port = api.bind();
        if (port < 0) {
            std::cerr << "quorvel-server: cannot listen on " << listen.toStdString() << "\n";
            return 1;
        }
        runner.recover();
        runner.start();
        std::thread signalThread([&] {
            int sig = 0;
            sigwait(&stopSignals, &sig);
            if (sig == SIGINT || sig == SIGTERM)
                std::fprintf(stderr, "%s stopping on signal %d\n", nowText().toUtf8().constData(),
                             sig);
            api.stop();
        });
        std::fprintf(stderr,
                     "%s quorvel-server listening on http://%s:%d, data in %s, state in %s, "
                     "%d workers\n",
                     nowText().toUtf8().constData(), cfg.host.toUtf8().constData(), port,
                     cfg.dataDir.toUtf8().constData(), store->describe().toUtf8().constData(),
                     cfg.workers > 0 ? cfg.workers : int(std::thread::hardware_concurrency()));
        // Tests and scripts read this line to learn a port chosen by the system.
        std::printf("listening %d\n", port);
        std::fflush(stdout);
        api.serve();
        runner.stop();
        if (signalThread.joinable()) {
            pthread_kill(signalThread.native_handle(), SIGTERM);
            signalThread.join();
        }
        std::fprintf(stderr, "%s stopped\n", nowText().toUtf8().constData());
    } catch (const std::exception &e) {
        std::cerr << "quorvel-server: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

// Engines of our own run as a child process under resource limits, so a
// hostile document can at worst kill that child.
int engineCommand(const QStringList &rest) {
    // pdf2md IN OUT [REPORT [OCR_DIR [IMAGES_XML]]]: REPORT gets the pages without a text
    // layer ("textless 1 2"), their longer side in points ("longest 842 842") and those no
    // text came from ("unread 2"); "" skips an option.
    if (rest.size() >= 3 && rest.size() <= 6 && rest[0] == QLatin1String("pdf2md")) {
        QString error;
        MarkdownOptions options;
        options.ocrDir = rest.value(4);
        options.imagesXml = rest.value(5);
        PageTextReport report;
        const auto md = pdfToMarkdown(rest[1], &error, options, &report);
        if (!md) {
            std::cerr << error.toStdString() << "\n";
            return 1;
        }
        QFile out(rest[2]);
        if (!out.open(QIODevice::WriteOnly) || out.write(md->toUtf8()) < 0) {
            std::cerr << "cannot write " << rest[2].toStdString() << "\n";
            return 1;
        }
        if (rest.size() >= 4) {
            auto pages = [](const QList<int> &list) {
                QByteArray line;
                for (int p : list)
                    line += ' ' + QByteArray::number(p);
                return line;
            };
            QFile r(rest[3]);
            if (!r.open(QIODevice::WriteOnly) ||
                r.write("textless" + pages(report.textless) + "\nlongest" + pages(report.longest) +
                        "\nunread" + pages(report.unread) + "\n") < 0) {
                std::cerr << "cannot write " << rest[3].toStdString() << "\n";
                return 1;
            }
        }
        return 0;
    }
    if (rest.size() == 2 && rest[0] == QLatin1String("pdfinfo")) {
        const QByteArray line = formatPdfInfo(pdfInfoInProcess(rest[1]));
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        return 0;
    }
    return usageError(QStringLiteral("engine: unknown engine"));
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvel-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.0"));
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usageError(QStringLiteral("missing command"));
    const QString cmd = args.takeFirst();
    if (cmd == QLatin1String("--help") || cmd == QLatin1String("-h") ||
        cmd == QLatin1String("help")) {
        std::cout << kUsage;
        return 0;
    }
    if (cmd == QLatin1String("--version")) {
        std::cout << "quorvel-server 0.1.0\n";
        return 0;
    }
    if (cmd == QLatin1String("serve"))
        return serveCommand(args);
    if (cmd == QLatin1String("user"))
        return userCommand(args);
    if (cmd == QLatin1String("engine"))
        return engineCommand(args);
    return usageError(QStringLiteral("unknown command ") + cmd);
}
