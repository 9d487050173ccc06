// The service over loopback HTTP: every endpoint as the client calls it,
// authentication, isolation between users, bad uploads, accounting and the queue.
#include "HttpSupport.h"
#include "Records.h"
#include "ServerTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <atomic>
#include <thread>

using namespace quorvel::server;
using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

QJsonObject bodyOf(const httplib::Result &r) {
    return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object() : QJsonObject();
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
    return dataOf(r).value(u"converts"_s).toArray();
}

// Finished jobs written straight into the job table, announced like a worker does.
QStringList addFinishedJobs(TestService &svc, const QString &email, int count) {
    Store &repo = *svc.store;
    const qint64 userId = repo.userByEmail(email)->id;
    UploadRecord up;
    up.id = newId();
    up.userId = userId;
    up.fileName = u"h.pdf"_s;
    up.typ = u"pdf"_s;
    up.md5 = QString(32, QLatin1Char('0'));
    up.size = 1;
    up.pageNumber = 1;
    repo.addUpload(up);
    QStringList ids;
    std::vector<QVariantList> rows;
    for (int i = 0; i < count; ++i) {
        ids << newId();
        rows.push_back(
            {ids.last(), userId, up.id, u"h%1 \"报告\"\\\t.pdf"_s.arg(i), up.md5, nowText()});
    }
    svc.store->queryBatch(u"INSERT INTO jobs(id, user_id, upload_id, typ, file_name, page_number, "
                          "source_file_typ, result_file_typ, source_file_md5, state, created_at) "
                          "VALUES(?,?,?,'PDF2MD',?,1,'pdf','md',?,'completed',?)"_s,
                          rows);
    for (const QString &id : ids)
        JobState::changed(userId, id);
    return ids;
}

const QString kLogin = u"/api/v1/tollan/auth/login"_s;
const QString kBalance = u"/api/v1/tollan/convertapi/page_balance"_s;

void failJob(TestService &svc, const QString &email, const QString &id) {
    svc.store->query(u"UPDATE jobs SET state='failed' WHERE id=?"_s, {id});
    JobState::changed(svc.store->userByEmail(email)->id, id);
}

} // namespace

class TestApi : public QObject {
    Q_OBJECT
    std::unique_ptr<TestService> m_svc;
    QString m_alice, m_bob;

    int loginStatus(const QByteArray &body) { return m_svc->post(kLogin, QString(), body)->status; }
    qint64 consumed(const QString &token) {
        return dataOf(m_svc->get(kBalance, token)).value(u"consumed_pages"_s).toInteger();
    }
    // The status the job ends in.
    int endOf(const QString &token, const QJsonObject &job) {
        return m_svc->waitForJob(token, job.value(u"id"_s).toString()).value(u"status"_s).toInt();
    }

private slots:
    void initTestCase() {
        m_svc = std::make_unique<TestService>(2, 2 * 1024 * 1024);
        QVERIFY(m_svc->port > 0);
        m_alice = m_svc->addUserAndLogin(u"alice@example.org"_s, 40);
        m_bob = m_svc->addUserAndLogin(u"bob@example.org"_s, 40);
        QVERIFY(!m_alice.isEmpty() && !m_bob.isEmpty());
    }
    void cleanupTestCase() { m_svc.reset(); }

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
        QTest::newRow("not json") << QByteArray("email=a") << 400;
        QTest::newRow("password a number")
            << QByteArray(R"({"email":"alice@example.org","password":1})") << 400;
    }
    void login() {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        auto r = m_svc->post(kLogin, QString(), body);
        QVERIFY(r);
        QCOMPARE(r->status, status);
        const QJsonObject o = bodyOf(r);
        QVERIFY(o.contains(u"code"_s) && o.value(u"msg"_s).isString() && o.contains(u"data"_s));
        if (status == 200) {
            const QString token = o.value(u"data"_s).toObject().value(u"token"_s).toString();
            QCOMPARE(token.size(), 64);
            QCOMPARE(m_svc->get(u"/api/v1/tollan/auth/me"_s, token)->status, 200);
        }
    }

    // Wrong e-mail and wrong password must be indistinguishable.
    void loginRefusalsLookAlike() {
        auto a =
            m_svc->post(kLogin, QString(), R"({"email":"alice@example.org","password":"bad"})");
        auto b =
            m_svc->post(kLogin, QString(), R"({"email":"nobody@example.org","password":"bad"})");
        QCOMPARE(a->status, 401);
        QCOMPARE(a->body, b->body);
    }

    void repeatedFailuresAreSlowedDown() {
        m_svc->accounts->addUser(u"dave@example.org"_s, u"right"_s, 1, 0);
        const QByteArray bad = R"({"email":"dave@example.org","password":"wrong"})";
        QList<int> statuses;
        for (int i = 0; i < 5; ++i)
            statuses << loginStatus(bad);
        QCOMPARE(statuses.first(), 401);
        QVERIFY2(statuses.contains(429), qPrintable(QString::number(statuses.last())));
        // Even the right password waits until the delay is over.
        auto r =
            m_svc->post(kLogin, QString(), R"({"email":"dave@example.org","password":"right"})");
        QCOMPARE(r->status, 429);
        QVERIFY(std::stoi(r->get_header_value("Retry-After")) >= 1);
        // Another e-mail is not affected.
        QCOMPARE(loginStatus(R"({"email":"alice@example.org","password":"pw-alice@example.org"})"),
                 200);
    }

    // A new password ends every session at once, even one used a moment ago.
    void newPasswordSignsOut() {
        const QString token = m_svc->addUserAndLogin(u"henry@example.org"_s);
        QCOMPARE(m_svc->get(u"/api/v1/tollan/auth/me"_s, token)->status, 200);
        QVERIFY(m_svc->accounts->setPassword(u"henry@example.org"_s, u"fresh"_s));
        QCOMPARE(m_svc->get(u"/api/v1/tollan/auth/me"_s, token)->status, 401);
        QCOMPARE(loginStatus(R"({"email":"henry@example.org","password":"fresh"})"), 200);
    }

    void unauthenticated_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("token");
        const QStringList paths{u"/api/v1/tollan/auth/me"_s, kBalance,
                                u"/api/v1/tollan/convert/all"_s, u"/api/v1/tollan/convert/x"_s,
                                u"/api/v2/docx?md5_id=x"_s};
        for (const QString &p : paths) {
            QTest::newRow(qPrintable(u"no token "_s + p)) << u"GET"_s << p << QString();
            QTest::newRow(qPrintable(u"bad token "_s + p))
                << u"GET"_s << p << QString(64, QLatin1Char('a'));
        }
        QTest::newRow("convert") << u"POST"_s << u"/api/v1/tollan/convert"_s << QString();
        QTest::newRow("upload") << u"POST"_s << u"/api/v2/uploadfilepdf"_s << QString();
    }
    void unauthenticated() {
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(QString, token);
        auto r = method == QLatin1String("GET")
                     ? m_svc->get(path, token)
                     : m_svc->post(path, token, clientMultipartBody(u"B"_s, u"a.pdf"_s, textPdf(1)),
                                   u"multipart/form-data; boundary=B"_s);
        QVERIFY(r);
        QCOMPARE(r->status, 401);
        QCOMPARE(bodyOf(r).value(u"code"_s).toInt(), 401);
    }

    void uploadRecords_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("typ");
        QTest::addColumn<int>("pages");
        QTest::newRow("pdf") << u"Report.PDF"_s << textPdf(3) << u"pdf"_s << 3;
        QTest::newRow("markdown") << u"notes.md"_s << QByteArray("# Notes\n\nbody\n")
                                  << u"markdown"_s << 0;
        QTest::newRow("quote and newline in the name")
            << u"we \"said\"\nhi.pdf"_s << textPdf(1) << u"pdf"_s << 1;
        QTest::newRow("unicode name") << u"报告【retry】.pdf"_s << textPdf(2) << u"pdf"_s << 2;
        QTest::newRow("empty file") << u"empty.txt"_s << QByteArray() << u"txt"_s << 0;
    }
    void uploadRecords() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, typ);
        QFETCH(int, pages);
        int status = 0;
        const QJsonObject up = m_svc->upload(m_alice, name, content, &status);
        QCOMPARE(status, 200);
        QCOMPARE(up.value(u"file_name"_s).toString(), safeDisplayName(name));
        QCOMPARE(up.value(u"source_file_typ"_s).toString(), typ);
        QCOMPARE(up.value(u"page_number"_s).toInt(-1), pages);
        QCOMPARE(up.value(u"source_file_md5"_s).toString(),
                 QString::fromLatin1(
                     QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()));
        QVERIFY(up.value(u"status"_s).isDouble());
        const QString key = up.value(u"source_file_path"_s).toString();
        QVERIFY(!uploadIdFromKey(key).isEmpty());
        QVERIFY(!key.contains(m_svc->config.dataDir));
        // The client sends each file twice; the second answer names the same upload.
        QCOMPARE(m_svc->upload(m_alice, name, content).value(u"source_file_path"_s).toString(),
                 key);
    }

    void badUploads_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("body"); // empty: the client's body for `content`
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("status");
        const QByteArray pdf = textPdf(2);
        const QByteArray good = clientMultipartBody(u"BB"_s, u"a.pdf"_s, pdf);
        QTest::newRow("over the limit")
            << u"big.pdf"_s << QByteArray() << QByteArray(3 * 1024 * 1024, 'x') << 413;
        QTest::newRow("truncated multipart")
            << u"a.pdf"_s << good.left(good.size() - 30) << QByteArray() << 400;
        QTest::newRow("no file part")
            << u"a.pdf"_s
            << QByteArray(
                   "--BB\r\nContent-Disposition: form-data; name=\"other\"\r\n\r\nx\r\n--BB--\r\n")
            << QByteArray() << 400;
        QTest::newRow("text named .pdf")
            << u"a.pdf"_s << QByteArray() << QByteArray("just some words") << 415;
        QTest::newRow("pdf named .docx") << u"a.docx"_s << QByteArray() << pdf << 415;
        QTest::newRow("unknown type")
            << u"a.exe"_s << QByteArray() << QByteArray("MZ\x90\x00", 4) << 415;
        QTest::newRow("broken pdf")
            << u"a.pdf"_s << QByteArray() << pdf.left(pdf.size() / 4) << 422;
    }
    void badUploads() {
        QFETCH(QString, name);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, content);
        QFETCH(int, status);
        const int before = filesUnder(m_svc->config.dataDir + u"/uploads"_s);
        const QString b = body.isEmpty() ? newBoundary() : u"BB"_s;
        auto r = m_svc->post(u"/api/v2/uploadfilepdf"_s, m_alice,
                             body.isEmpty() ? clientMultipartBody(b, name, content) : body,
                             u"multipart/form-data; boundary="_s + b);
        QVERIFY(r);
        QCOMPARE(r->status, status);
        const QJsonObject env = bodyOf(r);
        QCOMPARE(env.value(u"code"_s).toInt(), status);
        QVERIFY(!env.value(u"msg"_s).toString().isEmpty());
        // Nothing of a refused upload stays on disk.
        QCOMPARE(filesUnder(m_svc->config.dataDir + u"/uploads"_s), before);
        QCOMPARE(filesUnder(m_svc->config.dataDir + u"/tmp"_s), 0);
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
        QCOMPARE(filesUnder(m_svc->config.dataDir + u"/tmp"_s), 0);
    }

    void convertRefusals_data() {
        QTest::addColumn<QString>("typ");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("status");
        QTest::newRow("unknown code") << u"PDF2TXT"_s << u"pdf"_s << 400;
        QTest::newRow("empty code") << u""_s << u"pdf"_s << 400;
        QTest::newRow("markdown for a PDF engine") << u"PDF2DOC"_s << u"md"_s << 400;
        QTest::newRow("pdf for DOCX2PDF") << u"DOCX2PDF"_s << u"pdf"_s << 400;
    }
    void convertRefusals() {
        QFETCH(QString, typ);
        QFETCH(QString, file);
        QFETCH(int, status);
        const QJsonObject up = file == QLatin1String("pdf")
                                   ? m_svc->upload(m_alice, u"r.pdf"_s, textPdf(1, u"refuse"_s))
                                   : m_svc->upload(m_alice, u"r.md"_s, "# r\n");
        QVERIFY(!up.isEmpty());
        int got = 0;
        QByteArray body;
        m_svc->convert(m_alice, up, typ, &got, &body);
        QCOMPARE(got, status);
        QVERIFY(!QJsonDocument::fromJson(body).object().value(u"msg"_s).toString().isEmpty());
    }

    // The full road: upload, job (status 0), polling, history, download, balance.
    void jobLifecycle() {
        const QByteArray pdf = textPdf(3, u"lifecycle"_s);
        const QJsonObject up = m_svc->upload(m_alice, u"life.pdf"_s, pdf);
        const qint64 consumedBefore = consumed(m_alice);
        int status = 0;
        const QJsonObject job = m_svc->convert(m_alice, up, u"PDF2IMG"_s, &status);
        QCOMPARE(status, 200);
        QCOMPARE(job.value(u"status"_s).toInt(-1), 0);
        QCOMPARE(job.value(u"typ"_s).toString(), u"pdf2img"_s); // listed in lower case
        QCOMPARE(job.value(u"result_file_typ"_s).toString(), u"zip"_s);
        QCOMPARE(job.value(u"file_name"_s).toString(), u"life.pdf"_s);
        QCOMPARE(job.value(u"source_file_md5"_s).toString(),
                 up.value(u"source_file_md5"_s).toString());
        QVERIFY(QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000$"_s)
                    .match(job.value(u"create_at"_s).toString())
                    .hasMatch());
        const QString id = job.value(u"id"_s).toString();

        const QJsonObject done = m_svc->waitForJob(m_alice, id);
        QCOMPARE(done.value(u"status"_s).toInt(), 1);
        QCOMPARE(done.value(u"page_number"_s).toInt(), 3);

        httplib::Headers h{{"Authorization", "Bearer " + m_alice.toStdString()}, {"cid", "1"}};
        auto dl = m_svc->client()->Get("/api/v2/docx?md5_id=" + id.toStdString(), h);
        QCOMPARE(dl->status, 200);
        QVERIFY(dl->body.compare(0, 4, "PK\x03\x04") == 0);

        const QJsonArray all = convertsOf(m_svc->get(u"/api/v1/tollan/convert/all"_s, m_alice));
        QVERIFY(!all.isEmpty());
        QCOMPARE(all.first().toObject().value(u"id"_s).toString(), id); // newest first
        QCOMPARE(all.first().toObject().value(u"typ"_s).toString(), u"pdf2img"_s);
        QCOMPARE(consumed(m_alice) - consumedBefore, 3);
    }

    // What the client sends on retry: typ upper-cased, the file name marked.
    void retryRequestFindsTheUpload() {
        const QJsonObject up = m_svc->upload(m_alice, u"again.pdf"_s, textPdf(1, u"again"_s));
        QJsonObject retried = up;
        retried[u"file_name"_s] = u"again.pdf【retry】"_s;
        int status = 0;
        const QJsonObject job = m_svc->convert(m_alice, retried, u"PDF2MD"_s, &status);
        QCOMPARE(status, 200);
        QCOMPARE(job.value(u"file_name"_s).toString(), u"again.pdf【retry】"_s);
        QCOMPARE(endOf(m_alice, job), 1);
        // With only the checksum (a job listed by a history that lost its path).
        QJsonObject byMd5 = up;
        byMd5[u"source_file_path"_s] = QString();
        const QJsonObject second = m_svc->convert(m_alice, byMd5, u"PDF2MD"_s, &status);
        QCOMPARE(status, 200);
        QCOMPARE(endOf(m_alice, second), 1);
        // A path that is a real file on the server is never used as one.
        QJsonObject forged = up;
        forged[u"source_file_path"_s] = u"/etc/passwd"_s;
        forged[u"source_file_md5"_s] = u"00000000000000000000000000000000"_s;
        m_svc->convert(m_alice, forged, u"PDF2MD"_s, &status);
        QCOMPARE(status, 404);
    }

    void isolationBetweenUsers() {
        const QJsonObject up = m_svc->upload(m_alice, u"private.pdf"_s, textPdf(1, u"private"_s));
        const QJsonObject job = m_svc->convert(m_alice, up, u"PDF2MD"_s);
        const QString id = job.value(u"id"_s).toString();
        QCOMPARE(endOf(m_alice, job), 1);

        QCOMPARE(m_svc->get(u"/api/v1/tollan/convert/"_s + id, m_bob)->status, 404);
        auto dl = m_svc->get(u"/api/v2/docx?md5_id="_s + id, m_bob);
        QCOMPARE(dl->status, 404);
        QVERIFY(dl->body.find("private") == std::string::npos);
        const QJsonArray bobs = convertsOf(m_svc->get(u"/api/v1/tollan/convert/all"_s, m_bob));
        for (const QJsonValue &v : bobs)
            QVERIFY(v.toObject().value(u"id"_s).toString() != id);
        // Bob cannot start a job on Alice's upload by naming its path or checksum.
        int status = 0;
        m_svc->convert(m_bob, up, u"PDF2MD"_s, &status);
        QCOMPARE(status, 404);
        // And Alice still can.
        QCOMPARE(m_svc->get(u"/api/v1/tollan/convert/"_s + id, m_alice)->status, 200);
    }

    void unknownJob_data() {
        QTest::addColumn<QString>("id");
        QTest::newRow("unknown") << u"0123456789abcdef0123456789abcdef"_s;
        QTest::newRow("percent-encoded slash") << u"..%2Fall"_s;
        QTest::newRow("sql") << u"x'%20OR%20'1'='1"_s;
    }
    void unknownJob() {
        QFETCH(QString, id);
        QCOMPARE(m_svc->get(u"/api/v1/tollan/convert/"_s + id, m_alice)->status, 404);
        QCOMPARE(m_svc->get(u"/api/v2/docx?md5_id="_s + id, m_alice)->status, 404);
    }

    void failedJobsChargeNothing_data() {
        QTest::addColumn<QString>("typ");
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QString>("reason");
        QTest::newRow("PROTECT") << u"PROTECT"_s << false << u"password"_s;
        QTest::newRow("encrypted source") << u"PDF2IMG"_s << true << u"password-protected"_s;
    }
    void failedJobsChargeNothing() {
        QFETCH(QString, typ);
        QFETCH(bool, encrypted);
        QFETCH(QString, reason);
        // An account of its own, so no other test's job moves its balance meanwhile.
        const QString tag = QString::fromLatin1(QTest::currentDataTag())
                                .replace(QLatin1Char(' '), QLatin1Char('-'));
        const QString owner = m_svc->addUserAndLogin(u"fail-%1@example.org"_s.arg(tag), 40);
        QTemporaryDir dir;
        QByteArray pdf = textPdf(2, u"fail"_s + typ);
        if (encrypted) {
            writeFile(dir.filePath(u"p.pdf"_s), pdf);
            QCOMPARE(runTool(u"qpdf"_s, {u"--encrypt"_s, u"u"_s, u"o"_s, u"256"_s, u"--"_s,
                                         dir.filePath(u"p.pdf"_s), dir.filePath(u"e.pdf"_s)}),
                     0);
            pdf = readFile(dir.filePath(u"e.pdf"_s));
        }
        const QJsonObject up = m_svc->upload(owner, u"f.pdf"_s, pdf);
        QVERIFY(!up.isEmpty());
        const qint64 before = consumed(owner);
        const QJsonObject job = m_svc->convert(owner, up, typ);
        const QString id = job.value(u"id"_s).toString();
        QCOMPARE(endOf(owner, job), 2);
        QCOMPARE(consumed(owner), before);
        QCOMPARE(m_svc->get(u"/api/v2/docx?md5_id="_s + id, owner)->status, 404);
        const auto rows = m_svc->store->query(u"SELECT failure FROM jobs WHERE id=?"_s, {id});
        QCOMPARE(rows.size(), 1u);
        const QString failure = rows[0][0].toString();
        QVERIFY2(failure.contains(reason), qPrintable(failure));
    }

    void balanceRunsOut() {
        const QString frank = m_svc->addUserAndLogin(u"frank@example.org"_s, 3);
        const QJsonObject up = m_svc->upload(frank, u"four.pdf"_s, textPdf(4, u"frank"_s));
        int status = 0;
        QByteArray body;
        m_svc->convert(frank, up, u"PDF2MD"_s, &status, &body);
        QCOMPARE(status, 402);
        QVERIFY2(body.contains("4 page") && body.contains("3 remain"), body.constData());
        // Three pages fit; a second job on top of the queued one does not.
        const QJsonObject small = m_svc->upload(frank, u"two.pdf"_s, textPdf(2, u"frank2"_s));
        const QJsonObject job = m_svc->convert(frank, small, u"PDF2MD"_s, &status);
        QCOMPARE(status, 200);
        QCOMPARE(endOf(frank, job), 1);
        m_svc->convert(frank, small, u"PDF2MD"_s, &status);
        QCOMPARE(status, 402);
        QCOMPARE(consumed(frank), 2);
    }

    void lifetimeMembersUseTheDailyAllowance() {
        const QString gina = m_svc->addUserAndLogin(u"gina@example.org"_s, 0, 3);
        const QJsonObject up = m_svc->upload(gina, u"g.pdf"_s, textPdf(2, u"gina"_s));
        int status = 0;
        const QJsonObject job = m_svc->convert(gina, up, u"PDF2MD"_s, &status);
        QCOMPARE(status, 200);
        QCOMPARE(endOf(gina, job), 1);
        const QJsonObject me = dataOf(m_svc->get(u"/api/v1/tollan/auth/me"_s, gina));
        QCOMPARE(me.value(u"lft_daily_usage"_s).toInt(), 2);
        QCOMPARE(consumed(gina), 0);
        m_svc->convert(gina, up, u"PDF2MD"_s, &status);
        QCOMPARE(status, 402);
    }

    // A second service must not share the port of a running one.
    void portIsNotShared() {
        Config other = m_svc->config;
        other.port = m_svc->port;
        other.dataDir = m_svc->config.dataDir + u"/other"_s;
        HttpApi second(*m_svc->store, *m_svc->accounts, *m_svc->runner, other);
        QCOMPARE(second.bind(), -1);
    }

    // Jobs left "running" by a process that died are queued again and finish.
    void recoveryRequeuesInterruptedJobs() {
        const QJsonObject up = m_svc->upload(m_alice, u"rec.pdf"_s, textPdf(1, u"recover"_s));
        const QJsonObject job = m_svc->convert(m_alice, up, u"PDF2MD"_s);
        const QString id = job.value(u"id"_s).toString();
        QCOMPARE(endOf(m_alice, job), 1);

        // A second service on the same data, no workers yet: pretend two jobs were cut off.
        m_svc->store->query(
            u"UPDATE jobs SET state='running', attempts=1, result_file=NULL WHERE id=?"_s, {id});
        m_svc->store->query(u"DELETE FROM page_ledger WHERE job_id=?"_s, {id});
        const QJsonObject other = m_svc->convert(m_alice, up, u"PDF2MD"_s);
        const QString stuck = other.value(u"id"_s).toString();
        QCOMPARE(endOf(m_alice, other), 1);
        m_svc->store->query(u"UPDATE jobs SET state='running', attempts=? WHERE id=?"_s,
                            {JobRunner::kMaxAttempts, stuck});
        const int touched = m_svc->runner->recover();
        QCOMPARE(touched, 2);
        QCOMPARE(endOf(m_alice, job), 1);
        QCOMPARE(endOf(m_alice, other), 2);
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
        const QString email = u"encoding%1@example.org"_s.arg(++row);
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

    // The history is read from the database once; then each job's change updates its
    // entry alone, and another account's changes leave it untouched. Each job is listed
    // exactly as its own status answer has it, odd names included.
    void historyFollowsJobChanges() {
        const QString email = u"many@example.org"_s, otherEmail = u"other@example.org"_s;
        const QString token = m_svc->addUserAndLogin(email);
        const QString other = m_svc->addUserAndLogin(otherEmail);
        // More than one block of jobs, so the answer is assembled from pieces.
        const int count = int(HistoryCache::kBlockJobs) + 100;
        const QStringList ids = addFinishedJobs(*m_svc, email, count);
        const auto &counters = m_svc->api->historyCounters();
        // Read in full for a client that takes gzip; the plain answer is the same list.
        const auto fetch = [&] {
            const QJsonArray converts = convertsOf(historyOf(*m_svc, token, "gzip", true));
            [&] { QCOMPARE(convertsOf(historyOf(*m_svc, token, {}, false)), converts); }();
            return converts;
        };
        QCOMPARE(fetch().size(), count);
        QCOMPARE(convertsOf(historyOf(*m_svc, other, {}, false)).size(), 0);
        const quint64 builds = counters.builds;
        addFinishedJobs(*m_svc, otherEmail, 1);
        QCOMPARE(convertsOf(historyOf(*m_svc, other, {}, false)).size(), 1);
        for (const QString &id : {ids[1], ids.first()}) {
            failJob(*m_svc, email, id);
            const QJsonArray after = fetch();
            QCOMPARE(after.size(), count);
            const QJsonObject listed = after[count - 1 - int(ids.indexOf(id))].toObject();
            QCOMPARE(listed.value(u"status"_s).toInt(), 2);
            QCOMPARE(listed, dataOf(m_svc->get(u"/api/v1/tollan/convert/"_s + id, token)));
        }
        QCOMPARE(counters.builds, builds);
    }

    // What a job tells the person is there only when there is something to tell, alike in its
    // status and in the history: why a failed job failed, what a completed one left undone.
    void jobRemarksOnTheWire_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("failed, no reason") << u"failed"_s << u"fail_reason"_s << QString();
        QTest::newRow("failed, a reason")
            << u"failed"_s << u"fail_reason"_s << u"the PDF is damaged \"p. 3\""_s;
        QTest::newRow("completed, no note") << u"completed"_s << u"note"_s << QString();
        QTest::newRow("completed, a note")
            << u"completed"_s << u"note"_s << u"no text found on page(s) 2\u20133\n\\"_s;
    }
    void jobRemarksOnTheWire() {
        QFETCH(QString, state);
        QFETCH(QString, key);
        QFETCH(QString, text);
        static int row = 0;
        const QString email = u"remark%1@example.org"_s.arg(++row);
        const QString token = m_svc->addUserAndLogin(email);
        const QString id = addFinishedJobs(*m_svc, email, 1).first();
        QCOMPARE(convertsOf(historyOf(*m_svc, token, {}, false)).size(), 1); // cached from here
        // The column named by the row's key; only the note changes a completed job.
        m_svc->store->query(u"UPDATE jobs SET state=?, %1=? WHERE id=?"_s.arg(key),
                            {state, text.isNull() ? u""_s : text, id});
        JobState::changed(m_svc->store->userByEmail(email)->id, id);
        const QJsonObject status = dataOf(m_svc->get(u"/api/v1/tollan/convert/"_s + id, token));
        QCOMPARE(status.value(u"status"_s).toInt(), state == u"failed"_s ? 2 : 1);
        QCOMPARE(status.contains(key), !text.isEmpty());
        QCOMPARE(status.value(key).toString(), text);
        QCOMPARE(convertsOf(historyOf(*m_svc, token, {}, false)).first().toObject(), status);
    }

    // The answers kept stay within their bound: an account let go is read again when next
    // asked for, with the changes made meanwhile.
    void historyWithinItsBound() {
        const std::size_t bound = std::size_t(3000) * 1024; // room for two of the three
        TestService svc(0, 1 << 20, {}, [&](Config &c) { c.historyCacheBytes = bound; });
        QStringList emails, tokens;
        QList<QStringList> ids;
        for (int i = 0; i < 3; ++i) {
            emails << QStringLiteral("bound%1@example.org").arg(i);
            tokens << svc.addUserAndLogin(emails[i]);
            ids << addFinishedJobs(svc, emails[i], 2000);
        }
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
        QVERIFY(svc.api->historyCounters().bytes <= bound);
        failJob(svc, emails[0], ids[0].first());
        listed(2);
        QCOMPARE(listed(0), 2);
        QVERIFY(svc.api->historyCounters().bytes <= bound);
    }

    // Answers stay whole while jobs change beside many readers.
    void historyUnderConcurrentChanges() {
        const QString email = u"busy@example.org"_s;
        const QString token = m_svc->addUserAndLogin(email);
        std::atomic<bool> done{false};
        std::atomic<int> bad{0};
        std::vector<std::thread> readers;
        for (int t = 0; t < 6; ++t)
            readers.emplace_back([&, t] {
                while (!done) {
                    const auto r = historyOf(*m_svc, token, t % 2 ? "gzip" : "", true);
                    if (!r || r->status != 200 || !dataOf(r).contains(u"converts"_s))
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
            QCOMPARE(converts[ids.size() - 1 - i].toObject().value(u"id"_s).toString(), ids[i]);
        QCOMPARE(converts.last().toObject().value(u"status"_s).toInt(), 2);
    }
};

QTEST_GUILESS_MAIN(TestApi)
#include "tst_api.moc"
