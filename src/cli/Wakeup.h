#pragma once

#include <QTimer>

#include <coroutine>
#include <memory>
#include <utility>

namespace quorvel::cli {

// Lets a coroutine wait for "something changed" from signals that may fire several times
// in a row. The waiter resumes from the event loop, never inside the emitting code, and a
// notification while nobody waits is kept, so none is lost. (Awaiting such a signal
// directly can deliver a second queued emission to an awaiter that is already gone.)
class Wakeup {
public:
    ~Wakeup() { *m_alive = false; }

    void notify() {
        m_pending = true;
        if (!m_waiter)
            return;
        const std::coroutine_handle<> waiter = std::exchange(m_waiter, {});
        QTimer::singleShot(0, [waiter, alive = m_alive] {
            if (*alive)
                waiter.resume();
        });
    }

    auto operator co_await() {
        struct Awaiter {
            Wakeup &wakeup;
            bool await_ready() const noexcept { return wakeup.m_pending; }
            void await_suspend(std::coroutine_handle<> handle) noexcept {
                wakeup.m_waiter = handle;
            }
            void await_resume() noexcept { wakeup.m_pending = false; }
        };
        return Awaiter{*this};
    }

private:
    bool m_pending = false;
    std::coroutine_handle<> m_waiter;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace quorvel::cli
