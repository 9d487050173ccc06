#pragma once

#include "service/Sleep.h"

#include <QObject>

#include <QCoroTask>

#include <functional>

namespace quorvel {

// The timed history refresh: after each interval, while it is enabled, one refresh,
// awaited before the next interval starts. At most one loop runs; stopping it wakes it.
class AutoRefresh : public QObject {
    Q_OBJECT
public:
    using Refresh = std::function<QCoro::Task<>()>;
    using Enabled = std::function<bool()>;

    explicit AutoRefresh(QObject *parent = nullptr);
    ~AutoRefresh() override;

    int intervalMs = 30'000;

    // Replaces a running loop by a new one.
    void start(Refresh refresh, Enabled enabled);
    void stop();
    bool isRunning() const { return bool(m_token); }

private:
    QCoro::Task<> loop(CancelTokenPtr token, Refresh refresh, Enabled enabled);

    CancelTokenPtr m_token;
};

} // namespace quorvel
