#include "service/BalanceFigures.h"

#include <algorithm>

namespace quorvel {

BalanceFigures BalanceFigures::from(const std::optional<UserInfoData> &userInfo,
                                    const std::optional<PageBalanceData> &pageBalance) {
    BalanceFigures f;
    if (pageBalance) {
        f.usage = pageBalance->consumed_pages;
        f.total = pageBalance->total_pages;
        f.remain = std::max<qint64>(0, f.total - f.usage);
        f.pageUsageRatio = double(f.usage) / double(std::max<qint64>(f.total, 1));
        f.showPageBar = true;
    }
    if (!userInfo)
        return f;
    f.pageBalanceDescription = userInfo->page_balcance_description;
    f.lifetimeDescription = userInfo->lifetime_member_description;
    f.dailyUsage = userInfo->lft_daily_usage;
    f.dailyTotal = userInfo->lft_daily_total;
    f.dailyRemain = f.dailyTotal - f.dailyUsage;
    f.dailyRatio = std::min(1.0, double(f.dailyUsage) / double(std::max<qint64>(f.dailyTotal, 1)));
    f.face = userInfo->is_lifetimedeal_member ? Face::Lifetime : Face::Pages;
    f.showDailyRow = f.face == Face::Lifetime && f.dailyTotal > 0;
    return f;
}

} // namespace quorvel
