#include "service/Sleep.h"

#include <QTimer>

#include <QCoroSignal>

namespace quorvel {

void CancelToken::cancel() {
    if (m_cancelled)
        return;
    m_cancelled = true;
    Q_EMIT cancelled();
}

namespace {

// Fires `woke` once: true when the time ran out, false when a token was cancelled.
class Waker : public QObject {
    Q_OBJECT
public:
    void wake(bool expired) {
        if (m_done)
            return;
        m_done = true;
        m_timer.stop();
        Q_EMIT woke(expired);
    }
    QTimer m_timer;
    bool m_done = false;
Q_SIGNALS:
    void woke(bool expired);
};

} // namespace

QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, CancelTokenPtr token,
                           CancelTokenPtr second) {
    if ((token && token->isCancelled()) || (second && second->isCancelled()))
        co_return false;
    auto *waker = new Waker;
    waker->m_timer.setSingleShot(true);
    QObject::connect(&waker->m_timer, &QTimer::timeout, waker, [waker] { waker->wake(true); });
    for (const CancelTokenPtr &t : {token, second})
        if (t)
            QObject::connect(
                t.get(), &CancelToken::cancelled, waker, [waker] { waker->wake(false); },
                Qt::QueuedConnection);
    waker->m_timer.start(duration);
    const bool expired = co_await qCoro(waker, &Waker::woke);
    waker->deleteLater();
    co_return expired;
}

} // namespace quorvel

#include "Sleep.moc"
