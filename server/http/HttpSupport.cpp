#include "HttpSupport.h"

#include "Compression.h"
#include "HttpConnections.h"
#include "Records.h"

#include <QUuid>

namespace quorvel::server {

QString newId() {
    return QUuid::createUuid().toString(QUuid::Id128);
}

void reply(httplib::Response &res, int status, const QString &msg, const QJsonValue &data) {
    res.status = status;
    res.set_content(envelope(status == 200 ? 0 : status, msg, data).toStdString(),
                    "application/json");
}

std::size_t CachedAnswer::sizeOf(const std::vector<Part> &parts) {
    std::size_t n = 0;
    for (const Part &p : parts)
        n += p->size();
    return n;
}

void reply(httplib::Response &res, std::shared_ptr<const CachedAnswer> answer) {
    const bool gzip =
        !answer->gzip.empty() && compression::acceptsGzip(HttpConnections::acceptEncoding());
    const std::vector<CachedAnswer::Part> &parts = gzip ? answer->gzip : answer->body;
    if (!answer->gzip.empty())
        res.set_header("Vary", "Accept-Encoding");
    if (gzip)
        res.set_header("Content-Encoding", "gzip");
    res.status = 200;
    res.set_content_provider(
        CachedAnswer::sizeOf(parts), "application/json",
        [answer = std::move(answer), &parts](size_t offset, size_t, httplib::DataSink &sink) {
            for (const CachedAnswer::Part &p : parts) {
                if (offset >= p->size()) {
                    offset -= p->size();
                    continue;
                }
                if (!sink.write(p->data() + offset, p->size() - offset))
                    return false;
                offset = 0;
            }
            return true;
        });
}

void replyAndClose(httplib::Response &res, int status, const QString &msg) {
    reply(res, status, msg);
    res.set_header("Connection", "close");
}

std::optional<UserRecord> authenticate(Accounts &accounts, const httplib::Request &req,
                                       httplib::Response &res, bool fullRecord) {
    const std::string header = req.get_header_value("Authorization");
    static const std::string prefix = "Bearer ";
    std::optional<UserRecord> user;
    if (header.compare(0, prefix.size(), prefix) == 0) {
        if (const auto who = accounts.authenticate(qstr(header.substr(prefix.size())))) {
            if (fullRecord) {
                user = accounts.user(who->id);
            } else {
                user = UserRecord{};
                user->id = who->id;
                user->email = who->email;
            }
        }
    }
    if (!user) {
        reply(res, 401, QStringLiteral("not signed in, or the session has expired"));
        return std::nullopt;
    }
    requestUser() = user->email;
    return user;
}

QString &requestUser() {
    thread_local QString user;
    return user;
}

std::string logSafe(const std::string &s) {
    std::string out;
    out.reserve(s.size());
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace quorvel::server
