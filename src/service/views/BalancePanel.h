#pragma once

#include "service/AuthManager.h"
#include "service/BalanceFigures.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

// What the page balance panel draws, kept current from the account object's user details
// and balance, and the refresh it runs each time it is shown.
class BalancePanel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(quorvel::AuthManager *authManager READ authManager WRITE setAuthManager NOTIFY
                   authManagerChanged FINAL)
    Q_PROPERTY(Face face READ face NOTIFY figuresChanged FINAL)
    Q_PROPERTY(qint64 usage READ usage NOTIFY figuresChanged FINAL)
    Q_PROPERTY(qint64 remain READ remain NOTIFY figuresChanged FINAL)
    Q_PROPERTY(qint64 total READ total NOTIFY figuresChanged FINAL)
    Q_PROPERTY(double pageUsageRatio READ pageUsageRatio NOTIFY figuresChanged FINAL)
    Q_PROPERTY(bool showPageBar READ showPageBar NOTIFY figuresChanged FINAL)
    Q_PROPERTY(
        QString pageBalanceDescription READ pageBalanceDescription NOTIFY figuresChanged FINAL)
    Q_PROPERTY(QString lifetimeDescription READ lifetimeDescription NOTIFY figuresChanged FINAL)
    Q_PROPERTY(bool showDailyRow READ showDailyRow NOTIFY figuresChanged FINAL)
    Q_PROPERTY(QString dailyUsageText READ dailyUsageText NOTIFY figuresChanged FINAL)
    Q_PROPERTY(qint64 dailyRemain READ dailyRemain NOTIFY figuresChanged FINAL)
    Q_PROPERTY(double dailyRatio READ dailyRatio NOTIFY figuresChanged FINAL)

public:
    enum class Face { Loading, Lifetime, Pages };
    Q_ENUM(Face)

    explicit BalancePanel(QObject *parent = nullptr);

    AuthManager *authManager() const { return m_authManager; }
    void setAuthManager(AuthManager *manager);

    Face face() const { return Face(int(m_figures.face)); }
    qint64 usage() const { return m_figures.usage; }
    qint64 remain() const { return m_figures.remain; }
    qint64 total() const { return m_figures.total; }
    double pageUsageRatio() const { return m_figures.pageUsageRatio; }
    bool showPageBar() const { return m_figures.showPageBar; }
    QString pageBalanceDescription() const { return m_figures.pageBalanceDescription; }
    QString lifetimeDescription() const { return m_figures.lifetimeDescription; }
    bool showDailyRow() const { return m_figures.showDailyRow; }
    // "12/10": usage over the day's total.
    QString dailyUsageText() const;
    qint64 dailyRemain() const { return m_figures.dailyRemain; }
    double dailyRatio() const { return m_figures.dailyRatio; }

    // Loads the user details, then the balance; failures leave the panel as it is.
    Q_INVOKABLE void refresh();

Q_SIGNALS:
    void authManagerChanged();
    void figuresChanged();

private:
    QCoro::Task<> fetch();
    void recompute();

    QPointer<AuthManager> m_authManager;
    BalanceFigures m_figures;
};

} // namespace quorvel
