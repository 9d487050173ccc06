// The service over loopback HTTP: every endpoint as the client calls it,
// authentication, isolation between users, bad uploads, accounting and the queue.
#include "HttpSupport.h"
#include "Records.h"
#include "ServerTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QTest>

#include <atomic>
#include <thread>

using namespace quorvel::server;
using namespace quorvel::test;

namespace {

QJsonObject bodyOf(const httplib::Result &r) {
    return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object() : QJsonObject();
}

QByteArray smallPdf(int pages, const QString &word = QStringLiteral("page")) {
    QList<QList<PdfRun>> p;
    for (int i = 0; i < pages; ++i)
        p << QList<PdfRun>{{72, 700, 12, "F1", QStringLiteral("%1 %2").arg(word).arg(i + 1)}};
    return makePdf(p);
}

// A history answer as sent (decompress off) or as any client decodes it.
httplib::Result historyOf(const TestService &svc, const QString &token,
                          const std::string &acceptEncoding, bool decode) {
    auto c = svc.client();
    c->set_decompress(decode);
    httplib::Headers h{{"Authorization", "Bearer " + token.toStdString()}};
    if (!acceptEncoding.empty())
        h.emplace("Accept-Encoding", acceptEncoding);
    return c->Get("/api/v1/tollan/convert/all", h);
}

QJsonArray convertsOf(const httplib::Result &r) {
    return dataOf(r).value(QStringLiteral("converts")).toArray();
}

// Finished jobs written straight into the job table, announced like a worker does.
QStringList addFinishedJobs(TestService &svc, const QString &email, int count) {
    Repository repo(*svc.db);
    const qint64 userId = repo.userByEmail(email)->id;
    UploadRecord up;
    up.id = newId();
    up.userId = userId;
    up.fileName = QStringLiteral("h.pdf");
    up.typ = QStringLiteral("pdf");
    up.md5 = QString(32, QLatin1Char('0'));
    up.size = 1;
    up.pageNumber = 1;
    repo.addUpload(up);
    QStringList ids;
    Transaction tx(*svc.db);
    for (int i = 0; i < count; ++i) {
        ids << newId();
        svc.db->exec(QStringLiteral("INSERT INTO jobs(id, user_id, upload_id, typ, file_name, "
                                    "page_number, source_file_typ, result_file_typ, "
                                    "source_file_md5, state, created_at) "
                                    "VALUES(?,?,?,'PDF2MD',?,1,'pdf','md',?,'completed',?)"),
                     {ids.last(), userId, up.id, QStringLiteral("h%1 \"报告\"\\\t.pdf").arg(i),
                      up.md5, Database::nowText()});
    }
    tx.commit();
    for (const QString &id : ids)
        JobState::changed(userId, id);
    return ids;
}

void failJob(TestService &svc, const QString &email, const QString &id) {
    svc.db->exec(QStringLiteral("UPDATE jobs SET state='failed' WHERE id=?"), {id});
    JobState::changed(Repository(*svc.db).userByEmail(email)->id, id);
}

} // namespace

class TestApi : public QObject {
    Q_OBJECT
    std::unique_ptr<TestService> m_svc;
    QString m_alice, m_bob;

private slots:
    void initTestCase() {
        m_svc = std::make_unique<TestService>(2, 2 * 1024 * 1024);
        QVERIFY(m_svc->port > 0);
        m_alice = m_svc->addUserAndLogin(QStringLiteral("alice@example.org"), 40);
        m_bob = m_svc->addUserAndLogin(QStringLiteral("bob@example.org"), 40);
        QVERIFY(!m_alice.isEmpty() && !m_bob.isEmpty());
    }
    void cleanupTestCase() { m_svc.reset(); }

    void healthz() {
        auto r = m_svc->get(QStringLiteral("/healthz"), QString());
        QVERIFY(r);
        QCOMPARE(r->status, 200);
        QCOMPARE(dataOf(r).value(QStringLiteral("status")).toString(), QStringLiteral("ok"));
    }

    void login_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("right")
            << QByteArray(R"({"email":"alice@example.org","password":"pw-alice@example.org"})")
            << 200;
        QTest::newRow("e-mail case ignored")
            << QByteArray(R"({"password":"pw-alice@example.org","email":"Alice@Example.org"})")
            << 200;
        QTest::newRow("wrong password")
            << QByteArray(R"({"email":"alice@example.org","password":"nope"})") << 401;
        QTest::newRow("unknown e-mail")
            << QByteArray(R"({"email":"carol@example.org","password":"x"})") << 401;
        QTest::newRow("not json") << QByteArray("email=a") << 400;
        QTest::newRow("password a number")
            << QByteArray(R"({"email":"alice@example.org","password":1})") << 400;
    }
    void login() {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        auto r = m_svc->post(QStringLiteral("/api/v1/tollan/auth/login"), QString(), body);
        QVERIFY(r);
        QCOMPARE(r->status, status);
        const QJsonObject o = bodyOf(r);
        QVERIFY(o.contains(QStringLiteral("code")) && o.value(QStringLiteral("msg")).isString() &&
                o.contains(QStringLiteral("data")));
        if (status == 200) {
            const QString token = o.value(QStringLiteral("data"))
                                      .toObject()
                                      .value(QStringLiteral("token"))
                                      .toString();
            QCOMPARE(token.size(), 64);
            QCOMPARE(m_svc->get(QStringLiteral("/api/v1/tollan/auth/me"), token)->status, 200);
        }
    }

    // Wrong e-mail and wrong password must be indistinguishable.
    void loginRefusalsLookAlike() {
        auto a = m_svc->post(QStringLiteral("/api/v1/tollan/auth/login"), QString(),
                             R"({"email":"alice@example.org","password":"bad"})");
        auto b = m_svc->post(QStringLiteral("/api/v1/tollan/auth/login"), QString(),
                             R"({"email":"nobody@example.org","password":"bad"})");
        QCOMPARE(a->status, 401);
        QCOMPARE(a->body, b->body);
    }

    void repeatedFailuresAreSlowedDown() {
        m_svc->accounts->addUser(QStringLiteral("dave@example.org"), QStringLiteral("right"), 1, 0);
        const QByteArray bad = R"({"email":"dave@example.org","password":"wrong"})";
        QList<int> statuses;
        for (int i = 0; i < 5; ++i)
            statuses
                << m_svc->post(QStringLiteral("/api/v1/tollan/auth/login"), QString(), bad)->status;
        QCOMPARE(statuses.first(), 401);
        QVERIFY2(statuses.contains(429), qPrintable(QString::number(statuses.last())));
        // Even the right password waits until the delay is over.
        auto r = m_svc->post(QStringLiteral("/api/v1/tollan/auth/login"), QString(),
                             R"({"email":"dave@example.org","password":"right"})");
        QCOMPARE(r->status, 429);
        QVERIFY(std::stoi(r->get_header_value("Retry-After")) >= 1);
        // Another e-mail is not affected.
        QCOMPARE(m_svc
                     ->post(QStringLiteral("/api/v1/tollan/auth/login"), QString(),
                            R"({"email":"alice@example.org","password":"pw-alice@example.org"})")
                     ->status,
                 200);
    }

    // A new password ends every session at once, even one used a moment ago.
    void newPasswordSignsOut() {
        const QString token = m_svc->addUserAndLogin(QStringLiteral("henry@example.org"));
        QCOMPARE(m_svc->get(QStringLiteral("/api/v1/tollan/auth/me"), token)->status, 200);
        QVERIFY(m_svc->accounts->setPassword(QStringLiteral("henry@example.org"),
                                             QStringLiteral("fresh")));
        QCOMPARE(m_svc->get(QStringLiteral("/api/v1/tollan/auth/me"), token)->status, 401);
        QCOMPARE(m_svc
                     ->post(QStringLiteral("/api/v1/tollan/auth/login"), QString(),
                            R"({"email":"henry@example.org","password":"fresh"})")
                     ->status,
                 200);
    }

    void unauthenticated_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("token");
        const QStringList paths{QStringLiteral("/api/v1/tollan/auth/me"),
                                QStringLiteral("/api/v1/tollan/convertapi/page_balance"),
                                QStringLiteral("/api/v1/tollan/convert/all"),
                                QStringLiteral("/api/v1/tollan/convert/x"),
                                QStringLiteral("/api/v2/docx?md5_id=x")};
        for (const QString &p : paths) {
            QTest::newRow(qPrintable(QStringLiteral("no token ") + p)) << "GET" << p << QString();
            QTest::newRow(qPrintable(QStringLiteral("bad token ") + p))
                << "GET" << p << QString(64, QLatin1Char('a'));
            QTest::newRow(qPrintable(QStringLiteral("empty token ") + p))
                << "GET" << p << QStringLiteral("");
        }
        QTest::newRow("convert") << "POST"
                                 << "/api/v1/tollan/convert" << QString();
        QTest::newRow("upload") << "POST"
                                << "/api/v2/uploadfilepdf" << QString();
    }
    void unauthenticated() {
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(QString, token);
        auto r = method == QLatin1String("GET")
                     ? m_svc->get(path, token)
                     : m_svc->post(path, token,
                                   clientMultipartBody(QStringLiteral("B"), QStringLiteral("a.pdf"),
                                                       smallPdf(1)),
                                   QStringLiteral("multipart/form-data; boundary=B"));
        QVERIFY(r);
        QCOMPARE(r->status, 401);
        QCOMPARE(bodyOf(r).value(QStringLiteral("code")).toInt(), 401);
    }

    void meAndBalance() {
        auto me = m_svc->get(QStringLiteral("/api/v1/tollan/auth/me"), m_alice);
        QCOMPARE(me->status, 200);
        const QJsonObject env = bodyOf(me);
        QCOMPARE(env.value(QStringLiteral("code")).toInt(-1), 0);
        const QJsonObject d = env.value(QStringLiteral("data")).toObject();
        QCOMPARE(d.value(QStringLiteral("email")).toString(), QStringLiteral("alice@example.org"));
        QVERIFY(d.value(QStringLiteral("is_lifetimedeal_member")).isBool());
        QVERIFY(!d.value(QStringLiteral("is_lifetimedeal_member")).toBool());
        QVERIFY(d.value(QStringLiteral("lifetime_member_description")).isString());
        QVERIFY(d.value(QStringLiteral("page_balcance_description")).isString());
        QVERIFY(d.value(QStringLiteral("lft_daily_usage")).isDouble());
        QVERIFY(d.value(QStringLiteral("lft_daily_total")).isDouble());
        auto bal =
            dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/convertapi/page_balance"), m_alice));
        QCOMPARE(bal.value(QStringLiteral("total_pages")).toInt(), 40);
        QVERIFY(bal.value(QStringLiteral("consumed_pages")).isDouble());

        const QString erin = m_svc->addUserAndLogin(QStringLiteral("erin@example.org"), 0, 25);
        const QJsonObject e = dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/auth/me"), erin));
        QVERIFY(e.value(QStringLiteral("is_lifetimedeal_member")).toBool());
        QCOMPARE(e.value(QStringLiteral("lft_daily_total")).toInt(), 25);
        QCOMPARE(e.value(QStringLiteral("lft_daily_usage")).toInt(), 0);
    }

    void uploadRecords_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("typ");
        QTest::addColumn<int>("pages");
        QTest::newRow("pdf") << "Report.PDF" << smallPdf(3) << "pdf" << 3;
        QTest::newRow("markdown") << "notes.md" << QByteArray("# Notes\n\nbody\n") << "markdown"
                                  << 0;
        QTest::newRow("txt") << "notes.txt" << QByteArray("plain\n") << "txt" << 0;
        QTest::newRow("quote and newline in the name")
            << "we \"said\"\nhi.pdf" << smallPdf(1) << "pdf" << 1;
        QTest::newRow("unicode name") << "报告【retry】.pdf" << smallPdf(2) << "pdf" << 2;
        QTest::newRow("empty file") << "empty.txt" << QByteArray() << "txt" << 0;
    }
    void uploadRecords() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, typ);
        QFETCH(int, pages);
        int status = 0;
        const QJsonObject up = m_svc->upload(m_alice, name, content, &status);
        QCOMPARE(status, 200);
        QCOMPARE(up.value(QStringLiteral("file_name")).toString(), safeDisplayName(name));
        QCOMPARE(up.value(QStringLiteral("source_file_typ")).toString(), typ);
        QCOMPARE(up.value(QStringLiteral("page_number")).toInt(-1), pages);
        QCOMPARE(up.value(QStringLiteral("source_file_md5")).toString(),
                 QString::fromLatin1(
                     QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()));
        QVERIFY(up.value(QStringLiteral("status")).isDouble());
        const QString key = up.value(QStringLiteral("source_file_path")).toString();
        QVERIFY(!uploadIdFromKey(key).isEmpty());
        QVERIFY(!key.contains(m_svc->config.dataDir));
        // The client sends each file twice; the second answer names the same upload.
        QCOMPARE(m_svc->upload(m_alice, name, content)
                     .value(QStringLiteral("source_file_path"))
                     .toString(),
                 key);
    }

    void badUploads_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("body"); // empty: the client's body for `content`
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("status");
        const QByteArray pdf = smallPdf(2);
        const QByteArray good =
            clientMultipartBody(QStringLiteral("BB"), QStringLiteral("a.pdf"), pdf);
        QTest::newRow("over the limit")
            << "big.pdf" << QByteArray() << QByteArray(3 * 1024 * 1024, 'x') << 413;
        QTest::newRow("truncated multipart")
            << "a.pdf" << good.left(good.size() - 30) << QByteArray() << 400;
        QTest::newRow("no file part")
            << "a.pdf"
            << QByteArray(
                   "--BB\r\nContent-Disposition: form-data; name=\"other\"\r\n\r\nx\r\n--BB--\r\n")
            << QByteArray() << 400;
        QTest::newRow("text named .pdf")
            << "a.pdf" << QByteArray() << QByteArray("just some words") << 415;
        QTest::newRow("pdf named .docx") << "a.docx" << QByteArray() << pdf << 415;
        QTest::newRow("unknown type")
            << "a.exe" << QByteArray() << QByteArray("MZ\x90\x00", 4) << 415;
        QTest::newRow("broken pdf") << "a.pdf" << QByteArray() << pdf.left(pdf.size() / 4) << 422;
    }
    void badUploads() {
        QFETCH(QString, name);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, content);
        QFETCH(int, status);
        const int before = filesUnder(m_svc->config.dataDir + QStringLiteral("/uploads"));
        const QString b = body.isEmpty() ? newBoundary() : QStringLiteral("BB");
        auto r = m_svc->post(QStringLiteral("/api/v2/uploadfilepdf"), m_alice,
                             body.isEmpty() ? clientMultipartBody(b, name, content) : body,
                             QStringLiteral("multipart/form-data; boundary=") + b);
        QVERIFY(r);
        QCOMPARE(r->status, status);
        const QJsonObject env = bodyOf(r);
        QCOMPARE(env.value(QStringLiteral("code")).toInt(), status);
        QVERIFY(!env.value(QStringLiteral("msg")).toString().isEmpty());
        // Nothing of a refused upload stays on disk.
        QCOMPARE(filesUnder(m_svc->config.dataDir + QStringLiteral("/uploads")), before);
        QCOMPARE(filesUnder(m_svc->config.dataDir + QStringLiteral("/tmp")), 0);
    }

    // A body far over the limit sent without Content-Length (chunked) is cut off
    // while streaming, not after it has filled the disk.
    void oversizedChunkedUpload() {
        auto cli = m_svc->client();
        httplib::Headers h{{"Authorization", "Bearer " + m_alice.toStdString()}};
        const std::string head =
            "\r\n--CC\r\nContent-Disposition: form-data; name=\"file\"; filename=\"x.pdf\"\r\n"
            "Content-Type: application/pdf\r\n\r\n%PDF-1.4\n";
        std::size_t sent = 0;
        auto r = cli->Post(
            "/api/v2/uploadfilepdf", h,
            [&](size_t, httplib::DataSink &sink) {
                if (sent == 0) {
                    sink.write(head.data(), head.size());
                } else if (sent > std::size_t(64) * 1024 * 1024) {
                    sink.done();
                    return true;
                }
                static const std::string block(256 * 1024, 'z');
                sent += block.size();
                return sink.write(block.data(), block.size());
            },
            "multipart/form-data; boundary=CC");
        // Either the answer (413) or a closed connection; never a success, never the whole 64 MiB.
        if (r)
            QCOMPARE(r->status, 413);
        QVERIFY(sent < std::size_t(40) * 1024 * 1024);
        QCOMPARE(filesUnder(m_svc->config.dataDir + QStringLiteral("/tmp")), 0);
    }

    void convertRefusals_data() {
        QTest::addColumn<QString>("typ");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("status");
        QTest::newRow("unknown code") << "PDF2TXT"
                                      << "pdf" << 400;
        QTest::newRow("empty code") << ""
                                    << "pdf" << 400;
        QTest::newRow("markdown for a PDF engine") << "PDF2DOC"
                                                   << "md" << 400;
        QTest::newRow("pdf for DOCX2PDF") << "DOCX2PDF"
                                          << "pdf" << 400;
    }
    void convertRefusals() {
        QFETCH(QString, typ);
        QFETCH(QString, file);
        QFETCH(int, status);
        const QJsonObject up = file == QLatin1String("pdf")
                                   ? m_svc->upload(m_alice, QStringLiteral("r.pdf"),
                                                   smallPdf(1, QStringLiteral("refuse")))
                                   : m_svc->upload(m_alice, QStringLiteral("r.md"), "# r\n");
        QVERIFY(!up.isEmpty());
        int got = 0;
        QByteArray body;
        m_svc->convert(m_alice, up, typ, &got, &body);
        QCOMPARE(got, status);
        QVERIFY(!QJsonDocument::fromJson(body)
                     .object()
                     .value(QStringLiteral("msg"))
                     .toString()
                     .isEmpty());
    }

    // The full road: upload, job (status 0), polling, history, download, balance.
    void jobLifecycle() {
        const QByteArray pdf = smallPdf(3, QStringLiteral("lifecycle"));
        const QJsonObject up = m_svc->upload(m_alice, QStringLiteral("life.pdf"), pdf);
        const qint64 consumedBefore =
            dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/convertapi/page_balance"), m_alice))
                .value(QStringLiteral("consumed_pages"))
                .toInteger();
        int status = 0;
        const QJsonObject job = m_svc->convert(m_alice, up, QStringLiteral("pdf2img"), &status);
        QCOMPARE(status, 200);
        const QStringList keys{"id",
                               "user_id",
                               "typ",
                               "file_name",
                               "page_number",
                               "source_file_path",
                               "source_file_typ",
                               "result_file_typ",
                               "source_file_md5",
                               "status",
                               "create_at"};
        for (const QString &k : keys)
            QVERIFY2(job.contains(k), qPrintable(k));
        QCOMPARE(job.value(QStringLiteral("status")).toInt(-1), 0);
        QCOMPARE(job.value(QStringLiteral("typ")).toString(), QStringLiteral("PDF2IMG"));
        QCOMPARE(job.value(QStringLiteral("result_file_typ")).toString(), QStringLiteral("zip"));
        QCOMPARE(job.value(QStringLiteral("file_name")).toString(), QStringLiteral("life.pdf"));
        QCOMPARE(job.value(QStringLiteral("source_file_md5")).toString(),
                 up.value(QStringLiteral("source_file_md5")).toString());
        QVERIFY(QRegularExpression(
                    QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000$"))
                    .match(job.value(QStringLiteral("create_at")).toString())
                    .hasMatch());
        const QString id = job.value(QStringLiteral("id")).toString();

        const QJsonObject done = m_svc->waitForJob(m_alice, id);
        QCOMPARE(done.value(QStringLiteral("status")).toInt(), 1);
        QCOMPARE(done.value(QStringLiteral("page_number")).toInt(), 3);

        httplib::Headers h{{"Authorization", "Bearer " + m_alice.toStdString()}, {"cid", "1"}};
        auto dl = m_svc->client()->Get("/api/v2/docx?md5_id=" + id.toStdString(), h);
        QCOMPARE(dl->status, 200);
        QVERIFY(dl->body.compare(0, 4, "PK\x03\x04") == 0);

        const QJsonArray all =
            dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/convert/all"), m_alice))
                .value(QStringLiteral("converts"))
                .toArray();
        QVERIFY(!all.isEmpty());
        QCOMPARE(all.first().toObject().value(QStringLiteral("id")).toString(), id); // newest first
        const qint64 consumedAfter =
            dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/convertapi/page_balance"), m_alice))
                .value(QStringLiteral("consumed_pages"))
                .toInteger();
        QCOMPARE(consumedAfter - consumedBefore, 3);
    }

    // What the client sends on retry: typ upper-cased, the file name marked.
    void retryRequestFindsTheUpload() {
        const QJsonObject up = m_svc->upload(m_alice, QStringLiteral("again.pdf"),
                                             smallPdf(1, QStringLiteral("again")));
        QJsonObject retried = up;
        retried[QStringLiteral("file_name")] = QStringLiteral("again.pdf【retry】");
        int status = 0;
        const QJsonObject job = m_svc->convert(m_alice, retried, QStringLiteral("PDF2MD"), &status);
        QCOMPARE(status, 200);
        QCOMPARE(job.value(QStringLiteral("file_name")).toString(),
                 QStringLiteral("again.pdf【retry】"));
        QCOMPARE(m_svc->waitForJob(m_alice, job.value(QStringLiteral("id")).toString())
                     .value(QStringLiteral("status"))
                     .toInt(),
                 1);
        // With only the checksum (a job listed by a history that lost its path).
        QJsonObject byMd5 = up;
        byMd5[QStringLiteral("source_file_path")] = QString();
        const QJsonObject second =
            m_svc->convert(m_alice, byMd5, QStringLiteral("PDF2MD"), &status);
        QCOMPARE(status, 200);
        QCOMPARE(m_svc->waitForJob(m_alice, second.value(QStringLiteral("id")).toString())
                     .value(QStringLiteral("status"))
                     .toInt(),
                 1);
        // A path that is a real file on the server is never used as one.
        QJsonObject forged = up;
        forged[QStringLiteral("source_file_path")] = QStringLiteral("/etc/passwd");
        forged[QStringLiteral("source_file_md5")] =
            QStringLiteral("00000000000000000000000000000000");
        m_svc->convert(m_alice, forged, QStringLiteral("PDF2MD"), &status);
        QCOMPARE(status, 404);
    }

    void isolationBetweenUsers() {
        const QJsonObject up = m_svc->upload(m_alice, QStringLiteral("private.pdf"),
                                             smallPdf(1, QStringLiteral("private")));
        const QJsonObject job = m_svc->convert(m_alice, up, QStringLiteral("PDF2MD"));
        const QString id = job.value(QStringLiteral("id")).toString();
        QCOMPARE(m_svc->waitForJob(m_alice, id).value(QStringLiteral("status")).toInt(), 1);

        QCOMPARE(m_svc->get(QStringLiteral("/api/v1/tollan/convert/") + id, m_bob)->status, 404);
        auto dl = m_svc->get(QStringLiteral("/api/v2/docx?md5_id=") + id, m_bob);
        QCOMPARE(dl->status, 404);
        QVERIFY(dl->body.find("private") == std::string::npos);
        const QJsonArray bobs =
            dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/convert/all"), m_bob))
                .value(QStringLiteral("converts"))
                .toArray();
        for (const QJsonValue &v : bobs)
            QVERIFY(v.toObject().value(QStringLiteral("id")).toString() != id);
        // Bob cannot start a job on Alice's upload by naming its path or checksum.
        int status = 0;
        m_svc->convert(m_bob, up, QStringLiteral("PDF2MD"), &status);
        QCOMPARE(status, 404);
        // And Alice still can.
        QCOMPARE(m_svc->get(QStringLiteral("/api/v1/tollan/convert/") + id, m_alice)->status, 200);
    }

    void unknownJob_data() {
        QTest::addColumn<QString>("id");
        QTest::newRow("unknown") << "0123456789abcdef0123456789abcdef";
        QTest::newRow("percent-encoded slash") << "..%2Fall";
        QTest::newRow("sql") << "x'%20OR%20'1'='1";
    }
    void unknownJob() {
        QFETCH(QString, id);
        QCOMPARE(m_svc->get(QStringLiteral("/api/v1/tollan/convert/") + id, m_alice)->status, 404);
        QCOMPARE(m_svc->get(QStringLiteral("/api/v2/docx?md5_id=") + id, m_alice)->status, 404);
    }

    void failedJobsChargeNothing_data() {
        QTest::addColumn<QString>("typ");
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QString>("reason");
        QTest::newRow("PROTECT") << "PROTECT" << false << "password";
        QTest::newRow("UNLOCK") << "unlock" << false << "password";
        QTest::newRow("encrypted source") << "PDF2IMG" << true << "password-protected";
    }
    void failedJobsChargeNothing() {
        QFETCH(QString, typ);
        QFETCH(bool, encrypted);
        QFETCH(QString, reason);
        // An account of its own, so no other test's job moves its balance meanwhile.
        const QString tag = QString::fromLatin1(QTest::currentDataTag())
                                .replace(QLatin1Char(' '), QLatin1Char('-'));
        const QString owner =
            m_svc->addUserAndLogin(QStringLiteral("fail-%1@example.org").arg(tag), 40);
        QTemporaryDir dir;
        QByteArray pdf = smallPdf(2, QStringLiteral("fail") + typ);
        if (encrypted) {
            writeFile(dir.filePath(QStringLiteral("p.pdf")), pdf);
            QCOMPARE(runTool(QStringLiteral("qpdf"),
                             {QStringLiteral("--encrypt"), QStringLiteral("u"), QStringLiteral("o"),
                              QStringLiteral("256"), QStringLiteral("--"),
                              dir.filePath(QStringLiteral("p.pdf")),
                              dir.filePath(QStringLiteral("e.pdf"))}),
                     0);
            pdf = readFile(dir.filePath(QStringLiteral("e.pdf")));
        }
        const QJsonObject up = m_svc->upload(owner, QStringLiteral("f.pdf"), pdf);
        QVERIFY(!up.isEmpty());
        const auto balance = [&] {
            return dataOf(
                       m_svc->get(QStringLiteral("/api/v1/tollan/convertapi/page_balance"), owner))
                .value(QStringLiteral("consumed_pages"))
                .toInteger();
        };
        const qint64 before = balance();
        const QJsonObject job = m_svc->convert(owner, up, typ);
        const QString id = job.value(QStringLiteral("id")).toString();
        QCOMPARE(m_svc->waitForJob(owner, id).value(QStringLiteral("status")).toInt(), 2);
        QCOMPARE(balance(), before);
        QCOMPARE(m_svc->get(QStringLiteral("/api/v2/docx?md5_id=") + id, owner)->status, 404);
        auto q = m_svc->db->exec(QStringLiteral("SELECT failure FROM jobs WHERE id=?"), {id});
        QVERIFY(q.next());
        QVERIFY2(q.value(0).toString().contains(reason), qPrintable(q.value(0).toString()));
    }

    void balanceRunsOut() {
        const QString frank = m_svc->addUserAndLogin(QStringLiteral("frank@example.org"), 3);
        const QJsonObject up =
            m_svc->upload(frank, QStringLiteral("four.pdf"), smallPdf(4, QStringLiteral("frank")));
        int status = 0;
        QByteArray body;
        m_svc->convert(frank, up, QStringLiteral("PDF2MD"), &status, &body);
        QCOMPARE(status, 402);
        QVERIFY2(body.contains("4 page") && body.contains("3 remain"), body.constData());
        // Three pages fit; a second job on top of the queued one does not.
        const QJsonObject small =
            m_svc->upload(frank, QStringLiteral("two.pdf"), smallPdf(2, QStringLiteral("frank2")));
        const QJsonObject job = m_svc->convert(frank, small, QStringLiteral("PDF2MD"), &status);
        QCOMPARE(status, 200);
        QCOMPARE(m_svc->waitForJob(frank, job.value(QStringLiteral("id")).toString())
                     .value(QStringLiteral("status"))
                     .toInt(),
                 1);
        m_svc->convert(frank, small, QStringLiteral("PDF2MD"), &status);
        QCOMPARE(status, 402);
        const QJsonObject bal =
            dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/convertapi/page_balance"), frank));
        QCOMPARE(bal.value(QStringLiteral("consumed_pages")).toInt(), 2);
    }

    void lifetimeMembersUseTheDailyAllowance() {
        const QString gina = m_svc->addUserAndLogin(QStringLiteral("gina@example.org"), 0, 3);
        const QJsonObject up =
            m_svc->upload(gina, QStringLiteral("g.pdf"), smallPdf(2, QStringLiteral("gina")));
        int status = 0;
        const QJsonObject job = m_svc->convert(gina, up, QStringLiteral("PDF2MD"), &status);
        QCOMPARE(status, 200);
        QCOMPARE(m_svc->waitForJob(gina, job.value(QStringLiteral("id")).toString())
                     .value(QStringLiteral("status"))
                     .toInt(),
                 1);
        const QJsonObject me = dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/auth/me"), gina));
        QCOMPARE(me.value(QStringLiteral("lft_daily_usage")).toInt(), 2);
        QCOMPARE(dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/convertapi/page_balance"), gina))
                     .value(QStringLiteral("consumed_pages"))
                     .toInt(),
                 0);
        m_svc->convert(gina, up, QStringLiteral("PDF2MD"), &status);
        QCOMPARE(status, 402);
    }

    // A second service must not share the port of a running one.
    void portIsNotShared() {
        Config other = m_svc->config;
        other.port = m_svc->port;
        other.dataDir = m_svc->config.dataDir + QStringLiteral("/other");
        HttpApi second(*m_svc->db, *m_svc->accounts, *m_svc->runner, other);
        QCOMPARE(second.bind(), -1);
    }

    void unknownEndpoint() {
        auto r = m_svc->get(QStringLiteral("/api/v9/nothing"), m_alice);
        QCOMPARE(r->status, 404);
        QCOMPARE(bodyOf(r).value(QStringLiteral("code")).toInt(), 404);
    }

    // Jobs left "running" by a process that died are queued again and finish.
    void recoveryRequeuesInterruptedJobs() {
        const QJsonObject up = m_svc->upload(m_alice, QStringLiteral("rec.pdf"),
                                             smallPdf(1, QStringLiteral("recover")));
        const QJsonObject job = m_svc->convert(m_alice, up, QStringLiteral("PDF2MD"));
        const QString id = job.value(QStringLiteral("id")).toString();
        QCOMPARE(m_svc->waitForJob(m_alice, id).value(QStringLiteral("status")).toInt(), 1);

        // A second service on the same data, no workers yet: pretend two jobs were cut off.
        m_svc->db->exec(
            QStringLiteral(
                "UPDATE jobs SET state='running', attempts=1, result_file=NULL WHERE id=?"),
            {id});
        m_svc->db->exec(QStringLiteral("DELETE FROM page_ledger WHERE job_id=?"), {id});
        const QJsonObject other = m_svc->convert(m_alice, up, QStringLiteral("PDF2MD"));
        const QString stuck = other.value(QStringLiteral("id")).toString();
        QCOMPARE(m_svc->waitForJob(m_alice, stuck).value(QStringLiteral("status")).toInt(), 1);
        m_svc->db->exec(QStringLiteral("UPDATE jobs SET state='running', attempts=? WHERE id=?"),
                        {JobRunner::kMaxAttempts, stuck});
        const int touched = m_svc->runner->recover();
        QCOMPARE(touched, 2);
        QCOMPARE(m_svc->waitForJob(m_alice, id).value(QStringLiteral("status")).toInt(), 1);
        QCOMPARE(m_svc->waitForJob(m_alice, stuck).value(QStringLiteral("status")).toInt(), 2);
    }

    // Large answers go out gzip-compressed to clients that accept it, small
    // ones and everything for other clients as they are; all decode alike.
    void historyEncodings_data() {
        QTest::addColumn<int>("jobs");
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("the client's headers")
            << 30 << QByteArray("zstd, br, gzip, deflate") << QByteArray("gzip");
        QTest::newRow("no Accept-Encoding") << 30 << QByteArray() << QByteArray();
        QTest::newRow("br only") << 30 << QByteArray("br") << QByteArray();
        QTest::newRow("gzip refused") << 30 << QByteArray("gzip;q=0, br") << QByteArray();
        QTest::newRow("small answer") << 0 << QByteArray("zstd, br, gzip, deflate") << QByteArray();
    }
    void historyEncodings() {
        QFETCH(int, jobs);
        QFETCH(QByteArray, accept);
        QFETCH(QByteArray, encoding);
        static int row = 0;
        const QString email = QStringLiteral("encoding%1@example.org").arg(++row);
        const QString token = m_svc->addUserAndLogin(email);
        addFinishedJobs(*m_svc, email, jobs);
        const auto plain = historyOf(*m_svc, token, {}, false);
        const auto sent = historyOf(*m_svc, token, accept.toStdString(), false);
        const auto decoded = historyOf(*m_svc, token, accept.toStdString(), true);
        QCOMPARE(sent->status, 200);
        QCOMPARE(QByteArray::fromStdString(sent->get_header_value("Content-Encoding")), encoding);
        if (!encoding.isEmpty())
            QVERIFY(sent->body.size() * 2 < plain->body.size());
        QCOMPARE(convertsOf(plain).size(), jobs);
        QCOMPARE(bodyOf(decoded), bodyOf(plain));
    }

    // The history is read from the database once; then each job's change
    // updates its entry, and only its block is compressed again. Another
    // account's changes leave it alone.
    void historyFollowsJobChanges() {
        const QString email = QStringLiteral("many@example.org");
        const QString token = m_svc->addUserAndLogin(email);
        const QString otherEmail = QStringLiteral("other@example.org");
        const QString other = m_svc->addUserAndLogin(otherEmail);
        // More than one block of jobs, so the answer is assembled from pieces.
        const int count = int(HistoryCache::kBlockJobs) + 100;
        const QStringList ids = addFinishedJobs(*m_svc, email, count);
        const auto &counters = m_svc->api->historyCounters();
        const auto fetch = [&] {
            const auto gz = historyOf(*m_svc, token, "gzip, deflate, br", true);
            const QJsonArray converts = convertsOf(gz);
            [&] {
                QCOMPARE(convertsOf(historyOf(*m_svc, token, {}, false)), converts);
                QCOMPARE(converts.size(), ids.size());
            }();
            return converts;
        };
        QCOMPARE(convertsOf(historyOf(*m_svc, other, {}, false)).size(), 0);
        // Read in full for a client that takes gzip, it is kept compressed only;
        // a change, then a plain client, inflate its blocks again.
        QCOMPARE(convertsOf(historyOf(*m_svc, token, "gzip", true)).size(), count);
        failJob(*m_svc, email, ids[1]);
        const QJsonArray first = fetch();
        QCOMPARE(first[count - 2].toObject().value(QStringLiteral("status")).toInt(), 2);
        // Each job listed as its own status answer has it, odd names included.
        QCOMPARE(first.first().toObject(),
                 dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/convert/") + ids.last(), token)));
        const quint64 builds = counters.builds, deflated = counters.deflated;
        QVERIFY(deflated >= 2);

        // Asked again: the same bytes, nothing read or compressed.
        fetch();
        QCOMPARE(counters.builds, builds);
        QCOMPARE(counters.deflated, deflated);

        // Another account's job changes nothing here.
        addFinishedJobs(*m_svc, otherEmail, 1);
        quint64 updated = counters.jobsUpdated;
        fetch();
        QCOMPARE(counters.jobsUpdated, updated);
        QCOMPARE(counters.deflated, deflated);
        QCOMPARE(convertsOf(historyOf(*m_svc, other, {}, false)).size(), 1);
        QCOMPARE(counters.jobsUpdated, updated + 1);
        updated = counters.jobsUpdated;

        // One of the oldest jobs fails: the next answer shows it, one block recompressed.
        failJob(*m_svc, email, ids.first());
        const QJsonArray after = fetch();
        QCOMPARE(after.last().toObject().value(QStringLiteral("id")).toString(), ids.first());
        QCOMPARE(after.last().toObject().value(QStringLiteral("status")).toInt(), 2);
        QCOMPARE(
            after.last().toObject(),
            dataOf(m_svc->get(QStringLiteral("/api/v1/tollan/convert/") + ids.first(), token)));
        QCOMPARE(counters.builds, builds);
        QCOMPARE(counters.jobsUpdated, updated + 1);
        QCOMPARE(counters.deflated, deflated + 1);
    }

    // The answers kept stay within their bound: the account asked for least
    // recently is let go, and read again when next asked for, with the
    // changes made meanwhile.
    void historyWithinItsBound_data() {
        QTest::addColumn<int>("boundKiB");
        QTest::addColumn<bool>("firstKept"); // the first account's answer outlives two others
        QTest::addColumn<bool>("lastKept");  // the last one's outlives itself
        QTest::newRow("room for all") << 65536 << true << true;
        QTest::newRow("room for two") << 3000 << false << true;
        QTest::newRow("room for none") << 64 << false << false;
    }
    void historyWithinItsBound() {
        QFETCH(int, boundKiB);
        QFETCH(bool, firstKept);
        QFETCH(bool, lastKept);
        const std::size_t bound = std::size_t(boundKiB) * 1024;
        TestService svc(0, 1 << 20, {}, [&](Config &c) { c.historyCacheBytes = bound; });
        QStringList emails, tokens;
        QList<QStringList> ids;
        for (int i = 0; i < 3; ++i) {
            emails << QStringLiteral("bound%1@example.org").arg(i);
            tokens << svc.addUserAndLogin(emails[i]);
            ids << addFinishedJobs(svc, emails[i], 2000);
        }
        const auto &counters = svc.api->historyCounters();
        const auto listed = [&](int account) {
            const QJsonArray converts = convertsOf(historyOf(svc, tokens[account], {}, false));
            QStringList order;
            for (const QJsonValue &job : converts)
                order.prepend(job.toObject().value(QStringLiteral("id")).toString());
            [&] { QCOMPARE(order, ids[account]); }();
            return converts.last().toObject().value(QStringLiteral("status")).toInt();
        };
        for (int i = 0; i < 3; ++i)
            listed(i);
        QVERIFY(counters.bytes <= bound);

        failJob(svc, emails[0], ids[0].first());
        quint64 builds = counters.builds;
        listed(2);
        QCOMPARE(counters.builds - builds, lastKept ? 0u : 1u);
        builds = counters.builds;
        QCOMPARE(listed(0), 2);
        QCOMPARE(counters.builds - builds, firstKept ? 0u : 1u);
        QVERIFY(counters.bytes <= bound);
    }

    // Answers stay whole while jobs change beside many readers.
    void historyUnderConcurrentChanges() {
        const QString email = QStringLiteral("busy@example.org");
        const QString token = m_svc->addUserAndLogin(email);
        std::atomic<bool> done{false};
        std::atomic<int> bad{0};
        std::vector<std::thread> readers;
        for (int t = 0; t < 6; ++t)
            readers.emplace_back([&, t] {
                while (!done) {
                    const auto r = historyOf(*m_svc, token, t % 2 ? "gzip" : "", true);
                    if (!r || r->status != 200 || !dataOf(r).contains(QStringLiteral("converts")))
                        ++bad;
                }
            });
        QStringList ids;
        for (int i = 0; i < 40; ++i) {
            ids << addFinishedJobs(*m_svc, email, 1);
            if (i % 3 == 0)
                failJob(*m_svc, email, ids[i / 2]);
        }
        done = true;
        for (std::thread &t : readers)
            t.join();
        QCOMPARE(bad.load(), 0);
        const QJsonArray converts = convertsOf(historyOf(*m_svc, token, "gzip", true));
        QCOMPARE(converts.size(), ids.size());
        for (int i = 0; i < ids.size(); ++i)
            QCOMPARE(converts[ids.size() - 1 - i].toObject().value(QStringLiteral("id")).toString(),
                     ids[i]);
        QCOMPARE(converts.last().toObject().value(QStringLiteral("status")).toInt(), 2);
    }
};

QTEST_GUILESS_MAIN(TestApi)
#include "tst_api.moc"
