#include "BalancePanel.h"

namespace quorvel {

static_assert(int(BalancePanel::Face::Lifetime) == int(BalanceFigures::Face::Lifetime) &&
              int(BalancePanel::Face::Pages) == int(BalanceFigures::Face::Pages));

BalancePanel::BalancePanel(QObject *parent)
    : QObject(parent) {}

void BalancePanel::setAuthManager(AuthManager *manager) {
    if (manager == m_authManager)
        return;
    if (m_authManager)
        disconnect(m_authManager, nullptr, this, nullptr);
    m_authManager = manager;
    if (manager) {
        connect(manager, &AuthManager::userInfoChanged, this, &BalancePanel::recompute);
        connect(manager, &AuthManager::pageBalanceChanged, this, &BalancePanel::recompute);
    }
    recompute();
    Q_EMIT authManagerChanged();
}

QString BalancePanel::dailyUsageText() const {
    return QString::number(m_figures.dailyUsage) + QLatin1Char('/') +
           QString::number(m_figures.dailyTotal);
}

void BalancePanel::refresh() {
    if (m_authManager)
        fetch();
}

QCoro::Task<> BalancePanel::fetch() {
    QPointer<AuthManager> manager = m_authManager;
    co_await manager->fetchUserInfo();
    if (manager)
        co_await manager->fetchPageBalance();
}

void BalancePanel::recompute() {
    m_figures = m_authManager
                    ? BalanceFigures::from(m_authManager->userInfo(), m_authManager->pageBalance())
                    : BalanceFigures{};
    Q_EMIT figuresChanged();
}

} // namespace quorvel
