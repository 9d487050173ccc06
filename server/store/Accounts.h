#pragma once

#include "Store.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace quorvel::server {

// Users, passwords, tokens and the page ledger.
class Accounts {
public:
    explicit Accounts(Store &store);

    static QString hashPassword(const QString &password);
    static bool verifyPassword(const QString &hash, const QString &password);
    // 32 random bytes as 64 lower-case hex digits.
    static QString newToken();
    static QString tokenHash(const QString &token);

    // Throws DatabaseError, e.g. for an e-mail that exists already.
    UserRecord addUser(const QString &email, const QString &password, qint64 pages,
                       qint64 lifetimeDaily);
    bool setPages(const QString &email, std::optional<qint64> pages,
                  std::optional<qint64> lifetimeDaily);
    bool setPassword(const QString &email, const QString &password);
    std::vector<UserRecord> users() const;
    std::optional<UserRecord> user(qint64 id) const;
    std::optional<UserRecord> userByEmail(const QString &email) const;

    struct LoginResult {
        // Busy: too many password checks are running or waiting; try again shortly.
        enum class Outcome { Ok, Refused, Throttled, Busy } outcome = Outcome::Refused;
        QString token;
        int retryAfterSeconds = 0;
    };
    // A wrong e-mail and a wrong password look the same from outside; repeated
    // failures for one e-mail must wait longer and longer before the next try.
    LoginResult login(const QString &email, const QString &password);
    struct Identity {
        qint64 id = 0;
        QString email;
    };
    std::optional<Identity> authenticate(const QString &token) const;

    Balance balance(const UserRecord &user) const;

    // Lets tests and the command line pick faster hashing; the service keeps the default.
    static void setFastHashingForTests(bool fast);

private:
    // Each password check takes 64 MiB: at most one per core runs, a few more
    // wait their turn briefly, the rest are turned away.
    bool enterHashing();
    void leaveHashing();

    struct Failures {
        int count = 0;
        std::chrono::steady_clock::time_point notBefore;
    };
    Store &m_store;
    std::mutex m_failMutex;
    std::map<QString, Failures> m_failures;
    struct RecentToken {
        Identity who;
        qint64 until = 0; // milliseconds since the epoch
    };
    std::mutex m_hashMutex;
    std::condition_variable m_hashFree;
    int m_hashing = 0;
    int m_hashWaiting = 0;
    mutable std::mutex m_tokenMutex;
    mutable std::unordered_map<QString, RecentToken> m_recentTokens;
};

} // namespace quorvel::server
