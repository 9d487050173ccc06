#pragma once

#include "Accounts.h"
#include "Config.h"
#include "JobRunner.h"
#include "Store.h"

#include <QJsonValue>
#include <QString>

#include <httplib.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::server {

// What every resource's routes work with.
struct Services {
    Store &store;
    Accounts &accounts;
    JobRunner &runner;
    const Config &config;
};

inline std::string str(const QString &s) {
    return s.toStdString();
}
inline QString qstr(const std::string &s) {
    return QString::fromStdString(s);
}
QString newId();

// The JSON envelope with `status` as its code (0 for 200).
void reply(httplib::Response &res, int status, const QString &msg,
           const QJsonValue &data = QJsonValue::Null);
// An answer kept for repeated requests, in parts shared with the next version
// of it: the JSON and, when it is large enough to gain from it, the same
// bytes gzip-compressed.
struct CachedAnswer {
    using Part = std::shared_ptr<const std::string>;
    std::vector<Part> body;
    std::vector<Part> gzip; // empty: always sent as it is
    static std::size_t sizeOf(const std::vector<Part> &parts);
};
// Sends a kept answer without copying it, compressed when the client accepts gzip.
void reply(httplib::Response &res, std::shared_ptr<const CachedAnswer> answer);

// The body was not (fully) read: the connection cannot carry another request.
void replyAndClose(httplib::Response &res, int status, const QString &msg);

// The caller's account, or a 401 answer. Only handlers that read pages or
// membership ask for the full record; the others need the id alone and skip
// the database.
std::optional<UserRecord> authenticate(Accounts &accounts, const httplib::Request &req,
                                       httplib::Response &res, bool fullRecord = false);

// The account the current request acts for, for the access log; empty when none.
QString &requestUser();

// Request data for the access log: anything but printable ASCII, and the
// quote and backslash that delimit it, as \xHH, so no request can forge a line
// or send escapes to the terminal reading the log.
std::string logSafe(const std::string &s);

} // namespace quorvel::server
