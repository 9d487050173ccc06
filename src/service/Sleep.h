#pragma once

#include <QObject>

#include <QCoroTask>

#include <chrono>
#include <memory>

namespace quorvel {

// Cooperative cancellation for long-lived tasks (polling, the refresh loop).
class CancelToken : public QObject {
    Q_OBJECT
public:
    void cancel();
    bool isCancelled() const { return m_cancelled; }
Q_SIGNALS:
    void cancelled();

private:
    bool m_cancelled = false;
};

using CancelTokenPtr = std::shared_ptr<CancelToken>;
inline CancelTokenPtr makeCancelToken() {
    return std::make_shared<CancelToken>();
}

// Sleeps on the current thread's event loop. Returns true when the time ran out,
// false when one of the tokens was cancelled first (or already was).
QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, CancelTokenPtr token = {},
                           CancelTokenPtr second = {});

} // namespace quorvel
