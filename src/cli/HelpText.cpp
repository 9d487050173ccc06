#include "cli/CommandLine.h"

#include "conversion/OperationCatalogue.h"
#include "service/ServiceOrigin.h"

// The usage texts of the program and of each command.
namespace quorvel::cli {
namespace {

const QString kProgram = QStringLiteral("quorvel-cli");

} // namespace

namespace {

const QString kGlobalUsage = QStringLiteral("%1 [--json] [--trace]").arg(kProgram);

QString operationsHelpBlock() {
    QString out;
    for (const QString &name : OperationCatalogue::offeredOperations())
        out += QStringLiteral("  %1\n").arg(name);
    return out;
}

} // namespace

QString helpText(const QString &name) {
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
                   "Quote the operation name, e.g. \"%2\". The operations are:\n"
                   "%3"
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
            .arg(kGlobalUsage, OperationCatalogue::offeredOperations().constFirst(),
                 operationsHelpBlock());
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
