#include "cli/CommandLine.h"

#include "conversion/OperationCatalogue.h"
#include "service/ServiceOrigin.h"

#include <QHash>
#include <QSet>

namespace quorvel::cli {
namespace {

const QString kProgram = QStringLiteral("quorvel-cli");

struct CommandSpec
{
    Command command;
    QString name;
    QSet<QString> flags;        // options without a value
    QSet<QString> valueOptions; // options that take one value
};

const QList<CommandSpec> &commandSpecs()
{
    static const QList<CommandSpec> specs = {
        {Command::Login, QStringLiteral("login"), {QStringLiteral("--password-stdin")}, {}},
        {Command::Logout, QStringLiteral("logout"), {}, {}},
        {Command::Whoami, QStringLiteral("whoami"), {}, {}},
        {Command::Balance, QStringLiteral("balance"), {}, {}},
        {Command::Operations, QStringLiteral("operations"), {}, {}},
        {Command::Convert,
         QStringLiteral("convert"),
         {QStringLiteral("--wait")},
         {QStringLiteral("--download"), QStringLiteral("--timeout")}},
        {Command::Status, QStringLiteral("status"), {}, {}},
        {Command::History,
         QStringLiteral("history"),
         {},
         {QStringLiteral("--filter"), QStringLiteral("--search")}},
        {Command::Download, QStringLiteral("download"), {}, {QStringLiteral("--to")}},
        {Command::Retry,
         QStringLiteral("retry"),
         {QStringLiteral("--wait")},
         {QStringLiteral("--timeout")}},
        {Command::Help, QStringLiteral("help"), {}, {}},
    };
    return specs;
}

const CommandSpec *findSpec(const QString &name)
{
    for (const CommandSpec &spec : commandSpecs())
        if (spec.name == name)
            return &spec;
    return nullptr;
}

bool takesValue(const QString &option)
{
    for (const CommandSpec &spec : commandSpecs())
        if (spec.valueOptions.contains(option))
            return true;
    return false;
}

ParseResult usageError(const QString &message, const QString &commandName = {})
{
    const QString hint = commandName.isEmpty()
                             ? QStringLiteral("see '%1 --help'").arg(kProgram)
                             : QStringLiteral("see '%1 help %2'").arg(kProgram, commandName);
    return ParseResult{std::nullopt,
                       UsageError{QStringLiteral("%1: %2 (%3)").arg(kProgram, message, hint)}};
}

QString quotedList(const QStringList &names)
{
    QStringList quoted;
    for (const QString &name : names)
        quoted << u'"' + name + u'"';
    return quoted.join(QStringLiteral(", "));
}

QStringList filterNames()
{
    QStringList names;
    for (TaskFilter f : allTaskFilters())
        names << rawValue(f).toLower();
    return names;
}

struct Option
{
    QString name;
    QString value;
};

} // namespace

QStringList commandNames()
{
    QStringList names;
    for (const CommandSpec &spec : commandSpecs())
        names << spec.name;
    return names;
}

QString commandName(Command command)
{
    for (const CommandSpec &spec : commandSpecs())
        if (spec.command == command)
            return spec.name;
    return {};
}

ParseResult parse(const QStringList &arguments)
{
    Invocation inv;
    bool wantHelp = false;
    bool wantVersion = false;
    bool endOfOptions = false;
    QStringList positionals;
    QList<Option> options;

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (!endOfOptions && arg == u"--") {
            endOfOptions = true;
            continue;
        }
        if (endOfOptions || !arg.startsWith(u'-') || arg == u"-") {
            positionals << arg;
            continue;
        }
        QString name = arg;
        std::optional<QString> inlineValue;
        if (arg.startsWith(QLatin1String("--"))) {
            const qsizetype eq = arg.indexOf(u'=');
            if (eq > 0) {
                name = arg.left(eq);
                inlineValue = arg.mid(eq + 1);
            }
        }
        if (name == u"-h" || name == u"--help") {
            wantHelp = true;
            continue;
        }
        if (takesValue(name)) {
            if (inlineValue) {
                options.append({name, *inlineValue});
            } else if (i + 1 < arguments.size()) {
                // The next word is the value even when it starts with a dash (a search text).
                options.append({name, arguments[++i]});
            } else {
                return usageError(QStringLiteral("option '%1' needs a value").arg(name),
                                  positionals.value(0));
            }
            continue;
        }
        if (inlineValue)
            return usageError(QStringLiteral("option '%1' takes no value").arg(name),
                              positionals.value(0));
        if (name == u"--version")
            wantVersion = true;
        else if (name == u"--json")
            inv.json = true;
        else if (name == u"--trace")
            inv.trace = true;
        else
            options.append({name, {}});
    }

    const QString name = positionals.value(0);
    const CommandSpec *spec = name.isEmpty() ? nullptr : findSpec(name);
    if (!name.isEmpty() && !spec)
        return usageError(QStringLiteral("unknown command '%1'").arg(name));

    if (wantHelp || (spec && spec->command == Command::Help)) {
        inv.command = Command::Help;
        if (spec && spec->command != Command::Help) {
            inv.helpTopic = spec->name;
        } else if (positionals.size() > 1) {
            const QString topic = positionals[1];
            if (!findSpec(topic))
                return usageError(QStringLiteral("unknown command '%1'").arg(topic));
            if (positionals.size() > 2)
                return usageError(QStringLiteral("help takes at most one command"),
                                  QStringLiteral("help"));
            inv.helpTopic = topic;
        }
        return ParseResult{inv, std::nullopt};
    }
    if (wantVersion) {
        inv.command = Command::Version;
        return ParseResult{inv, std::nullopt};
    }
    if (!spec)
        return usageError(QStringLiteral("no command given"));

    inv.command = spec->command;
    for (const Option &option : std::as_const(options)) {
        if (!spec->flags.contains(option.name) && !spec->valueOptions.contains(option.name))
            return usageError(
                QStringLiteral("unknown option '%1' for '%2'").arg(option.name, spec->name),
                spec->name);
    }

    const QStringList args = positionals.mid(1);
    const auto expectCount = [&](qsizetype count,
                                 const QString &what) -> std::optional<ParseResult> {
        if (args.size() < count)
            return usageError(QStringLiteral("missing %1").arg(what), spec->name);
        if (args.size() > count)
            return usageError(QStringLiteral("unexpected argument '%1'").arg(args[count]),
                              spec->name);
        return std::nullopt;
    };
    const auto nonEmpty = [&](const QString &value,
                              const QString &what) -> std::optional<ParseResult> {
        if (value.isEmpty())
            return usageError(QStringLiteral("%1 must not be empty").arg(what), spec->name);
        return std::nullopt;
    };
    const auto optionValue = [&](const QString &option) -> std::optional<QString> {
        std::optional<QString> value;
        for (const Option &o : std::as_const(options))
            if (o.name == option)
                value = o.value; // the last one wins, as usual
        return value;
    };
    const auto hasFlag = [&](const QString &flag) {
        for (const Option &o : std::as_const(options))
            if (o.name == flag)
                return true;
        return false;
    };

    switch (spec->command) {
    case Command::Login:
        if (auto e = expectCount(1, QStringLiteral("EMAIL")))
            return *e;
        if (auto e = nonEmpty(args[0], QStringLiteral("EMAIL")))
            return *e;
        inv.email = args[0];
        inv.passwordStdin = hasFlag(QStringLiteral("--password-stdin"));
        break;
    case Command::Logout:
    case Command::Whoami:
    case Command::Balance:
    case Command::Operations:
    case Command::History:
        if (auto e = expectCount(0, {}))
            return *e;
        break;
    case Command::Convert: {
        if (args.isEmpty())
            return usageError(QStringLiteral("missing OPERATION"), spec->name);
        if (args.size() < 2)
            return usageError(QStringLiteral("missing FILE"), spec->name);
        const QStringList offered = OperationCatalogue::offeredOperations();
        if (!offered.contains(args[0]))
            return usageError(QStringLiteral("unknown operation \"%1\"; the operations are %2")
                                  .arg(args[0], quotedList(offered)),
                              spec->name);
        inv.operation = args[0];
        inv.files = args.mid(1);
        for (const QString &file : std::as_const(inv.files))
            if (auto e = nonEmpty(file, QStringLiteral("FILE")))
                return *e;
        inv.wait = hasFlag(QStringLiteral("--wait"));
        if (const auto dir = optionValue(QStringLiteral("--download"))) {
            if (auto e = nonEmpty(*dir, QStringLiteral("DIR")))
                return *e;
            if (!inv.wait)
                return usageError(QStringLiteral("--download needs --wait"), spec->name);
            inv.downloadDir = *dir;
        }
        break;
    }
    case Command::Status:
    case Command::Download:
    case Command::Retry:
        if (auto e = expectCount(1, QStringLiteral("JOB_ID")))
            return *e;
        if (auto e = nonEmpty(args[0], QStringLiteral("JOB_ID")))
            return *e;
        inv.jobId = args[0];
        inv.wait = hasFlag(QStringLiteral("--wait"));
        if (const auto dir = optionValue(QStringLiteral("--to"))) {
            if (auto e = nonEmpty(*dir, QStringLiteral("DIR")))
                return *e;
            inv.toDir = *dir;
        }
        break;
    case Command::Help:
    case Command::Version:
        break;
    }

    if (const auto timeout = optionValue(QStringLiteral("--timeout"))) {
        bool ok = false;
        const int seconds = timeout->toInt(&ok);
        if (!ok || seconds < 1)
            return usageError(
                QStringLiteral("--timeout needs a whole number of seconds from 1, not '%1'")
                    .arg(*timeout),
                spec->name);
        if (!inv.wait)
            return usageError(QStringLiteral("--timeout needs --wait"), spec->name);
        inv.timeoutSeconds = seconds;
    }

    if (spec->command == Command::History) {
        if (const auto filter = optionValue(QStringLiteral("--filter"))) {
            bool found = false;
            for (TaskFilter f : allTaskFilters()) {
                if (rawValue(f).compare(*filter, Qt::CaseInsensitive) == 0) {
                    inv.filter = f;
                    found = true;
                }
            }
            if (!found)
                return usageError(QStringLiteral("unknown filter '%1'; use one of %2")
                                      .arg(*filter, filterNames().join(QStringLiteral(", "))),
                                  spec->name);
        }
        inv.search = optionValue(QStringLiteral("--search")).value_or(QString());
    }
    return ParseResult{inv, std::nullopt};
}

QString versionText()
{
    return kProgram + QStringLiteral(" ") + QStringLiteral(QUORVEL_VERSION);
}

PollIntervalSetting pollIntervalSetting(const QString &environmentValue)
{
    if (environmentValue.isEmpty())
        return {};
    bool ok = false;
    const int ms = environmentValue.toInt(&ok);
    if (!ok || ms < 1 || ms > 3'600'000)
        return {std::nullopt,
                QStringLiteral("%1: QUORVEL_POLL_INTERVAL_MS must be a whole number of "
                               "milliseconds from 1 to 3600000, not '%2'")
                    .arg(kProgram, environmentValue)};
    return {ms, {}};
}

namespace {

const QString kGlobalUsage = QStringLiteral("%1 [--json] [--trace]").arg(kProgram);

QString operationsHelpBlock()
{
    QString out;
    for (const QString &name : OperationCatalogue::offeredOperations())
        out += QStringLiteral("  %1\n").arg(name);
    return out;
}

} // namespace

QString helpText(const QString &name)
{
    if (name.isEmpty() || name == u"help") {
        return QStringLiteral(
                   "Usage: %1 COMMAND [ARGS]\n"
                   "\n"
                   "Converts documents with the Quorvel service from scripts and terminals. It\n"
                   "shares the desktop app's account: signing in here signs in the app too.\n"
                   "\n"
                   "Commands:\n"
                   "  login EMAIL [--password-stdin]   sign in\n"
                   "  logout                           sign out\n"
                   "  whoami                           the account details\n"
                   "  balance                          the page balance\n"
                   "  operations                       the operations and their accepted formats\n"
                   "  convert OPERATION FILE...        upload files and start a job for each\n"
                   "      [--wait [--download DIR]]\n"
                   "  status JOB_ID                    check a job's status once\n"
                   "  history [--filter F] [--search TEXT]\n"
                   "                                   the account's jobs\n"
                   "  download JOB_ID [--to DIR]       download a completed job's result\n"
                   "  retry JOB_ID [--wait]            retry a failed job\n"
                   "  help [COMMAND]                   show this help or a command's help\n"
                   "\n"
                   "Options:\n"
                   "  --json       print results as JSON (jobs with the service's keys)\n"
                   "  --trace      write the diagnostic lines to standard error\n"
                   "  -h, --help   show help (also after a command: '%2 convert --help')\n"
                   "  --version    show the version\n"
                   "\n"
                   "Environment:\n"
                   "  QUORVEL_API_ORIGIN        the service origin (built in: %3)\n"
                   "  QUORVEL_POLL_INTERVAL_MS  milliseconds between status checks while waiting\n"
                   "                            for jobs (default 3000); a knob for tests and\n"
                   "                            scripts, not needed in normal use\n"
                   "\n"
                   "Standard output carries only results; errors go to standard error.\n"
                   "\n"
                   "Exit status:\n"
                   "  0  success\n"
                   "  1  the operation failed (including a job that ended failed under --wait)\n"
                   "  2  usage error\n")
            .arg(kGlobalUsage, kProgram, builtInOrigin());
    }
    if (name == u"login")
        return QStringLiteral(
                   "Usage: %1 login EMAIL [--password-stdin]\n"
                   "\n"
                   "Signs in and stores the token where the desktop app keeps it, so both are\n"
                   "signed in. The password is read from the terminal without echo, or from\n"
                   "the first line of standard input with --password-stdin or when standard\n"
                   "input is not a terminal.\n"
                   "\n"
                   "Options:\n"
                   "  --password-stdin   read the password from standard input\n"
                   "\n"
                   "Prints the signed-in e-mail ({\"email\": ...} with --json).\n")
            .arg(kGlobalUsage);
    if (name == u"logout")
        return QStringLiteral("Usage: %1 logout\n"
                              "\n"
                              "Forgets the stored token; the desktop app is signed out too.\n"
                              "Sends nothing to the service.\n")
            .arg(kGlobalUsage);
    if (name == u"whoami")
        return QStringLiteral(
                   "Usage: %1 whoami\n"
                   "\n"
                   "Shows the signed-in account: e-mail, lifetime membership and its\n"
                   "description, and the page-balance description. With --json, the account\n"
                   "record with the service's keys.\n")
            .arg(kGlobalUsage);
    if (name == u"balance")
        return QStringLiteral(
                   "Usage: %1 balance\n"
                   "\n"
                   "Shows the page balance as the desktop panel does: Usage, Remain and Total\n"
                   "pages, or for a lifetime membership the daily usage and what remains of it.\n"
                   "With --json, the page balance record with the service's keys.\n")
            .arg(kGlobalUsage);
    if (name == u"operations")
        return QStringLiteral("Usage: %1 operations\n"
                              "\n"
                              "Lists every operation name that convert accepts, with the file\n"
                              "formats it takes.\n")
            .arg(kGlobalUsage);
    if (name == u"convert")
        return QStringLiteral(
                   "Usage: %1 convert OPERATION FILE... [--wait [--download DIR] [--timeout S]]\n"
                   "\n"
                   "Checks every file's format against OPERATION, uploads the files one by one\n"
                   "and starts one conversion job per uploaded file; prints each accepted job.\n"
                   "Quote the operation name, e.g. \"PDF to DOC\". The operations are:\n"
                   "%2"
                   "\n"
                   "Options:\n"
                   "  --wait           follow every job until it is completed or failed, then\n"
                   "                   print the jobs as they ended; exit status 1 when one "
                   "failed\n"
                   "  --download DIR   with --wait: save each completed result into DIR\n"
                   "                   (created when missing); with --json each saved job also\n"
                   "                   carries \"saved_path\"\n"
                   "  --timeout S      with --wait: give up after S seconds (exit status 1)\n"
                   "\n"
                   "On a terminal, standard error shows the upload progress and a spinner while\n"
                   "waiting; nothing of that is written otherwise. Use '--' before file names\n"
                   "that start with a dash.\n")
            .arg(kGlobalUsage, operationsHelpBlock());
    if (name == u"status")
        return QStringLiteral("Usage: %1 status JOB_ID\n"
                              "\n"
                              "Asks the service once for the job's current status and prints the\n"
                              "job.\n")
            .arg(kGlobalUsage);
    if (name == u"history")
        return QStringLiteral(
                   "Usage: %1 history [--filter all|completed|converting|failed] [--search TEXT]\n"
                   "\n"
                   "Lists the account's jobs in the service's order.\n"
                   "\n"
                   "Options:\n"
                   "  --filter F      keep the jobs with this status (default all)\n"
                   "  --search TEXT   keep the jobs whose file name contains TEXT, ignoring case;\n"
                   "                  the text is used as given, spaces included\n")
            .arg(kGlobalUsage);
    if (name == u"download")
        return QStringLiteral(
                   "Usage: %1 download JOB_ID [--to DIR]\n"
                   "\n"
                   "Finds the completed job in the account's history, downloads its result and\n"
                   "prints the saved file's path. The file is named after the source file with\n"
                   "the result's extension.\n"
                   "\n"
                   "Options:\n"
                   "  --to DIR   save into DIR (created when missing) instead of the temporary\n"
                   "             directory, where the desktop app saves\n"
                   "\n"
                   "With --json, the job with the service's keys and \"saved_path\".\n")
            .arg(kGlobalUsage);
    if (name == u"retry")
        return QStringLiteral(
                   "Usage: %1 retry JOB_ID [--wait [--timeout S]]\n"
                   "\n"
                   "Submits a failed job of the account's history again and prints the new job.\n"
                   "\n"
                   "Options:\n"
                   "  --wait   follow the new job until it is completed or failed (at most 100\n"
                   "           checks); exit status 1 when it failed or was given up\n"
                   "  --timeout S   with --wait: give up after S seconds\n")
            .arg(kGlobalUsage);
    return {};
}

} // namespace quorvel::cli
