#include "AppCommandLine.h"

namespace quorvel {

AppArguments parseAppArguments(const QStringList &arguments) {
    AppArguments result;
    bool optionsEnded = false;
    for (const QString &arg : arguments) {
        if (optionsEnded || !arg.startsWith(u'-') || arg == u"-") {
            result.files.append(arg);
        } else if (arg == u"--") {
            optionsEnded = true;
        } else if (arg == u"-h" || arg == u"--help") {
            return AppArguments{AppArguments::Action::Help, {}, {}};
        } else if (arg == u"-v" || arg == u"--version") {
            return AppArguments{AppArguments::Action::Version, {}, {}};
        } else {
            return AppArguments{AppArguments::Action::Error,
                                {},
                                QStringLiteral("quorvel: unknown option '%1' (see quorvel --help; "
                                               "put -- before a file whose name starts with -)")
                                    .arg(arg)};
        }
    }
    return result;
}

QString appHelpText() {
    return QStringLiteral(
        "Usage: quorvel [OPTION]... [FILE]...\n"
        "Convert documents with the Quorvel service: the desktop window.\n"
        "\n"
        "Files named on the command line start out selected on the conversion page.\n"
        "\n"
        "Options:\n"
        "  -h, --help     show this help and exit\n"
        "  -v, --version  show the version and exit\n"
        "  --             end of options: every later argument is a file\n"
        "\n"
        "Environment:\n"
        "  QUORVEL_API_ORIGIN  the service origin (HTTPS, or HTTP on a loopback address)\n"
        "\n"
        "The sign-in is shared with quorvel-cli and kept in the desktop keyring (Secret Service\n"
        "or KWallet), or in an owner-only file where no keyring answers.\n");
}

QString appVersionText() {
    return QStringLiteral("quorvel ") + QStringLiteral(QUORVEL_VERSION);
}

} // namespace quorvel
