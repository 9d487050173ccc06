// The service under hostile or crowded use, over loopback against the real
// HTTP layer: writers racing each other, slow and malformed requests, refused
// bodies, forged log lines and a full disk.
#include "Records.h"
#include "ServerTestSupport.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace quorvel::server;
using namespace quorvel::test;

namespace {

QByteArray onePagePdf(const QString &word) {
    return makePdf({{{72, 700, 12, "F1", word}}});
}

} // namespace

class TestAttacks : public QObject {
    Q_OBJECT
    std::unique_ptr<TestService> m_svc;
    QString m_alice;

private slots:
    void initTestCase() {
        m_svc = std::make_unique<TestService>(2, 2 * 1024 * 1024);
        QVERIFY(m_svc->port > 0);
        m_alice = m_svc->addUserAndLogin(QStringLiteral("alice@example.org"), 100000);
    }
    void cleanupTestCase() { m_svc.reset(); }

    // Logins, uploads and conversions at once, while jobs complete: writers
    // wait for each other instead of failing.
    void concurrentWritersNeverFail() {
        std::vector<QJsonObject> uploads;
        for (int i = 0; i < 10; ++i)
            uploads.push_back(m_svc->upload(m_alice, QStringLiteral("c%1.pdf").arg(i),
                                            onePagePdf(QStringLiteral("convert %1").arg(i))));
        std::atomic<int> serverErrors{0}, answered{0};
        const auto count = [&](int status) {
            answered += status > 0;
            serverErrors += status >= 500 || status <= 0;
        };
        std::vector<std::thread> threads;
        for (int i = 0; i < 10; ++i)
            threads.emplace_back([&, i] {
                int status = 0;
                m_svc->convert(m_alice, uploads[size_t(i)], QStringLiteral("PDF2MD"), &status);
                count(status);
            });
        for (int i = 0; i < 20; ++i)
            threads.emplace_back([&, i] {
                int status = 0;
                m_svc->upload(m_alice, QStringLiteral("u%1.pdf").arg(i),
                              onePagePdf(QStringLiteral("upload %1").arg(i)), &status);
                count(status);
            });
        const QByteArray login =
            R"({"email":"alice@example.org","password":"pw-alice@example.org"})";
        for (int i = 0; i < 50; ++i)
            threads.emplace_back([&] {
                // Several rounds each, so logins overlap the jobs completing.
                for (int round = 0; round < 4; ++round) {
                    auto r =
                        m_svc->post(QStringLiteral("/api/v1/tollan/auth/login"), QString(), login);
                    count(r ? r->status : -1);
                }
            });
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(answered.load(), 10 + 20 + 50 * 4);
        QCOMPARE(serverErrors.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAttacks)
#include "tst_attacks.moc"
