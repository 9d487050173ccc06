#include "LoginForm.h"

namespace quorvel {

LoginForm::LoginForm(QObject *parent)
    : QObject(parent) {}

void LoginForm::setAuthManager(AuthManager *manager) {
    if (manager == m_authManager)
        return;
    m_authManager = manager;
    Q_EMIT authManagerChanged();
}

void LoginForm::setEmail(const QString &email) {
    if (email == m_email)
        return;
    m_email = email;
    Q_EMIT emailChanged();
    Q_EMIT canSubmitChanged();
}

void LoginForm::setPassword(const QString &password) {
    if (password == m_password)
        return;
    m_password = password;
    Q_EMIT passwordChanged();
    Q_EMIT canSubmitChanged();
}

void LoginForm::setShowPassword(bool show) {
    if (show == m_showPassword)
        return;
    m_showPassword = show;
    Q_EMIT showPasswordChanged();
}

QString LoginForm::eyeIcon() const {
    return m_showPassword ? QStringLiteral("eye.slash.fill") : QStringLiteral("eye.fill");
}

void LoginForm::submit() {
    if (!canSubmit() || !m_authManager)
        return;
    run(m_email, m_password);
}

QCoro::Task<> LoginForm::run(QString email, QString password) {
    QPointer<LoginForm> self(this);
    setLoading(true);
    setErrorMessage(std::nullopt);
    try {
        co_await m_authManager->login(email, password);
        if (!self)
            co_return;
        Q_EMIT succeeded();
        setLoading(false);
    } catch (const ServiceError &error) {
        if (!self)
            co_return;
        setErrorMessage(loginFailureMessage(error));
        setLoading(false);
    } catch (...) {
        // Anything else is still a failed attempt the user must see, never a silent stop.
        if (!self)
            co_return;
        setErrorMessage(loginFailureMessage(ServiceError(QStringLiteral("Login"), 0)));
        setLoading(false);
    }
}

void LoginForm::setLoading(bool loading) {
    if (loading == m_isLoading)
        return;
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
    Q_EMIT canSubmitChanged();
}

void LoginForm::setErrorMessage(std::optional<QString> message) {
    if (message == m_errorMessage)
        return;
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

} // namespace quorvel
