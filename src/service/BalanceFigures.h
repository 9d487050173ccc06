#pragma once

#include "service/WireRecords.h"

#include <QObject>

#include <optional>

namespace quorvel {

// What the page balance panel shows, computed once from the account details and the
// page balance, so the desktop panel and the CLI read the same figures.
struct BalanceFigures {
    Q_GADGET
    Q_PROPERTY(Face face MEMBER face FINAL)
    Q_PROPERTY(qint64 usage MEMBER usage FINAL)
    Q_PROPERTY(qint64 remain MEMBER remain FINAL)
    Q_PROPERTY(qint64 total MEMBER total FINAL)
    Q_PROPERTY(double pageUsageRatio MEMBER pageUsageRatio FINAL)
    Q_PROPERTY(bool showPageBar MEMBER showPageBar FINAL)
    Q_PROPERTY(QString pageBalanceDescription MEMBER pageBalanceDescription FINAL)
    Q_PROPERTY(QString lifetimeDescription MEMBER lifetimeDescription FINAL)
    Q_PROPERTY(bool showDailyRow MEMBER showDailyRow FINAL)
    Q_PROPERTY(qint64 dailyUsage MEMBER dailyUsage FINAL)
    Q_PROPERTY(qint64 dailyTotal MEMBER dailyTotal FINAL)
    Q_PROPERTY(qint64 dailyRemain MEMBER dailyRemain FINAL)
    Q_PROPERTY(double dailyRatio MEMBER dailyRatio FINAL)
public:
    // Loading: no account details yet; Lifetime: the daily allowance; Pages: bought pages.
    enum class Face { Loading, Lifetime, Pages };
    Q_ENUM(Face)

    Face face = Face::Loading;
    qint64 usage = 0;
    qint64 remain = 0;
    qint64 total = 0;
    // Not capped: an overdrawn balance draws a fill wider than its track.
    double pageUsageRatio = 0;
    bool showPageBar = false;
    QString pageBalanceDescription;
    QString lifetimeDescription;
    bool showDailyRow = false;
    qint64 dailyUsage = 0;
    qint64 dailyTotal = 0;
    // Not floored: an overdrawn day shows a negative remainder.
    qint64 dailyRemain = 0;
    double dailyRatio = 0;

    static BalanceFigures from(const std::optional<UserInfoData> &userInfo,
                               const std::optional<PageBalanceData> &pageBalance);
};

} // namespace quorvel

Q_DECLARE_METATYPE(quorvel::BalanceFigures)
