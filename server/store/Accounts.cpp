#include "Accounts.h"

#include "Records.h"

#include <QDateTime>

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

namespace quorvel::server {

namespace {

std::atomic<bool> g_fastHashing{false};
constexpr qint64 kTokenLifetimeSeconds = 90LL * 24 * 3600;
constexpr int kFreeFailures = 3;
constexpr int kMaxDelaySeconds = 60;
constexpr qint64 kTokenCacheSeconds = 10;
constexpr qint64 kSharedTokenCacheMs = 800;
constexpr auto kHashWait = std::chrono::seconds(3);
constexpr int kBusyRetrySeconds = 2;

int hashSlots() {
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

void initSodium() {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}

} // namespace

Accounts::Accounts(Store &store)
    : m_store(store) {
    initSodium();
}

void Accounts::setFastHashingForTests(bool fast) {
    g_fastHashing = fast;
}

QString Accounts::hashPassword(const QString &password) {
    initSodium();
    const QByteArray pw = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    const unsigned long long ops =
        g_fastHashing ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const size_t mem =
        g_fastHashing ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
    if (crypto_pwhash_str_alg(out, pw.constData(), pw.size(), ops, mem,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw std::runtime_error("out of memory while hashing a password");
    return QString::fromLatin1(out);
}

bool Accounts::verifyPassword(const QString &hash, const QString &password) {
    const QByteArray h = hash.toLatin1();
    const QByteArray pw = password.toUtf8();
    return crypto_pwhash_str_verify(h.constData(), pw.constData(), pw.size()) == 0;
}

QString Accounts::newToken() {
    unsigned char raw[32];
    randombytes_buf(raw, sizeof raw);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(raw), sizeof raw).toHex());
}

QString Accounts::tokenHash(const QString &token) {
    const QByteArray t = token.toUtf8();
    unsigned char out[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(out, reinterpret_cast<const unsigned char *>(t.constData()), t.size());
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(out), sizeof out).toHex());
}

UserRecord Accounts::addUser(const QString &email, const QString &password, qint64 pages,
                             qint64 lifetimeDaily) {
    const QString e = email.trimmed();
    if (e.isEmpty() || !e.contains(QLatin1Char('@')))
        throw DatabaseError("not an e-mail address: " + e.toStdString());
    if (password.isEmpty())
        throw DatabaseError("the password is empty");
    if (userByEmail(e))
        throw DatabaseError("a user with this e-mail exists already: " + e.toStdString());
    m_store.addUser(e, hashPassword(password), pages, lifetimeDaily);
    return *userByEmail(e);
}

bool Accounts::setPages(const QString &email, std::optional<qint64> pages,
                        std::optional<qint64> lifetimeDaily) {
    const auto u = userByEmail(email);
    if (!u)
        return false;
    if (pages)
        m_store.setTotalPages(u->id, *pages);
    if (lifetimeDaily)
        m_store.setLifetimeDaily(u->id, *lifetimeDaily);
    return true;
}

bool Accounts::setPassword(const QString &email, const QString &password) {
    const auto u = userByEmail(email);
    if (!u || password.isEmpty())
        return false;
    // A new password signs every device out.
    m_store.replacePassword(u->id, hashPassword(password));
    std::lock_guard lock(m_tokenMutex);
    m_recentTokens.clear();
    return true;
}

std::vector<UserRecord> Accounts::users() const {
    return m_store.users();
}

std::optional<UserRecord> Accounts::user(qint64 id) const {
    return m_store.user(id);
}

std::optional<UserRecord> Accounts::userByEmail(const QString &email) const {
    return m_store.userByEmail(email);
}

bool Accounts::enterHashing() {
    std::unique_lock lock(m_hashMutex);
    const int limit = hashSlots();
    if (m_hashing < limit) {
        ++m_hashing;
        return true;
    }
    if (m_hashWaiting >= std::max(16, 4 * limit))
        return false;
    ++m_hashWaiting;
    const bool turn = m_hashFree.wait_for(lock, kHashWait, [&] { return m_hashing < limit; });
    --m_hashWaiting;
    if (turn)
        ++m_hashing;
    return turn;
}

void Accounts::leaveHashing() {
    {
        std::lock_guard lock(m_hashMutex);
        --m_hashing;
    }
    m_hashFree.notify_one();
}

Accounts::LoginResult Accounts::login(const QString &email, const QString &password) {
    const QString key = email.trimmed().toLower();
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(m_failMutex);
        auto it = m_failures.find(key);
        if (it != m_failures.end() && now < it->second.notBefore) {
            LoginResult r;
            r.outcome = LoginResult::Outcome::Throttled;
            r.retryAfterSeconds =
                int(std::chrono::ceil<std::chrono::seconds>(it->second.notBefore - now).count());
            return r;
        }
    }

    const auto found = m_store.credentials(key);
    bool ok = false;
    const bool known = found.has_value();
    const qint64 userId = known ? found->userId : 0;
    const QString hash = known ? found->passwordHash : QString();
    if (!enterHashing()) {
        LoginResult busy;
        busy.outcome = LoginResult::Outcome::Busy;
        busy.retryAfterSeconds = kBusyRetrySeconds;
        return busy;
    }
    try {
        if (known) {
            ok = verifyPassword(hash, password);
        } else {
            // Spend the same effort on an unknown e-mail so timing tells nothing.
            static const QString dummy = hashPassword(QStringLiteral("quorvel-no-such-user"));
            verifyPassword(dummy, password);
        }
    } catch (...) {
        leaveHashing();
        throw;
    }
    leaveHashing();

    LoginResult r;
    std::lock_guard lock(m_failMutex);
    if (!ok) {
        if (m_failures.size() > 50000)
            m_failures.clear(); // bounded memory under an e-mail spray
        Failures &f = m_failures[key];
        ++f.count;
        if (f.count >= kFreeFailures) {
            const int delay = std::min(kMaxDelaySeconds, 2 << std::min(f.count - kFreeFailures, 5));
            f.notBefore = now + std::chrono::seconds(delay);
        }
        return r;
    }
    m_failures.erase(key);
    r.outcome = LoginResult::Outcome::Ok;
    r.token = newToken();
    const qint64 expires = QDateTime::currentSecsSinceEpoch() + kTokenLifetimeSeconds;
    m_store.addToken(tokenHash(r.token), userId, expires);
    return r;
}

std::optional<Accounts::Identity> Accounts::authenticate(const QString &token) const {
    if (token.size() != 64)
        return std::nullopt;
    // Every request authenticates; a token seen in the last seconds skips the
    // database. The window bounds how long a token revoked elsewhere stays usable.
    // Services sharing a database learn of a revocation elsewhere only from it,
    // so they keep a token for less than a second.
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    {
        std::lock_guard lock(m_tokenMutex);
        const auto it = m_recentTokens.find(token);
        if (it != m_recentTokens.end() && it->second.until > nowMs)
            return it->second.who;
    }
    const qint64 now = nowMs / 1000;
    const auto owner = m_store.tokenOwner(tokenHash(token), now);
    if (!owner)
        return std::nullopt;
    const Identity who{owner->userId, owner->email};
    const qint64 window = m_store.shared() ? kSharedTokenCacheMs : kTokenCacheSeconds * 1000;
    const qint64 until = std::min(nowMs + window, owner->expiresAt * 1000);
    std::lock_guard lock(m_tokenMutex);
    if (m_recentTokens.size() > 10000)
        m_recentTokens.clear();
    m_recentTokens[token] = RecentToken{who, until};
    return who;
}

Balance Accounts::balance(const UserRecord &user) const {
    return m_store.balance(user);
}

} // namespace quorvel::server
