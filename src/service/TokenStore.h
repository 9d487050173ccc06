#pragma once

#include <QFuture>
#include <QString>

#include <optional>

namespace quorvel {

// The bearer token between runs. The desktop app and the CLI share it, so signing in with one
// signs in both. It lives in the desktop keyring (Secret Service or KWallet, through
// QtKeychain) once open() has found one that answers; where none does (headless machines, SSH,
// CI) it stays in the preferences file under "authToken", readable by its owner only. Until
// open() runs, the store is that file alone.
namespace TokenStore {

enum class Place { File, Keyring };

struct Opening {
    Place place = Place::File;
    std::optional<QString> token;
    // A keyring that is there but refused (locked, access denied): the user must be told, and
    // the file is not used in its stead. Empty otherwise.
    QString problem;
};

// Finds where the token lives and loads it: asks the session bus whether a keyring is there,
// reads it within keyringTimeoutMs(), and moves a token found in the file into it (removing
// the file's copy). A missing or silent keyring means the file, said once on standard error
// and in the log. Blocks for as long as the keyring takes: never call it on the GUI thread.
// Later calls return the first outcome. QUORVEL_TOKEN_STORE=file skips the keyring.
Opening open();
// The same on a thread of its own, started once; the window's account object waits for it.
QFuture<Opening> openInBackground();
// The opening started by openInBackground(), if any.
std::optional<QFuture<Opening>> pendingOpening();
bool isOpen();
// The bound on every wait for the keyring (default 10 s; QUORVEL_KEYRING_TIMEOUT_MS).
int keyringTimeoutMs();

// A token is a header value: one with control characters (a CR LF would add header lines of
// its own) is never handed out nor stored. read() drops such a stored token (the user is
// signed out) with a log line; write() refuses it and returns false.
bool isWellFormed(const QString &token);
// From memory once the keyring holds it, so building a request never waits for the keyring.
std::optional<QString> read();
// Blocks while the keyring stores it. False with a reason in `problem` when refused.
bool write(const QString &token, QString *problem = nullptr);
// Out of both the keyring and the file.
void remove();
// The preferences file, for diagnostics and tests.
QString filePath();

} // namespace TokenStore
} // namespace quorvel
