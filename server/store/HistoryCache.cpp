#include "HistoryCache.h"

#include <QJsonArray>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <limits>
#include <thread>

namespace quorvel::server {

namespace {

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

// Compresses `texts` into `pieces` on every core: a large history's first
// compressed answer is one block per core at a time.
void deflateAll(const std::vector<const std::string *> &texts,
                std::vector<compression::Piece> &pieces) {
    pieces.resize(texts.size());
    if (texts.empty())
        return;
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    const auto work = [&] {
        try {
            for (std::size_t i = next++; i < texts.size(); i = next++)
                pieces[i] = compression::deflatePiece(*texts[i]);
        } catch (...) {
            std::lock_guard lock(failureMutex);
            failure = std::current_exception();
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), texts.size()) - 1;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < helpers; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread &t : threads)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

std::int64_t nanoseconds(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Counts the steps of CLOCK_REALTIME (set by hand, by NTP): the kernel cancels
// a timer armed to go off never at each one. Wall times read between two
// calls that return the same count are in the order they were read. Without
// the timer every call counts a step.
class ClockSteps {
public:
    ClockSteps()
        : m_fd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC)) {
        if (m_fd >= 0 && !arm()) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~ClockSteps() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    std::uint64_t count() {
        std::uint64_t expirations;
        if (m_fd >= 0 &&
            !(::read(m_fd, &expirations, sizeof expirations) < 0 && errno == ECANCELED))
            return m_steps;
        // Counted before the timer is armed again: whoever finds it armed finds
        // the step counted. Two callers that both saw it cancelled count two.
        std::lock_guard lock(m_mutex);
        ++m_steps;
        if (m_fd >= 0)
            arm();
        return m_steps;
    }

private:
    bool arm() {
        itimerspec never{};
        never.it_value.tv_sec = std::numeric_limits<time_t>::max() / 2;
        return ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never,
                                 nullptr) == 0;
    }
    int m_fd;
    std::mutex m_mutex;
    std::atomic<std::uint64_t> m_steps{0};
};

// The wall clock now, with what tells whether it stepped since another such reading:
// the steps counted and its distance from the monotonic clock (which a leap second,
// whose step the timer learns of late, changes at once).
struct WallTime {
    std::int64_t ns = 0;
    std::int64_t offset = 0;
    std::uint64_t steps = 0;
    static WallTime now() {
        WallTime t;
        t.steps = clockSteps().count();
        t.ns = nanoseconds(CLOCK_REALTIME);
        t.offset = t.ns - nanoseconds(CLOCK_MONOTONIC);
        return t;
    }
    bool sameClock(const WallTime &o) const {
        return steps == o.steps && std::abs(offset - o.offset) < 100000;
    }
    static ClockSteps &clockSteps() {
        static ClockSteps steps;
        return steps;
    }
};

} // namespace

struct HistoryCache::Account {
    // A block's jobs are kept as its text (newest first, each followed by a
    // comma), as the compressed piece the answer carries, or both: a history
    // read for a client that takes gzip is kept compressed only, and its text
    // is inflated again when a job in it changes or a client wants it plain.
    struct Block {
        std::vector<std::pair<qint64, std::uint32_t>> jobs; // (seq, JSON bytes), oldest first
        std::shared_ptr<const std::string> text;
        CachedAnswer::Part part;  // the text as the answer carries it
        compression::Piece piece; // `part` compressed

        // Where the jobs from `index` on (oldest first) end in the text.
        std::size_t before(std::size_t index) const {
            std::size_t at = 0;
            for (std::size_t k = index; k < jobs.size(); ++k)
                at += jobs[k].second + 1;
            return at;
        }
        // A new text with `removed` bytes at `at` replaced; answers being sent keep the old one.
        void splice(std::size_t at, std::size_t removed, const std::string &inserted) {
            auto next = std::make_shared<std::string>();
            next->reserve(text->size() - removed + inserted.size());
            next->append(*text, 0, at).append(inserted).append(*text, at + removed);
            text = std::move(next);
            part.reset();
            piece.deflated.reset();
        }
    };
    std::mutex mutex;
    bool built = false;
    quint64 generation = 0;
    qint64 version = 0;
    // Reads of the account's version in the database: a request takes the
    // result of a read that began after it arrived, so many requests at once
    // share a round trip. A few reads overlap, so a request that arrives
    // while one is under way starts its own instead of waiting for that one
    // to end before the next begins.
    struct VersionReads {
        // A request waiting for a read; woken alone when one serves it, or
        // when it may start one, not at every read's end.
        struct Waiter {
            quint64 wanted = 0;
            bool woken = false;
            std::condition_variable cv;
        };
        std::mutex mutex;
        quint64 started = 0;  // reads begun, numbered from 1
        quint64 finished = 0; // the highest-numbered read that ended
        int running = 0;
        qint64 value = -1;
        std::exception_ptr error; // of read `finished`
        WallTime finishedBegan;
        std::array<WallTime, 2 * kVersionReadsAtOnce> began; // of reads under way, by number
        std::vector<Waiter *> waiting;
    } reads;
    std::vector<Block> blocks; // oldest first
    std::shared_ptr<const CachedAnswer> answer;
    std::size_t answerBytes = 0; // uncompressed
    // Guarded by the cache's mutex.
    bool kept = true;
    std::size_t bytes = 0;
    std::list<qint64>::iterator lru;

    // The oldest block goes last in the answer: its part has no final comma.
    Block &withText(std::size_t index) {
        Block &b = blocks[index];
        if (!b.text) {
            std::string text = compression::inflatePiece(b.piece);
            if (index == 0)
                text += ',';
            b.text = std::make_shared<const std::string>(std::move(text));
        }
        return b;
    }
    const CachedAnswer::Part &partOf(std::size_t index) {
        Block &b = withText(index);
        if (!b.part)
            b.part = index > 0 ? b.text
                               : std::make_shared<const std::string>(
                                     std::string_view(*b.text).substr(0, b.text->size() - 1));
        return b.part;
    }
    std::size_t partSize(std::size_t index) const {
        return blocks[index].before(0) - (index == 0 ? 1 : 0);
    }
    std::size_t jobBytes() const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < blocks.size(); ++i)
            n += partSize(i);
        return n;
    }

    std::size_t blockFor(qint64 seq) const {
        auto it = std::upper_bound(blocks.begin(), blocks.end(), seq, [](qint64 s, const Block &b) {
            return s < b.jobs.front().first;
        });
        return it == blocks.begin() ? 0 : std::size_t(std::prev(it) - blocks.begin());
    }

    // A job already listed is replaced; a new one goes where its creation order puts it.
    void put(Store::ListedJob job) {
        const auto bytes = std::uint32_t(job.json.size());
        if (blocks.empty() || job.seq > blocks.back().jobs.back().first) {
            if (blocks.empty() || blocks.back().jobs.size() >= kBlockJobs) {
                blocks.emplace_back();
                blocks.back().text = std::make_shared<const std::string>();
            }
            Block &b = withText(blocks.size() - 1);
            b.splice(0, 0, job.json + ',');
            b.jobs.emplace_back(job.seq, bytes);
            return;
        }
        // Changed, or created before a job already listed (two requests of one account at once).
        Block &b = withText(blockFor(job.seq));
        const auto it = std::lower_bound(
            b.jobs.begin(), b.jobs.end(), job.seq,
            [](const std::pair<qint64, std::uint32_t> &e, qint64 s) { return e.first < s; });
        const auto index = std::size_t(it - b.jobs.begin());
        if (it != b.jobs.end() && it->first == job.seq) {
            b.splice(b.before(index + 1), it->second, job.json);
            it->second = bytes;
        } else {
            b.splice(b.before(index), 0, job.json + ',');
            b.jobs.emplace(it, job.seq, bytes);
        }
    }

    // Blocks of jobs read in creation order: once a block is full its text is
    // written into a reused buffer, and kept, or only compressed when `gzip`.
    struct Reader {
        Reader(Account &account, bool gzip)
            : a(account)
            , compressed(gzip) {}
        Account &a;
        bool compressed;
        std::vector<std::string> pending = std::vector<std::string>(kBlockJobs);
        std::vector<std::pair<qint64, std::uint32_t>> jobs;
        std::string text;
        void add(qint64 seq, const std::string &json) {
            if (jobs.size() == kBlockJobs)
                flush();
            pending[jobs.size()].assign(json);
            jobs.emplace_back(seq, std::uint32_t(json.size()));
        }
        void flush() {
            if (jobs.empty())
                return;
            text.clear();
            for (std::size_t k = jobs.size(); k-- > 0;)
                text.append(pending[k]).push_back(',');
            Block &b = a.blocks.emplace_back();
            if (compressed)
                b.piece = compression::deflatePiece(
                    std::string_view(text).substr(0, text.size() - (a.blocks.size() == 1 ? 1 : 0)));
            else
                b.text = std::make_shared<const std::string>(text);
            b.jobs = std::move(jobs);
            jobs = {};
        }
    };

    // What it holds, roughly as the allocator sees it.
    std::size_t size() const {
        std::size_t n = 512;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const Block &b = blocks[i];
            n += b.jobs.capacity() * sizeof(b.jobs[0]);
            if (b.text)
                n += b.text->size();
            if (b.part && b.part != b.text)
                n += b.part->size();
            if (b.piece.deflated)
                n += b.piece.deflated->size();
        }
        return n;
    }
};

std::shared_ptr<HistoryCache::Account> HistoryCache::account(qint64 userId) {
    std::lock_guard lock(m_mutex);
    auto &slot = m_accounts[userId];
    if (slot) {
        m_lru.splice(m_lru.begin(), m_lru, slot->lru);
        return slot;
    }
    slot = std::make_shared<Account>();
    m_lru.push_front(userId);
    slot->lru = m_lru.begin();
    return slot;
}

void HistoryCache::resize(Account &a, std::size_t bytes) {
    std::lock_guard lock(m_mutex);
    if (!a.kept)
        return; // let go while it was being answered
    m_bytes = m_bytes - a.bytes + bytes;
    a.bytes = bytes;
    // The account just asked for is first in line, so it goes last: only when
    // it alone is over the bound.
    while (m_bytes > m_maxBytes && !m_lru.empty()) {
        const auto it = m_accounts.find(m_lru.back());
        m_bytes -= it->second->bytes;
        it->second->kept = false; // in use elsewhere, it lives on until that ends
        m_accounts.erase(it);
        m_lru.pop_back();
        ++m_counters.evicted;
    }
    m_counters.bytes = m_bytes;
}

qint64 HistoryCache::currentVersion(Account &a, qint64 userId, std::int64_t receivedNs) {
    auto &r = a.reads;
    // A read serves a request if it began after the request reached this
    // host: by the time stamp of its bytes when the clock did not step since
    // the read began, else by the order requests and reads take this lock.
    // (A stamp from the future or from long ago is not one of the wall clock.)
    const WallTime now = receivedNs > 0 ? WallTime::now() : WallTime{};
    const bool dated =
        receivedNs > 0 && receivedNs <= now.ns && receivedNs > now.ns - kStampedWithinNs;
    const auto after = [&](const WallTime &began) {
        return dated && began.sameClock(now) && began.ns > receivedNs;
    };
    std::unique_lock lock(r.mutex);
    Account::VersionReads::Waiter me;
    me.wanted = r.started + 1; // the first read to begin from now on
    if (r.finished > 0 && after(r.finishedBegan)) {
        me.wanted = r.finished;
    } else {
        for (quint64 n = r.finished + 1; n <= r.started; ++n)
            if (after(r.began[n % r.began.size()])) {
                me.wanted = n;
                break;
            }
    }
    while (r.finished < me.wanted) {
        if (r.running < kVersionReadsAtOnce && r.started < me.wanted) {
            const quint64 mine = ++r.started;
            ++m_counters.versionReads;
            ++r.running;
            const WallTime began = WallTime::now();
            r.began[mine % r.began.size()] = began;
            lock.unlock();
            qint64 value = -1;
            std::exception_ptr error;
            try {
                value = m_store.historyVersion(userId);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            --r.running;
            // Reads may end out of order; a later one saw at least as much.
            if (mine > r.finished) {
                r.value = value;
                r.error = error;
                r.finished = mine;
                r.finishedBegan = began;
            }
            // Those this read serves go on; so does one that found no read
            // free to start, now that one is.
            bool starter = false;
            std::erase_if(r.waiting, [&](Account::VersionReads::Waiter *w) {
                const bool go = w->wanted <= r.finished || (!starter && w->wanted > r.started);
                starter = starter || (go && w->wanted > r.finished);
                if (go) {
                    w->woken = true;
                    w->cv.notify_one();
                }
                return go;
            });
            continue;
        }
        ++m_counters.versionWaits;
        r.waiting.push_back(&me);
        me.cv.wait(lock, [&] { return me.woken; });
        me.woken = false;
    }
    if (r.error)
        std::rethrow_exception(r.error);
    return r.value;
}

std::shared_ptr<const CachedAnswer> HistoryCache::answer(qint64 userId, bool gzip,
                                                         std::int64_t receivedNs) {
    const std::shared_ptr<Account> a = account(userId);
    // The journal (or the version) is read before the rows: a change
    // committed after this reading is seen again by the next request.
    const qint64 version = m_store.shared() ? currentVersion(*a, userId, receivedNs) : -1;
    std::lock_guard lock(a->mutex);
    if (version >= 0) {
        // Other services change the account too: only the database knows what changed.
        if (!a->built) {
            build(*a, userId, gzip);
            a->version = version;
        } else if (version > a->version) {
            updateSince(*a, userId, a->version);
            a->version = version;
        }
    } else {
        const JobState::Changes changes = JobState::changesSince(userId, a->generation);
        if (!a->built || !changes.complete)
            build(*a, userId, gzip);
        else if (!changes.jobIds.empty())
            update(*a, userId, changes.jobIds);
        a->generation = changes.generation;
    }
    if (!a->answer)
        a->answerBytes =
            historyEnvelope().head->size() + a->jobBytes() + historyEnvelope().tail->size();
    // Each form is made the first time a client asks for it, then kept beside the other.
    const bool compressed = gzip && a->answerBytes >= compression::kMinBytes;
    const bool hasBody = a->answer && !a->answer->body.empty();
    const bool hasGzip = a->answer && !a->answer->gzip.empty();
    if (!a->answer || (compressed ? !hasGzip : !hasBody)) {
        a->answer = assemble(*a, !compressed || hasBody, compressed || hasGzip);
        resize(*a, a->size());
    }
    return a->answer;
}

void HistoryCache::build(Account &a, qint64 userId, bool gzip) {
    ++m_counters.builds;
    a.blocks.clear();
    a.answer.reset();
    Account::Reader reader(a, gzip);
    m_store.listJobsOf(userId, [&](qint64 seq, const std::string &json) { reader.add(seq, json); });
    reader.flush();
    if (gzip)
        m_counters.deflated += a.blocks.size();
    a.built = true;
}

void HistoryCache::update(Account &a, qint64 userId, const std::vector<QString> &jobIds) {
    std::vector<QString> ids = jobIds;
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::vector<Store::ListedJob> jobs;
    for (const QString &id : ids)
        if (auto job = m_store.listedJob(userId, id))
            jobs.push_back(std::move(*job));
    std::sort(jobs.begin(), jobs.end(), [](const auto &x, const auto &y) { return x.seq < y.seq; });
    for (Store::ListedJob &job : jobs) {
        a.put(std::move(job));
        ++m_counters.jobsUpdated;
    }
    a.answer.reset();
}

void HistoryCache::updateSince(Account &a, qint64 userId, qint64 version) {
    m_store.listJobsChangedSince(userId, version, [&](qint64 seq, const std::string &json) {
        a.put(Store::ListedJob{seq, json});
        ++m_counters.jobsUpdated;
    });
    a.answer.reset();
}

std::shared_ptr<const CachedAnswer> HistoryCache::assemble(Account &a, bool body, bool gzip) {
    const Envelope &env = historyEnvelope();
    auto out = std::make_shared<CachedAnswer>();
    if (body) {
        out->body.reserve(a.blocks.size() + 2);
        out->body.push_back(env.head);
        for (std::size_t i = a.blocks.size(); i-- > 0;)
            out->body.push_back(a.partOf(i));
        out->body.push_back(env.tail);
    }
    if (!gzip)
        return out;

    std::vector<Account::Block *> stale;
    std::vector<const std::string *> texts;
    for (std::size_t i = 0; i < a.blocks.size(); ++i)
        if (!a.blocks[i].piece.deflated) {
            texts.push_back(a.partOf(i).get());
            stale.push_back(&a.blocks[i]);
        }
    std::vector<compression::Piece> fresh;
    deflateAll(texts, fresh);
    for (std::size_t i = 0; i < stale.size(); ++i)
        stale[i]->piece = std::move(fresh[i]);
    m_counters.deflated += stale.size();

    std::vector<const compression::Piece *> pieces{&env.headPiece};
    out->gzip.reserve(a.blocks.size() + 4);
    out->gzip.push_back(env.gzipHeader);
    out->gzip.push_back(env.headPiece.deflated);
    for (std::size_t i = a.blocks.size(); i-- > 0;) {
        pieces.push_back(&a.blocks[i].piece);
        out->gzip.push_back(a.blocks[i].piece.deflated);
    }
    pieces.push_back(&env.tailPiece);
    out->gzip.push_back(env.tailPiece.deflated);
    out->gzip.push_back(std::make_shared<const std::string>(compression::gzipTrailer(pieces)));
    return out;
}

} // namespace quorvel::server
