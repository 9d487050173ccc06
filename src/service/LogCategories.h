#pragma once

#include "service/Log.h"

#include <QLoggingCategory>

// One logging category per subsystem under the diagnostic lines, so QT_LOGGING_RULES
// (e.g. "quorvel.*=false;quorvel.history=true") selects whose lines are written. The lines
// themselves, their order and their redaction stay those of Log::write.
namespace quorvel {

Q_DECLARE_LOGGING_CATEGORY(lcHttp)       // "quorvel.http": requests and answers
Q_DECLARE_LOGGING_CATEGORY(lcAuth)       // "quorvel.auth": sign-in, account, balance
Q_DECLARE_LOGGING_CATEGORY(lcHistory)    // "quorvel.history": history, its parsing, retry
Q_DECLARE_LOGGING_CATEGORY(lcConversion) // "quorvel.conversion": validation, upload, jobs
Q_DECLARE_LOGGING_CATEGORY(lcDownload)   // "quorvel.download": results saved
Q_DECLARE_LOGGING_CATEGORY(lcUi)         // "quorvel.ui": what the window itself reports

namespace Log {
// The line, when its category's informational messages are enabled (they are by default).
inline void write(const QLoggingCategory &category, const QString &line) {
    if (category.isInfoEnabled())
        write(line);
}
} // namespace Log

} // namespace quorvel
