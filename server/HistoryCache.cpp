#include "HistoryCache.h"

#include <QJsonArray>

#include <algorithm>

namespace quorvel::server {

namespace {

// Accounts whose answers are kept; the least recently asked for goes first.
constexpr std::size_t kMaxAccounts = 256;

// The envelope around the jobs, split where the array's items go.
struct Envelope {
    CachedAnswer::Part head, tail, gzipHeader;
    compression::Piece headPiece, tailPiece;
    Envelope() {
        const std::string empty = envelope(0, QStringLiteral("ok"),
                                           QJsonObject{{QStringLiteral("converts"), QJsonArray{}}})
                                      .toStdString();
        const std::size_t at = empty.find("[]") + 1;
        head = std::make_shared<const std::string>(empty.substr(0, at));
        tail = std::make_shared<const std::string>(empty.substr(at));
        gzipHeader = std::make_shared<const std::string>(compression::gzipHeader());
        headPiece = compression::deflatePiece(*head);
        tailPiece = compression::deflatePiece(*tail);
    }
};
const Envelope &historyEnvelope() {
    static const Envelope e;
    return e;
}

std::int64_t ticks() {
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

} // namespace

struct HistoryCache::Account {
    // Its text and compressed piece are made again only after one of its jobs changed.
    struct Block {
        std::vector<std::pair<qint64, std::string>> jobs; // (seq, JSON), oldest first
        CachedAnswer::Part text;
        compression::Piece piece;
        void changed() {
            text.reset();
            piece.deflated.reset();
        }
    };
    std::mutex mutex;
    bool built = false;
    quint64 generation = 0;
    std::vector<Block> blocks; // oldest first
    std::unordered_map<QString, qint64> seqOf;
    std::shared_ptr<const CachedAnswer> answer;
    std::atomic<std::int64_t> used{0};

    // Newest job first; every block but the oldest is followed by another, hence its comma.
    void appendText(std::string &out, std::size_t index) const {
        const Block &b = blocks[index];
        for (auto it = b.jobs.rbegin(); it != b.jobs.rend(); ++it) {
            if (it != b.jobs.rbegin())
                out += ',';
            out += it->second;
        }
        if (index > 0)
            out += ',';
    }

    Block *blockFor(qint64 seq) {
        if (blocks.empty())
            return nullptr;
        auto it = std::upper_bound(blocks.begin(), blocks.end(), seq, [](qint64 s, const Block &b) {
            return s < b.jobs.front().first;
        });
        return it == blocks.begin() ? &blocks.front() : &*std::prev(it);
    }

    void put(Repository::ListedJob job) {
        std::string json = std::move(job.json);
        const auto known = seqOf.find(job.id);
        if (known != seqOf.end()) {
            Block *b = blockFor(known->second);
            auto it = std::lower_bound(
                b->jobs.begin(), b->jobs.end(), known->second,
                [](const std::pair<qint64, std::string> &e, qint64 s) { return e.first < s; });
            if (it != b->jobs.end() && it->first == known->second) {
                it->second = std::move(json);
                b->changed();
                return;
            }
        }
        seqOf[job.id] = job.seq;
        if (blocks.empty() || job.seq > blocks.back().jobs.back().first) {
            if (blocks.empty() || blocks.back().jobs.size() >= kBlockJobs) {
                // The block before the new one gains its trailing comma.
                if (!blocks.empty())
                    blocks.back().changed();
                blocks.emplace_back();
            }
            blocks.back().jobs.emplace_back(job.seq, std::move(json));
            blocks.back().changed();
            return;
        }
        // Created before a job already listed (two requests of one account at once).
        Block *b = blockFor(job.seq);
        auto it = std::lower_bound(
            b->jobs.begin(), b->jobs.end(), job.seq,
            [](const std::pair<qint64, std::string> &e, qint64 s) { return e.first < s; });
        b->jobs.emplace(it, job.seq, std::move(json));
        b->changed();
    }
};

std::shared_ptr<HistoryCache::Account> HistoryCache::account(qint64 userId) {
    std::lock_guard lock(m_mutex);
    auto &slot = m_accounts[userId];
    if (!slot) {
        if (m_accounts.size() > kMaxAccounts) {
            auto oldest = m_accounts.end();
            for (auto it = m_accounts.begin(); it != m_accounts.end(); ++it)
                if (it->second && (oldest == m_accounts.end() ||
                                   it->second->used.load() < oldest->second->used.load()))
                    oldest = it;
            if (oldest != m_accounts.end())
                m_accounts.erase(oldest); // in use elsewhere, it lives on until that ends
        }
        // Erasing another entry leaves `slot` valid.
        slot = std::make_shared<Account>();
    }
    return slot;
}

std::shared_ptr<const CachedAnswer> HistoryCache::answer(qint64 userId, bool gzip) {
    const std::shared_ptr<Account> a = account(userId);
    a->used = ticks();
    std::lock_guard lock(a->mutex);
    // The journal is read before the rows: a change committed after this
    // reading is seen again by the next request.
    const JobState::Changes changes = JobState::changesSince(userId, a->generation);
    if (!a->built || !changes.complete)
        build(*a, userId);
    else if (!changes.jobIds.empty())
        update(*a, userId, changes.jobIds);
    a->generation = changes.generation;
    // Compressed the first time a client asks for it, then kept beside the JSON.
    if (!a->answer || (gzip && a->answer->gzip.empty() &&
                       CachedAnswer::sizeOf(a->answer->body) >= compression::kMinBytes))
        a->answer = assemble(*a, gzip || (a->answer && !a->answer->gzip.empty()));
    return a->answer;
}

void HistoryCache::build(Account &a, qint64 userId) {
    ++m_counters.builds;
    a.blocks.clear();
    a.seqOf.clear();
    a.answer.reset();
    for (Repository::ListedJob &job : m_repo.listedJobsOf(userId))
        a.put(std::move(job));
    a.built = true;
}

void HistoryCache::update(Account &a, qint64 userId, const std::vector<QString> &jobIds) {
    std::vector<QString> ids = jobIds;
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::vector<Repository::ListedJob> jobs;
    for (const QString &id : ids)
        if (auto job = m_repo.listedJob(userId, id))
            jobs.push_back(std::move(*job));
    std::sort(jobs.begin(), jobs.end(), [](const auto &x, const auto &y) { return x.seq < y.seq; });
    for (Repository::ListedJob &job : jobs) {
        a.put(std::move(job));
        ++m_counters.jobsUpdated;
    }
    a.answer.reset();
}

std::shared_ptr<const CachedAnswer> HistoryCache::assemble(Account &a, bool gzip) {
    const Envelope &env = historyEnvelope();
    auto out = std::make_shared<CachedAnswer>();
    out->body.reserve(a.blocks.size() + 2);
    out->body.push_back(env.head);
    for (std::size_t i = a.blocks.size(); i-- > 0;) {
        Account::Block &b = a.blocks[i];
        if (!b.text) {
            std::string text;
            a.appendText(text, i);
            b.text = std::make_shared<const std::string>(std::move(text));
        }
        out->body.push_back(b.text);
    }
    out->body.push_back(env.tail);
    if (!gzip || CachedAnswer::sizeOf(out->body) < compression::kMinBytes)
        return out;

    std::vector<const compression::Piece *> pieces{&env.headPiece};
    out->gzip.reserve(a.blocks.size() + 4);
    out->gzip.push_back(env.gzipHeader);
    out->gzip.push_back(env.headPiece.deflated);
    for (std::size_t i = a.blocks.size(); i-- > 0;) {
        Account::Block &b = a.blocks[i];
        if (!b.piece.deflated) {
            b.piece = compression::deflatePiece(*b.text);
            ++m_counters.deflated;
        }
        pieces.push_back(&b.piece);
        out->gzip.push_back(b.piece.deflated);
    }
    pieces.push_back(&env.tailPiece);
    out->gzip.push_back(env.tailPiece.deflated);
    out->gzip.push_back(std::make_shared<const std::string>(compression::gzipTrailer(pieces)));
    return out;
}

} // namespace quorvel::server
