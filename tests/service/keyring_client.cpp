// One process of the app or the CLI as far as the sign-in token goes: tst_keyring runs it
// against a keyring of its own, so every step is a new process, as after a restart.
//   keyring_client open | write TOKEN | remove | signout | window
// Prints one JSON object on standard output.
#include "service/AuthManager.h"
#include "service/Log.h"
#include "service/TokenStore.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

using namespace quorvel;

namespace {

QJsonObject describe(const TokenStore::Opening &opening) {
    return {{"place", opening.place == TokenStore::Place::Keyring ? "keyring" : "file"},
            {"token", TokenStore::read().value_or(QString())},
            {"problem", opening.problem}};
}

int print(const QJsonObject &object) {
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).append('\n').constData(),
               stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("Quorvel"));
    Log::setSink({});
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.value(0);

    if (command == u"window") {
        // As the window does: the keyring is read in the background and the account object
        // exists at once, showing that it is still reading.
        TokenStore::openInBackground();
        AuthManager auth(AuthManager::StartupFetch::None);
        const bool readingAtStart = auth.isReadingToken();
        const bool loggedInAtStart = auth.isLoggedIn();
        QObject::connect(&auth, &AuthManager::isReadingTokenChanged, &app,
                         [] { QCoreApplication::quit(); });
        QTimer::singleShot(60'000, &app, [] { QCoreApplication::exit(3); });
        if (auth.isReadingToken() && QCoreApplication::exec() != 0)
            return 3;
        return print({{"readingAtStart", readingAtStart},
                      {"loggedInAtStart", loggedInAtStart},
                      {"loggedIn", auth.isLoggedIn()},
                      {"error", auth.errorText()}});
    }

    const TokenStore::Opening opening = TokenStore::open();
    QJsonObject result = describe(opening);
    if (command == u"write") {
        QString problem;
        result.insert("stored", TokenStore::write(args.value(1), &problem));
        result.insert("problem", problem.isEmpty() ? opening.problem : problem);
        result.insert("token", TokenStore::read().value_or(QString()));
    } else if (command == u"remove") {
        TokenStore::remove();
    } else if (command == u"signout") {
        // The window's sign-out does not wait for the keyring; the process must before it ends.
        AuthManager auth(AuthManager::StartupFetch::None);
        auth.logout();
    } else if (command != u"open") {
        return 2;
    }
    return print(result);
}
