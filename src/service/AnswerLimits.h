#pragma once

#include <QtGlobal>

namespace quorvel {

// How much of an answer the client takes into memory and how long it waits for it. Every
// request that reads its answer into memory has both a size cap and a total deadline besides
// its inactivity limit, so neither an endless answer nor one that drips a byte at a time can
// hold memory or a screen for ever.
struct AnswerLimits {
    qint64 maxBodyBytes = 0;
    int idleMs = 0;  // inactivity
    int totalMs = 0; // the whole exchange
};

enum class AnswerKind {
    // Account, balance, convert, status, retry, upload answers: one record each.
    Small,
    // The account's whole history.
    History,
};

AnswerLimits answerLimits(AnswerKind kind);
// For tests, which set short deadlines and small caps through the values the app reads.
void setAnswerLimits(AnswerKind kind, AnswerLimits limits);
void resetAnswerLimits();

} // namespace quorvel
