// What one claim from the job queue costs, on PostgreSQL and on SQLite:
// `claim_bench DATA_DIR [POSTGRESQL_URL] [JOBS]` queues JOBS jobs (2000) and
// times each claim and each fenced completion, with one worker and with four
// claiming at once. Prints p50/p99 in milliseconds.
#include "Records.h"
#include "Store.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace quorvel::server;

namespace {

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

void run(const char *name, Store &store, int jobs) {
    store.migrate();
    store.openConnections(4); // as a service starting with four workers
    const QString email =
        QStringLiteral("claim-%1@example.org").arg(QCoreApplication::applicationPid());
    store.addUser(email, QStringLiteral("x"), 1000000000, 0);
    const UserRecord user = *store.userByEmail(email);
    UploadRecord up;
    up.id = QStringLiteral("%1").arg(QCoreApplication::applicationPid(), 32, 10, QLatin1Char('0'));
    up.userId = user.id;
    up.fileName = QStringLiteral("b.pdf");
    up.typ = QStringLiteral("pdf");
    up.md5 = QString(32, QLatin1Char('0'));
    up.size = 1;
    up.pageNumber = 1;
    store.addUpload(up);
    for (int threads : {1, 4}) {
        for (int i = 0; i < jobs; ++i) {
            JobRecord j;
            j.id = QStringLiteral("%1-%2-%3").arg(threads).arg(i).arg(up.id);
            j.userId = user.id;
            j.uploadId = up.id;
            j.typ = QStringLiteral("PDF2MD");
            j.fileName = up.fileName;
            j.pageNumber = 1;
            j.sourceFileTyp = QStringLiteral("pdf");
            j.resultFileTyp = QStringLiteral("md");
            j.sourceFileMd5 = up.md5;
            j.state = JobState::Queued;
            j.createdAt = nowText();
            store.queueJob(user, j);
        }
        std::mutex mutex;
        std::vector<double> claims, completions;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&] {
                for (;;) {
                    const auto a = std::chrono::steady_clock::now();
                    const auto claim =
                        store.claimJob(QStringLiteral("bench"), std::chrono::seconds(60));
                    const auto b = std::chrono::steady_clock::now();
                    if (!claim)
                        return;
                    store.chargeAndComplete(*claim, QStringLiteral("r.md"), 1);
                    const auto c = std::chrono::steady_clock::now();
                    std::lock_guard lock(mutex);
                    claims.push_back(std::chrono::duration<double, std::milli>(b - a).count());
                    completions.push_back(std::chrono::duration<double, std::milli>(c - b).count());
                }
            });
        for (auto &w : workers)
            w.join();
        std::printf("%-10s %d worker(s): %zu claims  claim p50 %.2f ms p99 %.2f ms max %.2f ms  "
                    "completion p50 %.2f ms p99 %.2f ms\n",
                    name, threads, claims.size(), percentile(claims, 0.5), percentile(claims, 0.99),
                    percentile(claims, 1.0), percentile(completions, 0.5),
                    percentile(completions, 0.99));
    }
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: claim_bench DATA_DIR [POSTGRESQL_URL] [JOBS]\n");
        return 2;
    }
    const int jobs = argc > 3 ? std::atoi(argv[3]) : 2000;
    QDir().mkpath(QString::fromLocal8Bit(argv[1]));
    auto sqlite = openStore({}, QString::fromLocal8Bit(argv[1]));
    run("sqlite", *sqlite, jobs);
    if (argc > 2 && argv[2][0]) {
        auto pg = openStore(QString::fromLocal8Bit(argv[2]), {});
        run("postgresql", *pg, jobs);
    }
    return 0;
}
