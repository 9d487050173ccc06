#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "service/Log.h"
#include "service/ServiceOrigin.h"
#include "service/TokenStore.h"

#include <QCoreApplication>
#include <QTimer>

using namespace quorvel;
using namespace quorvel::cli;

namespace {

QCoro::Task<> drive(Commands *commands, int *exitStatus) {
    *exitStatus = co_await commands->run();
    QCoreApplication::exit(*exitStatus);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    // Nothing of the core writes to standard output; Commands decides where lines go.
    Log::setSink({});
    QCoreApplication::setApplicationName(QStringLiteral("quorvel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));

    const ParseResult parsed = parse(QCoreApplication::arguments().mid(1));
    if (parsed.error) {
        writeTo(stderr, parsed.error->message + u'\n');
        return 2;
    }
    const Invocation &invocation = *parsed.invocation;
    if (invocation.command == Command::Help) {
        writeTo(stdout, helpText(invocation.helpTopic));
        return 0;
    }
    if (invocation.command == Command::Version) {
        writeTo(stdout, versionText() + u'\n');
        return 0;
    }
    const PollIntervalSetting poll =
        pollIntervalSetting(qEnvironmentVariable("QUORVEL_POLL_INTERVAL_MS"));
    if (!poll.problem.isEmpty()) {
        writeTo(stderr, poll.problem + u'\n');
        return 2;
    }

    if (needsService(invocation.command)) {
        const OriginResolution origin = currentOrigin();
        if (!origin.problem.isEmpty()) {
            writeTo(stderr, origin.problem + u'\n');
            return 1;
        }
    }

    // Where the sign-in lives: the keyring, or the owner-only file where none answers (said
    // once on standard error). A keyring that refuses is not replaced by the file.
    const TokenStore::Opening tokenStore = TokenStore::open();
    if (!tokenStore.problem.isEmpty()) {
        writeTo(stderr, QStringLiteral("quorvel-cli: the keyring refused the sign-in token: ") +
                            tokenStore.problem + u'\n');
        return 1;
    }

    Commands commands(invocation, poll.milliseconds);
    int exitStatus = 1;
    QTimer::singleShot(0, &app, [&commands, &exitStatus] { drive(&commands, &exitStatus); });
    QCoreApplication::exec();
    return exitStatus;
}
