#include "service/AuthManager.h"

#include "service/HttpClient.h"
#include "service/LogCategories.h"
#include "service/Request.h"
#include "service/TokenStore.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkInformation>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>
#include <QCoroSignal>

namespace quorvel {

AuthManager::AuthManager(QObject *parent)
    : AuthManager(StartupFetch::Account, parent) {}

AuthManager::AuthManager(StartupFetch fetch, QObject *parent)
    : QObject(parent) {
    if (!TokenStore::isOpen() && TokenStore::pendingOpening()) {
        m_isReadingToken = true;
        awaitTokenStore(fetch);
        return;
    }
    adoptStoredToken(fetch);
}

void AuthManager::adoptStoredToken(StartupFetch fetch) {
    const auto token = TokenStore::read();
    if (!token)
        return;
    // The stored token is trusted until the service refuses it.
    setLoggedIn(true);
    if (fetch == StartupFetch::Account)
        restore(*token);
}

QCoro::Task<> AuthManager::awaitTokenStore(StartupFetch fetch) {
    QPointer<AuthManager> self(this);
    // Named, not a temporary of the co_await: GCC 12 may destroy such a temporary twice.
    QFuture<TokenStore::Opening> pending = *TokenStore::pendingOpening();
    co_await pending;
    const TokenStore::Opening opening = pending.result();
    if (!self)
        co_return;
    m_isReadingToken = false;
    Q_EMIT isReadingTokenChanged();
    // A locked or refusing keyring is the user's to resolve; nothing is read from elsewhere.
    if (!opening.problem.isEmpty())
        setError(QStringLiteral("The keyring refused the sign-in: ") + opening.problem);
    adoptStoredToken(fetch);
}

AuthManager::~AuthManager() {
    *m_alive = false;
}

QVariant AuthManager::currentUserValue() const {
    return m_currentUser ? QVariant::fromValue(*m_currentUser) : QVariant();
}
QVariant AuthManager::pageBalanceValue() const {
    return m_pageBalance ? QVariant::fromValue(*m_pageBalance) : QVariant();
}
QVariant AuthManager::userInfoValue() const {
    return m_userInfo ? QVariant::fromValue(*m_userInfo) : QVariant();
}

void AuthManager::setLoggedIn(bool value) {
    if (m_isLoggedIn == value)
        return;
    m_isLoggedIn = value;
    Q_EMIT isLoggedInChanged();
}

void AuthManager::setCurrentUser(std::optional<User> user) {
    m_currentUser = std::move(user);
    Q_EMIT currentUserChanged();
}

void AuthManager::setError(const QString &text) {
    m_error = text;
    Q_EMIT errorChanged();
}

QCoro::Task<> AuthManager::restore(QString token) {
    QPointer<AuthManager> self(this);
    m_restoreRunning = true;
    Log::write(lcAuth(),
               QStringLiteral("🔄 加载已保存的用户信息，令牌: ") + Log::redactToken(token));
    co_await fetchUserInfo();
    if (!self)
        co_return;
    co_await fetchPageBalance();
    if (!self)
        co_return;
    m_restoreRunning = false;
    Q_EMIT restoreFinished();
}

QCoro::Task<> AuthManager::waitForConnectivity(int limitMs) {
    // Only wait when a backend positively knows the network is down; without one,
    // the network is taken to be up and the request itself decides.
    if (!QNetworkInformation::instance())
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    QNetworkInformation *info = QNetworkInformation::instance();
    if (!info)
        co_return;
    QDeadlineTimer deadline(limitMs);
    while (info->reachability() == QNetworkInformation::Reachability::Disconnected &&
           !deadline.hasExpired()) {
        co_await qCoro(info, &QNetworkInformation::reachabilityChanged,
                       std::chrono::milliseconds(deadline.remainingTime()));
    }
}

void AuthManager::reportLoginError(const ServiceError &error) {
    Log::write(lcAuth(), QStringLiteral("❌ Error details:"));
    Log::write(lcAuth(), QStringLiteral("   Domain: ") + error.domain());
    Log::write(lcAuth(), QStringLiteral("   Code: ") + QString::number(error.code()));
    Log::write(lcAuth(), QStringLiteral("   Description: ") + error.description());
    if (error.underlying())
        Log::write(lcAuth(), QStringLiteral("   Underlying error: ") + *error.underlying());
    if (error.domain() != ServiceError::kUrlErrorDomain) {
        Log::write(lcAuth(), QStringLiteral("❌ Error: ") + error.description());
        return;
    }
    switch (error.code()) {
    case -1009:
        Log::write(lcAuth(), QStringLiteral("❌ No internet connection"));
        break;
    case -1006:
        Log::write(lcAuth(), QStringLiteral("❌ DNS lookup failed"));
        break;
    case -1005:
        Log::write(lcAuth(), QStringLiteral("❌ Network connection lost"));
        break;
    case -1004:
        Log::write(lcAuth(), QStringLiteral("❌ Cannot connect to server"));
        break;
    case -1003:
        Log::write(lcAuth(), QStringLiteral("❌ Cannot find server"));
        break;
    case -1001:
        Log::write(lcAuth(), QStringLiteral("❌ Request timed out"));
        break;
    default:
        Log::write(lcAuth(), QStringLiteral("❌ Network error: ") + error.description());
    }
}

namespace {

void reportDecodingError(const ServiceError &e) {
    Log::write(lcAuth(), QStringLiteral("❌ Decoding error: ") + e.rendering());
    Log::write(lcAuth(), QStringLiteral("❌ Decoding error details: ") + e.description());
    if (e.family() != ServiceError::Family::Decoding) {
        Log::write(lcAuth(), QStringLiteral("❌ Unknown decoding error"));
        return;
    }
    switch (e.decodingKind()) {
    case ServiceError::DecodingKind::TypeMismatch:
        Log::write(lcAuth(), QStringLiteral("❌ Type mismatch: ") + e.typeOrKey() +
                                 QStringLiteral(" - ") + e.debugDescription());
        break;
    case ServiceError::DecodingKind::ValueNotFound:
        Log::write(lcAuth(), QStringLiteral("❌ Value not found: ") + e.typeOrKey() +
                                 QStringLiteral(" - ") + e.debugDescription());
        break;
    case ServiceError::DecodingKind::KeyNotFound:
        Log::write(lcAuth(), QStringLiteral("❌ Key not found: ") + e.typeOrKey() +
                                 QStringLiteral(" - ") + e.debugDescription());
        break;
    case ServiceError::DecodingKind::DataCorrupted:
        Log::write(lcAuth(), QStringLiteral("❌ Data corrupted: ") + e.debugDescription());
        break;
    }
}

QByteArray loginBody(const QString &email, const QString &password) {
    return QJsonDocument(QJsonObject{{QStringLiteral("email"), email},
                                     {QStringLiteral("password"), password}})
        .toJson(QJsonDocument::Compact);
}

// The token inside a login answer, so the logged body can hide it.
QString tokenIn(const QByteArray &body) {
    const auto value = json::tryParse(body);
    if (!value || !value->isObject())
        return {};
    const QJsonValue token =
        value->toObject().value(QStringLiteral("data")).toObject().value(QStringLiteral("token"));
    return token.isString() ? token.toString() : QString();
}

} // namespace

QCoro::Task<> AuthManager::login(QString email, QString password) {
    QPointer<AuthManager> self(this);
    const QString hidden = Log::kRedactedPassword;
    Log::write(lcAuth(), QStringLiteral("=------------------------------------------ ") + email +
                             u' ' + hidden);
    Log::write(lcAuth(), QStringLiteral("📝 Login data: ") +
                             Log::renderMap({{QStringLiteral("email"), email},
                                             {QStringLiteral("password"), hidden}}));
    const QByteArray body = loginBody(email, password);
    const QString bodyForLog = QString::fromUtf8(loginBody(email, hidden));
    Log::write(lcAuth(), QStringLiteral("📦 Serialized body: ") + bodyForLog);

    auto built = createRequest(QStringLiteral("/v1/tollan/auth/login"), "POST", body,
                               RequestLogOptions{bodyForLog});
    if (!built) {
        Log::write(lcAuth(), QStringLiteral("❌ Failed to create request"));
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    }
    Request request = *built;
    Log::write(lcAuth(), QStringLiteral("=11------------------------------------------"));
    Log::write(lcAuth(),
               QStringLiteral("🌐 Final request: ") + request.url().toString(QUrl::FullyEncoded));
    Log::write(lcAuth(), QStringLiteral("📝 Method: ") + QString::fromLatin1(request.method));
    Log::write(lcAuth(), QStringLiteral("🔑 Headers: ") + request.renderedHeaders());
    Log::write(lcAuth(), QStringLiteral("📦 Body: ") + bodyForLog);

    // The dedicated login session: waits while offline, 30 s per request, 300 s in all.
    QNetworkAccessManager loginSession;
    QString token;
    try {
        QDeadlineTimer overall(loginResourceTimeoutMs);
        co_await waitForConnectivity(loginResourceTimeoutMs);
        request.timeoutMs = loginRequestTimeoutMs;
        request.totalLimitMs = int(qMax<qint64>(1, overall.remainingTime()));
        const HttpResponse response = co_await send(loginSession, request);

        const QString hiddenToken = Log::redactToken(tokenIn(response.body));
        const QString realToken = tokenIn(response.body);
        Log::write(lcAuth(), QStringLiteral("======================================== ") +
                                 response.description());
        if (!response.isHttp)
            throw ServiceError(QStringLiteral("Invalid response"), -1);
        Log::write(lcAuth(),
                   QStringLiteral("📥 Response status code: ") + QString::number(response.status));
        Log::write(lcAuth(), QStringLiteral("📦 Response headers: ") + response.renderedHeaders());
        if (Log::isValidUtf8(response.body)) {
            QString text = QString::fromUtf8(response.body);
            if (!realToken.isEmpty())
                text.replace(realToken, hiddenToken);
            Log::write(lcAuth(), QStringLiteral("📄 Response body: ") + text);
        }
        if (response.status == 401)
            throw ServiceError(QStringLiteral("Invalid credentials"), 401);
        if (response.status != 200)
            throw ServiceError(QStringLiteral("Login failed"), response.status);
        try {
            token = LoginResponse::decode(response.body).data.token;
        } catch (const ServiceError &e) {
            reportDecodingError(e);
            throw;
        }
        Log::write(lcAuth(), QStringLiteral("✅ Successfully decoded login response"));
        Log::write(lcAuth(), QStringLiteral("📝 Token: ") + Log::redactToken(token));
        // Stored, it would go out in every request's header.
        if (!TokenStore::isWellFormed(token))
            throw ServiceError(QStringLiteral("The service's token is not a valid header value"),
                               -1);
    } catch (const ServiceError &e) {
        reportLoginError(e);
        throw;
    }
    if (!self)
        co_return;

    // The keyring may take seconds (or ask the user to unlock it): stored off this thread.
    auto stored = std::make_shared<std::pair<bool, QString>>();
    // Named, not a temporary of the co_await: GCC 12 may destroy such a temporary twice.
    QFuture<void> storing = QtConcurrent::run(
        [token, stored] { stored->first = TokenStore::write(token, &stored->second); });
    co_await storing;
    if (!self)
        co_return;
    if (!stored->first) {
        const ServiceError error(QStringLiteral("Keyring"), -1);
        setError(QStringLiteral("The keyring refused the sign-in token: ") + stored->second);
        reportLoginError(error);
        throw error;
    }
    setCurrentUser(User{QString(), email, QString()});
    setLoggedIn(true);
    Log::write(lcAuth(), QStringLiteral("【=================】"));
    co_await fetchUserInfo();
    if (!self)
        co_return;
    co_await fetchPageBalance();
}

void AuthManager::logout() {
    TokenStore::remove();
    setCurrentUser(std::nullopt);
    m_userInfo.reset();
    Q_EMIT userInfoChanged();
    m_pageBalance.reset();
    Q_EMIT pageBalanceChanged();
    setLoggedIn(false);
}

QCoro::Task<> AuthManager::fetchUserInfo() {
    QPointer<AuthManager> self(this);
    auto request = createRequest(QStringLiteral("/v1/tollan/auth/me"), "GET");
    if (!request)
        co_return;
    try {
        // Received off the GUI thread: at start the window must draw whatever the service does.
        const HttpResponse response = co_await sendInBackground(*request);
        if (!response.isHttp || response.status != 200)
            throw ServiceError(QStringLiteral("Invalid response"), -1);
        const UserInfoResponse decoded = UserInfoResponse::decode(response.body);
        Log::write(lcAuth(), QStringLiteral(">>>>>>>>>>>>>>>>>>>>>.: ") +
                                 decoded.render(QStringLiteral("UserInfoResponse")));
        Log::write(lcAuth(), decoded.data.is_lifetimedeal_member
                                 ? QStringLiteral("🔑 用户是终身会员")
                                 : QStringLiteral("🔑 用户不是终身会员"));
        if (!self)
            co_return;
        m_userInfo = decoded.data;
        Q_EMIT userInfoChanged();
        if (!m_currentUser || m_currentUser->email != decoded.data.email)
            setCurrentUser(User{QString(), decoded.data.email, QString()});
    } catch (const ServiceError &e) {
        Log::write(lcAuth(), QStringLiteral("Error fetching user info: ") + e.rendering());
        if (self)
            setError(e.description());
    }
}

QCoro::Task<> AuthManager::fetchPageBalance() {
    QPointer<AuthManager> self(this);
    auto request = createRequest(QStringLiteral("/v1/tollan/convertapi/page_balance"), "GET");
    if (!request)
        co_return;
    try {
        // Received off the GUI thread: at start the window must draw whatever the service does.
        const HttpResponse response = co_await sendInBackground(*request);
        if (!response.isHttp || response.status != 200)
            throw ServiceError(QStringLiteral("Invalid response"), -1);
        const PageBalanceResponse decoded = PageBalanceResponse::decode(response.body);
        if (!self)
            co_return;
        m_pageBalance = decoded.data;
        Q_EMIT pageBalanceChanged();
    } catch (const ServiceError &e) {
        Log::write(lcAuth(), QStringLiteral("Error fetching page balance: ") + e.rendering());
        if (self)
            setError(e.description());
    }
}

QString loginFailureMessage(const ServiceError &error) {
    if (error.code() == -1)
        return QStringLiteral("Network error. Please try again.");
    if (error.code() == 401)
        return QStringLiteral("Invalid email or password");
    return QStringLiteral("Login failed: ") + error.description();
}

} // namespace quorvel
