#pragma once

#include "history/TaskFilter.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace quorvel::cli {

enum class Command {
    Help,
    Version,
    Login,
    Logout,
    Whoami,
    Balance,
    Operations,
    Convert,
    Status,
    History,
    Download,
    Retry,
};

// One run of the program, as the command line asked for it.
struct Invocation {
    Command command = Command::Help;
    bool json = false;
    bool trace = false;
    // Help: the command whose help is asked for; empty for the program's help.
    QString helpTopic;

    QString email; // login
    bool passwordStdin = false;
    QString operation;                   // convert
    QStringList files;                   // convert, as given
    bool wait = false;                   // convert, retry
    std::optional<int> timeoutSeconds;   // convert, retry --timeout; none means no limit
    QString downloadDir;                 // convert --download; empty when not asked
    QString jobId;                       // status, download, retry
    TaskFilter filter = TaskFilter::All; // history
    QString search;                      // history; empty means no search
    QString toDir;                       // download --to; empty means the temporary directory
};

// A command line that cannot run: the message is one line for standard error.
struct UsageError {
    QString message;
};

struct ParseResult {
    std::optional<Invocation> invocation;
    std::optional<UsageError> error;
};

// Parses the arguments after the program name. Global options (--json, --trace) are
// accepted before or after the command; "--" ends the options, so a file may start with
// a dash. --help wins over every other mistake on the line.
ParseResult parse(const QStringList &arguments);

// Usage texts in the style of Unix tools; `commandName` empty gives the program's.
QString helpText(const QString &commandName = {});
QString versionText();
// The names of the commands, in the order the help lists them.
QStringList commandNames();
QString commandName(Command command);

// The interval between status checks that QUORVEL_POLL_INTERVAL_MS asks for (a knob for
// tests and scripts): nothing when unset; `problem` is set when the value is unusable.
struct PollIntervalSetting {
    std::optional<int> milliseconds;
    QString problem;
};
PollIntervalSetting pollIntervalSetting(const QString &environmentValue);

} // namespace quorvel::cli
