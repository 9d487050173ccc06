// The store below the HTTP side, as several services sharing one PostgreSQL
// database use it at once: exclusive claims, leases and fenced completion,
// pages that cannot be overdrawn, migrations, and a server that goes away.
#include "HistoryCache.h"
#include "PgStore.h"
#include "ServerTestSupport.h"

#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>

using namespace quorvel::server;
using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

struct Account {
    UserRecord user;
    UploadRecord upload;
};

Account addAccount(Store &store, const QString &email, qint64 pages, qint64 lifetime = 0) {
    store.addUser(email, u"x"_s, pages, lifetime);
    Account a{*store.userByEmail(email), {}};
    a.upload.id = newId();
    a.upload.userId = a.user.id;
    a.upload.fileName = u"a.pdf"_s;
    a.upload.typ = u"pdf"_s;
    a.upload.md5 = QString(32, QLatin1Char('0'));
    a.upload.size = 1;
    a.upload.pageNumber = 1;
    store.addUpload(a.upload);
    return a;
}

Store::Admission queue(Store &store, const Account &a, qint64 pages = 1) {
    JobRecord j;
    j.id = newId();
    j.userId = a.user.id;
    j.uploadId = a.upload.id;
    j.typ = u"PDF2MD"_s;
    j.fileName = a.upload.fileName;
    j.pageNumber = pages;
    j.sourceFileTyp = u"pdf"_s;
    j.resultFileTyp = u"md"_s;
    j.sourceFileMd5 = a.upload.md5;
    j.state = JobState::Queued;
    j.createdAt = nowText();
    return store.queueJob(a.user, j);
}

qint64 count(Store &store, const QString &sql, const QVariantList &args = {}) {
    return store.query(sql, args).at(0).at(0).toLongLong();
}

constexpr auto kLease = std::chrono::seconds(30);

// The wall clock, as the kernel stamps a request's arrival.
std::int64_t wallNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A service's store whose reads of an account's version return only when let go: what
// they return is what the database held when they began.
struct HeldVersionReads : PgStore {
    using PgStore::PgStore;
    qint64 historyVersion(qint64 userId) override {
        const qint64 version = PgStore::historyVersion(userId);
        if (++reads > 1)
            letGo.wait();
        return version;
    }
    std::atomic<int> reads{0}; // the first passes at once
    std::promise<void> opened;
    std::shared_future<void> letGo = opened.get_future().share();
};

} // namespace

class TestStore : public QObject {
    Q_OBJECT
    PgCluster *m_pg = nullptr;

    // Two stores on one new database, as two services see it.
    std::pair<std::unique_ptr<Store>, std::unique_ptr<Store>> twoServices() {
        const QString url = m_pg->newDatabase();
        auto a = openStore(url, {});
        auto b = openStore(url, {});
        a->migrate();
        b->migrate();
        return {std::move(a), std::move(b)};
    }

private slots:
    void initTestCase() {
        m_pg = PgCluster::shared();
        QVERIFY2(m_pg, "a throwaway PostgreSQL cluster could not start");
    }

    // Services starting together apply each schema step once.
    void migrationsRunOnceWhenStartedTogether() {
        const QString url = m_pg->newDatabase();
        std::vector<std::thread> threads;
        std::atomic<int> failed{0};
        std::vector<int> versions(4);
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&, i] {
                try {
                    versions[size_t(i)] = openStore(url, {})->migrate();
                } catch (const std::exception &e) {
                    qWarning("%s", e.what());
                    ++failed;
                }
            });
        for (auto &t : threads)
            t.join();
        QCOMPARE(failed.load(), 0);
        QVERIFY(versions[0] > 0);
        QCOMPARE(std::count(versions.begin(), versions.end(), versions[0]), 4);
        const auto store = openStore(url, {});
        QCOMPARE(count(*store, u"SELECT COUNT(*) FROM schema_version"_s), qint64(versions[0]));
    }

    // Workers of two services claiming at once never get the same job.
    void claimsAreExclusive() {
        auto [a, b] = twoServices();
        const Account acc = addAccount(*a, u"claims@example.org"_s, 1000);
        for (int i = 0; i < 200; ++i)
            QVERIFY(queue(*a, acc).queued);
        std::mutex mutex;
        std::vector<QString> claimed;
        std::vector<std::thread> workers;
        for (int w = 0; w < 8; ++w)
            workers.emplace_back([&, w] {
                Store &s = w % 2 ? *a : *b;
                while (const auto c = s.claimJob(u"worker-%1"_s.arg(w), kLease)) {
                    std::lock_guard lock(mutex);
                    claimed.push_back(c->job.id);
                }
            });
        for (auto &t : workers)
            t.join();
        QCOMPARE(claimed.size(), 200u);
        QCOMPARE(std::set<QString>(claimed.begin(), claimed.end()).size(), 200u);
        QCOMPARE(count(*a, u"SELECT COUNT(*) FROM jobs WHERE state='running' AND attempts=1"_s),
                 200);
    }

    // A job whose lease ended is taken back by any service; the first holder can then neither
    // renew, complete nor fail it, and the job is charged once, by its new holder.
    void completionIsFencedByTheAttempt_data() {
        QTest::addColumn<bool>("complete");
        QTest::newRow("late completion") << true;
        QTest::newRow("late failure") << false;
    }
    void completionIsFencedByTheAttempt() {
        QFETCH(bool, complete);
        auto [a, b] = twoServices();
        const Account acc = addAccount(*a, u"fence@example.org"_s, 10);
        QVERIFY(queue(*a, acc, 2).queued);
        const auto first = a->claimJob(u"a"_s, kLease);
        QVERIFY(first);
        QVERIFY(a->renewLease(*first, kLease));
        QVERIFY(b->recoverJobs(false, 3).empty()); // the lease still runs
        a->query(u"UPDATE jobs SET lease_until = now() - interval '1 second'"_s);
        const auto back = b->recoverJobs(false, 3);
        QCOMPARE(back.size(), 1u);
        QVERIFY(!back[0].failed);
        const auto second = b->claimJob(u"b"_s, kLease);
        QVERIFY(second);
        QCOMPARE(second->attempt, first->attempt + 1);

        QVERIFY(!a->renewLease(*first, kLease));
        if (complete)
            QCOMPARE(a->chargeAndComplete(*first, u"r"_s, 2).outcome,
                     Store::Completion::Outcome::LeaseLost);
        else
            QVERIFY(!a->failJob(*first, u"late"_s, {}));
        QCOMPARE(b->chargeAndComplete(*second, u"r"_s, 3).outcome,
                 Store::Completion::Outcome::Completed);
        QCOMPARE(b->chargeAndComplete(*second, u"r"_s, 3).outcome,
                 Store::Completion::Outcome::LeaseLost);
        QCOMPARE(count(*a, u"SELECT COUNT(*) FROM page_ledger"_s), 1);
        QCOMPARE(count(*a, u"SELECT SUM(pages) FROM page_ledger"_s), 3);
        QCOMPARE(count(*a, u"SELECT remaining_pages FROM users"_s), 7);
    }

    // After too many interruptions a job fails and gives its pages back.
    void interruptedTooOftenFails() {
        auto [a, b] = twoServices();
        const Account acc = addAccount(*a, u"crash@example.org"_s, 5);
        QVERIFY(queue(*a, acc, 2).queued);
        for (int attempt = 1; attempt <= 3; ++attempt) {
            QVERIFY(a->claimJob(u"a"_s, kLease));
            a->query(u"UPDATE jobs SET lease_until = now() - interval '1 second'"_s);
            const auto back = b->recoverJobs(false, 3);
            QCOMPARE(back.size(), 1u);
            QCOMPARE(back[0].failed, attempt == 3);
        }
        QCOMPARE(count(*a, u"SELECT COUNT(*) FROM jobs WHERE state='failed'"_s), 1);
        QCOMPARE(count(*a, u"SELECT remaining_pages FROM users"_s), 5);
    }

    // Many admissions and charges at once from two services spend each page once.
    void pagesAreNeverOverdrawn() {
        auto [a, b] = twoServices();
        const Account acc = addAccount(*a, u"fifty@example.org"_s, 50);
        std::atomic<int> accepted{0}, refused{0}, errors{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < 10; ++c)
            clients.emplace_back([&, c] {
                Store &s = c % 2 ? *a : *b;
                for (int i = 0; i < 20; ++i) {
                    try {
                        (queue(s, acc).queued ? accepted : refused)++;
                        if (const auto claim = s.claimJob(u"c"_s, kLease))
                            s.chargeAndComplete(*claim, u"r"_s, 1);
                    } catch (const std::exception &e) {
                        qWarning("%s", e.what());
                        ++errors;
                    }
                }
            });
        for (auto &t : clients)
            t.join();
        QCOMPARE(errors.load(), 0);
        QCOMPARE(accepted.load(), 50);
        QCOMPARE(refused.load(), 150);
        while (const auto claim = a->claimJob(u"rest"_s, kLease))
            a->chargeAndComplete(*claim, u"r"_s, 1);
        QCOMPARE(count(*a, u"SELECT COUNT(*) FROM page_ledger"_s), 50);
        QCOMPARE(count(*a, u"SELECT remaining_pages FROM users"_s), 0);
        QCOMPARE(a->balance(acc.user).consumedPages, 50);
        // The balance itself refuses to go below zero, whatever writes it.
        QVERIFY_THROWS_EXCEPTION(DatabaseError,
                                 a->query(u"UPDATE users SET remaining_pages = -1"_s));
    }

    // A write through one service is in the history another one serves next.
    void historyVersionFollowsEveryWrite() {
        auto [a, b] = twoServices();
        const Account acc = addAccount(*a, u"versions@example.org"_s, 10);
        const qint64 before = b->historyVersion(acc.user.id);
        QVERIFY(queue(*a, acc).queued);
        const qint64 queued = b->historyVersion(acc.user.id);
        QVERIFY(queued > before);
        const auto claim = a->claimJob(u"a"_s, kLease);
        QVERIFY(a->renewLease(*claim, kLease));
        QVERIFY(a->failJob(*claim, u"engine crashed"_s, u"the PDF is damaged"_s));
        const qint64 failed = b->historyVersion(acc.user.id);
        QVERIFY(failed > queued);
        std::vector<std::string> changed;
        b->listJobsChangedSince(acc.user.id, queued,
                                [&](qint64, const std::string &json) { changed.push_back(json); });
        QCOMPARE(changed.size(), 1u);
        QVERIFY(QByteArray::fromStdString(changed[0])
                    .contains(R"("fail_reason":"the PDF is damaged")"));
        QVERIFY(QByteArray::fromStdString(changed[0]).contains(R"("status":2)"));
        // A completion's note is listed with it.
        QVERIFY(queue(*b, acc).queued);
        const auto second = b->claimJob(u"b"_s, kLease);
        QCOMPARE(b->chargeAndComplete(*second, u"r"_s, 0, u"nothing charged"_s).outcome,
                 Store::Completion::Outcome::Completed);
        changed.clear();
        a->listJobsChangedSince(acc.user.id, failed,
                                [&](qint64, const std::string &json) { changed.push_back(json); });
        QCOMPARE(changed.size(), 1u);
        QVERIFY(QByteArray::fromStdString(changed[0]).contains(R"("note":"nothing charged")"));
        QCOMPARE(a->job(acc.user.id, second->job.id)->note, u"nothing charged"_s);
    }

    // Readers of one service's cached history, many at once, never get an answer older than a
    // job the other service had already queued when they asked, however their reads of the
    // account's version overlap, dated by their arrival or not.
    void cachedHistoryIsNeverBehindAnAcknowledgedWrite_data() {
        QTest::addColumn<bool>("stamped");
        QTest::newRow("not stamped") << false;
        QTest::newRow("stamped") << true;
    }
    void cachedHistoryIsNeverBehindAnAcknowledgedWrite() {
        QFETCH(bool, stamped);
        auto [a, b] = twoServices();
        const Account acc = addAccount(*a, u"fresh@example.org"_s, 1000);
        HistoryCache cache(*b, 64 * 1024 * 1024);
        constexpr int kJobs = 60;
        std::atomic<int> acknowledged{0};
        std::atomic<int> stale{0};
        std::atomic<int> answers{0};
        std::vector<std::thread> readers;
        // More readers than reads may run at once: some wait for a read to end to start one.
        for (int r = 0; r < 2 * HistoryCache::kVersionReadsAtOnce; ++r)
            readers.emplace_back([&] {
                while (acknowledged.load() < kJobs) {
                    const int known = acknowledged.load();
                    const auto answer = cache.answer(acc.user.id, false, stamped ? wallNs() : 0);
                    std::string body;
                    for (const auto &part : answer->body)
                        body += *part;
                    int listed = 0;
                    for (std::size_t at = 0; (at = body.find("\"id\":", at)) != std::string::npos;
                         ++at)
                        ++listed;
                    if (listed < known)
                        ++stale;
                    ++answers;
                }
            });
        const auto joinReaders = qScopeGuard([&] {
            acknowledged = kJobs;
            for (auto &t : readers)
                t.join();
        });
        bool written = true;
        for (int i = 0; i < kJobs && written; ++i) {
            written = queue(*a, acc).queued;
            // Answers between writes: the readers' version reads overlap the writes.
            const int next = answers.load() + 8;
            if (written)
                QTRY_VERIFY_WITH_TIMEOUT(answers.load() >= next || stale.load() > 0, 10000);
            acknowledged = written ? i + 1 : kJobs;
        }
        QVERIFY(written);
        QCOMPARE(stale.load(), 0);
    }

    // A request that reached the service after a write was acknowledged elsewhere is not
    // answered from a read of the version that began before it (stamped with its arrival or
    // not), while one stamped before such a read began shares it.
    void versionReadBeganBeforeTheRequestDoesNotServeIt_data() {
        QTest::addColumn<int>("stamp"); // 0: none; 1: after the write; -1: before the first read
        QTest::addColumn<bool>("listed");
        QTest::newRow("not stamped") << 0 << true;
        QTest::newRow("stamped after the write") << 1 << true;
        QTest::newRow("stamped before the read began") << -1 << false;
    }
    void versionReadBeganBeforeTheRequestDoesNotServeIt() {
        QFETCH(int, stamp);
        QFETCH(bool, listed);
        const QString url = m_pg->newDatabase();
        auto a = openStore(url, {});
        a->migrate();
        HeldVersionReads b(url);
        const Account acc = addAccount(*a, u"held@example.org"_s, 10);
        HistoryCache cache(b, 1 << 20);
        cache.answer(acc.user.id, false); // the history without the job, kept
        const std::int64_t before = wallNs();
        std::shared_ptr<const CachedAnswer> second;
        std::atomic<bool> answered{false};
        std::thread first, next;
        std::once_flag opened;
        const auto open = [&] { std::call_once(opened, [&] { b.opened.set_value(); }); };
        const auto joinAll = qScopeGuard([&] {
            open();
            for (std::thread *t : {&first, &next})
                if (t->joinable())
                    t->join();
        });
        first = std::thread([&] { cache.answer(acc.user.id, false); });
        QTRY_COMPARE_WITH_TIMEOUT(b.reads.load(), 2, 10000);
        const auto &counted = cache.counters();
        const quint64 begun = counted.versionWaits + counted.versionReads;
        const Store::Admission written = queue(*a, acc);
        next = std::thread([&, at = stamp > 0   ? wallNs()
                                    : stamp < 0 ? before
                                                : 0] {
            second = cache.answer(acc.user.id, false, at);
            answered = true;
        });
        // The first read ends once the request waits for a read, began its own, or has its answer.
        QTRY_VERIFY_WITH_TIMEOUT(counted.versionWaits + counted.versionReads > begun || answered,
                                 10000);
        open();
        first.join();
        next.join();
        QVERIFY(written.queued);
        std::string body;
        for (const auto &part : second->body)
            body += *part;
        QCOMPARE(body.find("\"id\":") != std::string::npos, listed);
    }

    // While the server is away calls fail as unavailable (answered 503), and the same store
    // works again once it is back.
    void serverGoneAndBack() {
        auto [a, b] = twoServices();
        const Account acc = addAccount(*a, u"restart@example.org"_s, 10);
        QVERIFY(a->reachable());
        QVERIFY(m_pg->stop());
        QVERIFY(!a->reachable());
        QVERIFY_THROWS_EXCEPTION(DatabaseUnavailable, a->user(acc.user.id));
        QVERIFY(m_pg->start());
        QVERIFY(a->reachable());
        QCOMPARE(a->user(acc.user.id)->email, acc.user.email);
        QVERIFY(queue(*a, acc).queued);
        // b's connection died with the server: its first claim runs on a new one.
        const auto claim = b->claimJob(u"b"_s, kLease);
        QVERIFY(claim);
        QVERIFY(b->renewLease(*claim, kLease));
        QVERIFY(queue(*b, acc).queued);
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
