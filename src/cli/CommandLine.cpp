#include "cli/CommandLine.h"

#include "conversion/OperationCatalogue.h"
#include "service/ServiceOrigin.h"

#include <QHash>
#include <QSet>

namespace quorvel::cli {
namespace {

const QString kProgram = QStringLiteral("quorvel-cli");

struct CommandSyntax {
    Command command;
    QString name;
    QSet<QString> flags;        // options without a value
    QSet<QString> valueOptions; // options that take one value
};

const QList<CommandSyntax> &commandSyntaxes() {
    static const QList<CommandSyntax> syntaxes = {
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
    return syntaxes;
}

const CommandSyntax *findSyntax(const QString &name) {
    for (const CommandSyntax &syntax : commandSyntaxes())
        if (syntax.name == name)
            return &syntax;
    return nullptr;
}

bool takesValue(const QString &option) {
    for (const CommandSyntax &syntax : commandSyntaxes())
        if (syntax.valueOptions.contains(option))
            return true;
    return false;
}

ParseResult usageError(const QString &message, const QString &commandName = {}) {
    const QString hint = commandName.isEmpty()
                             ? QStringLiteral("see '%1 --help'").arg(kProgram)
                             : QStringLiteral("see '%1 help %2'").arg(kProgram, commandName);
    return ParseResult{std::nullopt,
                       UsageError{QStringLiteral("%1: %2 (%3)").arg(kProgram, message, hint)}};
}

QString quotedList(const QStringList &names) {
    QStringList quoted;
    for (const QString &name : names)
        quoted << u'"' + name + u'"';
    return quoted.join(QStringLiteral(", "));
}

QStringList filterNames() {
    QStringList names;
    for (TaskFilter f : allTaskFilters())
        names << rawValue(f).toLower();
    return names;
}

struct Option {
    QString name;
    QString value;
};

} // namespace

QStringList commandNames() {
    QStringList names;
    for (const CommandSyntax &syntax : commandSyntaxes())
        names << syntax.name;
    return names;
}

QString commandName(Command command) {
    for (const CommandSyntax &syntax : commandSyntaxes())
        if (syntax.command == command)
            return syntax.name;
    return {};
}

ParseResult parse(const QStringList &arguments) {
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
    const CommandSyntax *syntax = name.isEmpty() ? nullptr : findSyntax(name);
    if (!name.isEmpty() && !syntax)
        return usageError(QStringLiteral("unknown command '%1'").arg(name));

    if (wantHelp || (syntax && syntax->command == Command::Help)) {
        inv.command = Command::Help;
        if (syntax && syntax->command != Command::Help) {
            inv.helpTopic = syntax->name;
        } else if (positionals.size() > 1) {
            const QString topic = positionals[1];
            if (!findSyntax(topic))
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
    if (!syntax)
        return usageError(QStringLiteral("no command given"));

    inv.command = syntax->command;
    for (const Option &option : std::as_const(options)) {
        if (!syntax->flags.contains(option.name) && !syntax->valueOptions.contains(option.name))
            return usageError(
                QStringLiteral("unknown option '%1' for '%2'").arg(option.name, syntax->name),
                syntax->name);
    }

    const QStringList args = positionals.mid(1);
    const auto expectCount = [&](qsizetype count,
                                 const QString &what) -> std::optional<ParseResult> {
        if (args.size() < count)
            return usageError(QStringLiteral("missing %1").arg(what), syntax->name);
        if (args.size() > count)
            return usageError(QStringLiteral("unexpected argument '%1'").arg(args[count]),
                              syntax->name);
        return std::nullopt;
    };
    const auto nonEmpty = [&](const QString &value,
                              const QString &what) -> std::optional<ParseResult> {
        if (value.isEmpty())
            return usageError(QStringLiteral("%1 must not be empty").arg(what), syntax->name);
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

    switch (syntax->command) {
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
            return usageError(QStringLiteral("missing OPERATION"), syntax->name);
        if (args.size() < 2)
            return usageError(QStringLiteral("missing FILE"), syntax->name);
        const QStringList offered = OperationCatalogue::offeredOperations();
        if (!offered.contains(args[0]))
            return usageError(QStringLiteral("unknown operation \"%1\"; the operations are %2")
                                  .arg(args[0], quotedList(offered)),
                              syntax->name);
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
                return usageError(QStringLiteral("--download needs --wait"), syntax->name);
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
                syntax->name);
        if (!inv.wait)
            return usageError(QStringLiteral("--timeout needs --wait"), syntax->name);
        inv.timeoutSeconds = seconds;
    }

    if (syntax->command == Command::History) {
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
                                  syntax->name);
        }
        inv.search = optionValue(QStringLiteral("--search")).value_or(QString());
    }
    return ParseResult{inv, std::nullopt};
}

QString versionText() {
    return kProgram + QStringLiteral(" ") + QStringLiteral(QUORVEL_VERSION);
}

PollIntervalSetting pollIntervalSetting(const QString &environmentValue) {
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

} // namespace quorvel::cli
