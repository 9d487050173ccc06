#pragma once

#include "Accounts.h"
#include "Config.h"
#include "JobRunner.h"
#include "Repository.h"

#include <QJsonValue>
#include <QString>

#include <httplib.h>

#include <optional>
#include <string>

namespace quorvel::server {

// What every resource's routes work with.
struct Services {
    Repository repo;
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
