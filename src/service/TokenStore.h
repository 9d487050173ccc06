#pragma once

#include <QString>

#include <optional>

namespace quorvel {

// The bearer token between runs: the preferences store under "authToken". The
// desktop app and the CLI use the same store, so signing in with one signs in both.
// The file that holds it is readable by its owner only.
namespace TokenStore {

// A token is a header value: one with control characters (a CR LF would add header lines of
// its own) is never handed out nor stored. read() drops such a stored token (the user is
// signed out) with a log line; write() refuses it and returns false.
bool isWellFormed(const QString &token);
std::optional<QString> read();
bool write(const QString &token);
void remove();
// The preferences file, for diagnostics and tests.
QString filePath();

} // namespace TokenStore
} // namespace quorvel
