#include "Routes.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace quorvel::server {

void AuthRoutes::add(httplib::Server &svr) {
    svr.Post("/api/v1/tollan/auth/login",
             [this](const httplib::Request &req, httplib::Response &res) { login(req, res); });
    svr.Get("/api/v1/tollan/auth/me",
            [this](const httplib::Request &req, httplib::Response &res) { me(req, res); });
    svr.Get("/api/v1/tollan/convertapi/page_balance",
            [this](const httplib::Request &req, httplib::Response &res) { pageBalance(req, res); });
}

void AuthRoutes::login(const httplib::Request &req, httplib::Response &res) {
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body));
    const QJsonValue email = doc.object().value(QStringLiteral("email"));
    const QJsonValue password = doc.object().value(QStringLiteral("password"));
    if (!doc.isObject() || !email.isString() || !password.isString()) {
        reply(
            res, 400,
            QStringLiteral("the body must be a JSON object with \"email\" and \"password\" texts"));
        return;
    }
    const auto r = m_s.accounts.login(email.toString(), password.toString());
    switch (r.outcome) {
    case Accounts::LoginResult::Outcome::Ok:
        requestUser() = email.toString();
        reply(res, 200, QStringLiteral("ok"), QJsonObject{{QStringLiteral("token"), r.token}});
        return;
    case Accounts::LoginResult::Outcome::Refused:
        reply(res, 401, QStringLiteral("invalid e-mail or password"));
        return;
    case Accounts::LoginResult::Outcome::Throttled:
        reply(
            res, 429,
            QStringLiteral("too many failed sign-ins; try again in %1 s").arg(r.retryAfterSeconds));
        res.set_header("Retry-After", std::to_string(r.retryAfterSeconds));
        return;
    case Accounts::LoginResult::Outcome::Busy:
        reply(res, 503,
              QStringLiteral("too many sign-ins at once; try again in %1 s")
                  .arg(r.retryAfterSeconds));
        res.set_header("Retry-After", std::to_string(r.retryAfterSeconds));
        return;
    }
}

void AuthRoutes::me(const httplib::Request &req, httplib::Response &res) {
    const auto user = authenticate(m_s.accounts, req, res, true);
    if (!user)
        return;
    const Balance b = m_s.accounts.balance(*user);
    const bool lifetime = user->lifetimeDaily > 0;
    const qint64 remain = std::max<qint64>(0, b.totalPages - b.consumedPages);
    reply(res, 200, QStringLiteral("ok"),
          QJsonObject{
              {QStringLiteral("email"), user->email},
              {QStringLiteral("is_lifetimedeal_member"), lifetime},
              {QStringLiteral("lifetime_member_description"),
               lifetime
                   ? QStringLiteral("Lifetime membership: %1 pages a day").arg(user->lifetimeDaily)
                   : QStringLiteral("No lifetime membership")},
              {QStringLiteral("page_balcance_description"),
               QStringLiteral("%1 of %2 pages remain").arg(remain).arg(b.totalPages)},
              {QStringLiteral("lft_daily_usage"), lifetime ? b.dailyUsage : 0},
              {QStringLiteral("lft_daily_total"), user->lifetimeDaily},
          });
}

void AuthRoutes::pageBalance(const httplib::Request &req, httplib::Response &res) {
    const auto user = authenticate(m_s.accounts, req, res, true);
    if (!user)
        return;
    const Balance b = m_s.accounts.balance(*user);
    reply(res, 200, QStringLiteral("ok"),
          QJsonObject{{QStringLiteral("total_pages"), b.totalPages},
                      {QStringLiteral("consumed_pages"), b.consumedPages}});
}

} // namespace quorvel::server
