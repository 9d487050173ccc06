#include "service/AnswerLimits.h"

#include <atomic>

namespace quorvel {

namespace {

// A record answer is under 2 KiB; 1 MiB is far past any real one and nothing to a desktop.
// The total deadline doubles the inactivity limit: a service that answers at all answers a
// record well within it.
constexpr AnswerLimits kSmall{1 << 20, 30'000, 60'000};

// One job is about 340 bytes on the wire (the reference service's records with names of some
// thirty characters), so 1 000 000 jobs are about 340 MB; 512 MiB leaves half as much again
// for longer names. Jobs are parsed from this buffer, so the cap also bounds the parsing's
// input. The deadline is the login's whole-resource limit: a list of a million jobs still
// arrives within it over a link of some 12 Mbit/s.
constexpr AnswerLimits kHistory{qint64(512) << 20, 30'000, 300'000};

struct Table {
    std::atomic<qint64> maxBodyBytes;
    std::atomic<int> idleMs;
    std::atomic<int> totalMs;

    void set(AnswerLimits l) {
        maxBodyBytes = l.maxBodyBytes;
        idleMs = l.idleMs;
        totalMs = l.totalMs;
    }
    AnswerLimits get() const { return {maxBodyBytes, idleMs, totalMs}; }
};

// Read from the network thread too.
Table g_small{kSmall.maxBodyBytes, kSmall.idleMs, kSmall.totalMs};
Table g_history{kHistory.maxBodyBytes, kHistory.idleMs, kHistory.totalMs};

Table &tableFor(AnswerKind kind) {
    return kind == AnswerKind::History ? g_history : g_small;
}

} // namespace

AnswerLimits answerLimits(AnswerKind kind) {
    return tableFor(kind).get();
}

void setAnswerLimits(AnswerKind kind, AnswerLimits limits) {
    tableFor(kind).set(limits);
}

void resetAnswerLimits() {
    g_small.set(kSmall);
    g_history.set(kHistory);
}

} // namespace quorvel
