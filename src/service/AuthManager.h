#pragma once

#include "service/ServiceError.h"
#include "service/WireRecords.h"

#include <QObject>
#include <QVariant>

#include <QCoroTask>

#include <memory>
#include <optional>

namespace quorvel {

// The signed-in state of the application: whether a token is held, the user, the
// account details and the page balance. The token itself lives only in the
// preferences store, where every request reads it.
class AuthManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoggedIn READ isLoggedIn NOTIFY isLoggedInChanged FINAL)
    Q_PROPERTY(QVariant currentUser READ currentUserValue NOTIFY currentUserChanged FINAL)
    Q_PROPERTY(QVariant pageBalance READ pageBalanceValue NOTIFY pageBalanceChanged FINAL)
    Q_PROPERTY(QVariant userInfo READ userInfoValue NOTIFY userInfoChanged FINAL)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged FINAL)
    // The keyring is still being read at start: the window shows a spinner, not "Login".
    Q_PROPERTY(bool isReadingToken READ isReadingToken NOTIFY isReadingTokenChanged FINAL)
    Q_PROPERTY(QString error READ errorText NOTIFY errorChanged FINAL)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorChanged FINAL)

public:
    // Whether creation loads the account of a stored token in the background.
    enum class StartupFetch { Account, None };

    // Restores a stored token and loads the account in the background. When the token store
    // is still opening (the keyring can take seconds), the token is taken once it has.
    explicit AuthManager(QObject *parent = nullptr);
    // A front end that only signs in or out (the CLI) holds the token without the
    // start-up fetch, so no request races its own.
    explicit AuthManager(StartupFetch fetch, QObject *parent = nullptr);
    ~AuthManager() override;

    bool isLoggedIn() const { return m_isLoggedIn; }
    const std::optional<User> &currentUser() const { return m_currentUser; }
    const std::optional<PageBalanceData> &pageBalance() const { return m_pageBalance; }
    const std::optional<UserInfoData> &userInfo() const { return m_userInfo; }
    bool isLoading() const { return m_isLoading; }
    bool isReadingToken() const { return m_isReadingToken; }
    const std::optional<QString> &error() const { return m_error; }

    QVariant currentUserValue() const;
    QVariant pageBalanceValue() const;
    QVariant userInfoValue() const;
    QString errorText() const { return m_error.value_or(QString()); }
    bool hasError() const { return m_error.has_value(); }

    // Exchanges credentials for a token, stores it, then loads the account. Throws
    // ServiceError; a failed attempt changes no field.
    QCoro::Task<> login(QString email, QString password);
    Q_INVOKABLE void logout();
    // Never throw: a failure is logged and lands in `error`.
    QCoro::Task<> fetchUserInfo();
    QCoro::Task<> fetchPageBalance();

    // Limits of the dedicated login session (settable so tests need not wait minutes).
    int loginRequestTimeoutMs = 30'000;
    int loginResourceTimeoutMs = 300'000;

    // The task started by the start-up restore, for callers that must wait for it.
    bool restoreRunning() const { return m_restoreRunning; }

Q_SIGNALS:
    void isLoggedInChanged();
    void currentUserChanged();
    void pageBalanceChanged();
    void userInfoChanged();
    void isLoadingChanged();
    void isReadingTokenChanged();
    void errorChanged();
    void restoreFinished();

private:
    void adoptStoredToken(StartupFetch fetch);
    QCoro::Task<> awaitTokenStore(StartupFetch fetch);
    QCoro::Task<> restore(QString token);
    QCoro::Task<> waitForConnectivity(int limitMs);
    void setLoggedIn(bool value);
    void setCurrentUser(std::optional<User> user);
    void setError(const QString &text);
    void reportLoginError(const ServiceError &error);

    bool m_isLoggedIn = false;
    std::optional<User> m_currentUser;
    std::optional<PageBalanceData> m_pageBalance;
    std::optional<UserInfoData> m_userInfo;
    bool m_isLoading = false;
    bool m_isReadingToken = false;
    std::optional<QString> m_error;
    bool m_restoreRunning = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// Login form messages for a failed login, chosen by the error's code.
QString loginFailureMessage(const ServiceError &error);

} // namespace quorvel
