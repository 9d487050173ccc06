#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

// The longest gap between two turns of the GUI thread's event loop while it runs.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const qint64 cpu = threadCpuNs();
            if (qEnvironmentVariableIsSet("QUORVEL_BENCH_TRACE") && now - m_last > 16'000'000)
                std::printf("  stall %.1f ms (%.1f ms on the GUI thread) ending at %.1f ms\n",
                            (now - m_last) / 1e6, (cpu - m_lastCpu) / 1e6, now / 1e6);
            m_longest = std::max(m_longest, now - m_last);
            m_longestBusy = std::max(m_longestBusy, cpu - m_lastCpu);
            m_last = now;
            m_lastCpu = cpu;
        });
    }
    void start() {
        m_longest = 0;
        m_longestBusy = 0;
        m_clock.start();
        m_last = 0;
        m_lastCpu = threadCpuNs();
        m_timer.start();
    }
    double nowMs() const { return m_clock.nsecsElapsed() / 1e6; }
    double stopMs() {
        m_timer.stop();
        return double(std::max(m_longest, m_clock.nsecsElapsed() - m_last)) / 1e6;
    }

    // Of the longest stall, the part the GUI thread itself worked: on a busy machine a stall
    // also holds the time the thread waited for a core.
    double busiestMs() const { return double(m_longestBusy) / 1e6; }

    static qint64 threadCpuNs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastCpu = 0;
    qint64 m_longest = 0;
    qint64 m_longestBusy = 0;
};

// This process's resident memory.
inline double rssMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}
