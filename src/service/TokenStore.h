#pragma once

#include <QString>

#include <optional>

namespace quorvel {

// The bearer token between runs: the preferences store under "authToken". The
// desktop app and the CLI use the same store, so signing in with one signs in both.
// The file that holds it is readable by its owner only.
namespace TokenStore {

std::optional<QString> read();
void write(const QString &token);
void remove();
// The preferences file, for diagnostics and tests.
QString filePath();

} // namespace TokenStore
} // namespace quorvel
