#include "conversion/PDFViewModel.h"

#include <chrono>

namespace quorvel {

void PDFViewModel::startAutoRefresh() {
    // At most one loop: the old one is cancelled before the new one starts.
    stopAutoRefresh();
    m_refreshTask = makeCancelToken();
    autoRefreshLoop(m_refreshTask); // runs on by itself; the token is its handle
}

void PDFViewModel::stopAutoRefresh() {
    if (m_refreshTask)
        m_refreshTask->cancel();
    m_refreshTask.reset();
}

QCoro::Task<> PDFViewModel::autoRefreshLoop(CancelTokenPtr token) {
    QPointer<PDFViewModel> self(this);
    const CancelTokenPtr lifetime = m_lifetime;
    for (;;) {
        if (token->isCancelled() || !m_autoRefreshEnabled)
            break;
        const bool slept =
            co_await sleepFor(std::chrono::milliseconds(refreshIntervalMs), token, lifetime);
        if (!slept || !self)
            break; // cancelled while asleep: no fetch
        if (token->isCancelled() || !m_autoRefreshEnabled)
            break;
        co_await refreshHistory();
        if (!self)
            break;
    }
    // A loop that ended by itself no longer counts as running.
    if (self && m_refreshTask == token)
        m_refreshTask.reset();
}

} // namespace quorvel
