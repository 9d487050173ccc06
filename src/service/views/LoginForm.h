#pragma once

#include "service/AuthManager.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

// The state and rules of the login sheet: what the fields hold, when the button may be
// pressed, and which message a failed attempt shows.
class LoginForm : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(quorvel::AuthManager *authManager READ authManager WRITE setAuthManager NOTIFY
                   authManagerChanged FINAL)
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged FINAL)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged FINAL)
    Q_PROPERTY(
        bool showPassword READ showPassword WRITE setShowPassword NOTIFY showPasswordChanged FINAL)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged FINAL)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged FINAL)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorMessageChanged FINAL)
    Q_PROPERTY(bool canSubmit READ canSubmit NOTIFY canSubmitChanged FINAL)
    Q_PROPERTY(QString eyeIcon READ eyeIcon NOTIFY showPasswordChanged FINAL)

public:
    explicit LoginForm(QObject *parent = nullptr);

    AuthManager *authManager() const { return m_authManager; }
    void setAuthManager(AuthManager *manager);
    QString email() const { return m_email; }
    void setEmail(const QString &email);
    QString password() const { return m_password; }
    void setPassword(const QString &password);
    bool showPassword() const { return m_showPassword; }
    void setShowPassword(bool show);
    bool isLoading() const { return m_isLoading; }
    QString errorMessage() const { return m_errorMessage.value_or(QString()); }
    bool hasError() const { return m_errorMessage.has_value(); }
    // Spaces count as content; only an empty field or a running attempt blocks the button.
    bool canSubmit() const { return !m_isLoading && !m_email.isEmpty() && !m_password.isEmpty(); }
    QString eyeIcon() const;

    // Signs in with the fields exactly as typed; `succeeded` closes the sheet.
    Q_INVOKABLE void submit();
    Q_INVOKABLE void toggleShowPassword() { setShowPassword(!m_showPassword); }

Q_SIGNALS:
    void authManagerChanged();
    void emailChanged();
    void passwordChanged();
    void showPasswordChanged();
    void isLoadingChanged();
    void errorMessageChanged();
    void canSubmitChanged();
    void succeeded();

private:
    QCoro::Task<> run(QString email, QString password);
    void setLoading(bool loading);
    void setErrorMessage(std::optional<QString> message);

    QPointer<AuthManager> m_authManager;
    QString m_email;
    QString m_password;
    bool m_showPassword = false;
    bool m_isLoading = false;
    std::optional<QString> m_errorMessage;
};

} // namespace quorvel
