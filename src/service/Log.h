#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

// Diagnostic lines. Every line goes through write(); the sink defaults to
// standard output (flushed per line). The CLI redirects it to standard error
// or silences it, tests capture it.
namespace quorvel::Log {

using Sink = std::function<void(const QString &line)>;

void write(const QString &line);
// Installs a sink; an empty function silences the log.
void setSink(Sink sink);
void useStandardOutput();
void useStandardError();
// False when silenced: callers skip building expensive renderings.
bool enabled();

// Renders an ordered map as a dictionary: ["a": "1", "b": "2"], or [:] when empty.
QString renderMap(const QList<QPair<QString, QString>> &entries);
// Text of a body as UTF-8, or the fallback when the bytes are not valid UTF-8.
QString utf8OrFallback(const QByteArray &bytes, const QString &fallback);
bool isValidUtf8(const QByteArray &bytes);
// A token for the log: its first 6 characters and an ellipsis.
QString redactToken(const QString &token);
inline const QString kRedactedPassword = QStringLiteral("********");

} // namespace quorvel::Log
