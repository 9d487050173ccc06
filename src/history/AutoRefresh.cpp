#include "history/AutoRefresh.h"

#include <QPointer>

#include <chrono>

namespace quorvel {

AutoRefresh::AutoRefresh(QObject *parent)
    : QObject(parent) {}

AutoRefresh::~AutoRefresh() {
    stop();
}

void AutoRefresh::start(Refresh refresh, Enabled enabled) {
    // At most one loop: the old one is cancelled before the new one starts.
    stop();
    m_token = makeCancelToken();
    loop(m_token, std::move(refresh), std::move(enabled)); // runs on; the token is its handle
}

void AutoRefresh::stop() {
    if (m_token)
        m_token->cancel();
    m_token.reset();
}

QCoro::Task<> AutoRefresh::loop(CancelTokenPtr token, Refresh refresh, Enabled enabled) {
    QPointer<AutoRefresh> self(this);
    for (;;) {
        if (token->isCancelled() || !enabled())
            break;
        const bool slept = co_await sleepFor(std::chrono::milliseconds(intervalMs), token);
        if (!slept || !self)
            break; // cancelled while asleep: no fetch
        if (token->isCancelled() || !enabled())
            break;
        co_await refresh();
        if (!self)
            co_return;
    }
    // A loop that ended by itself no longer counts as running.
    if (self && m_token == token)
        m_token.reset();
}

} // namespace quorvel
