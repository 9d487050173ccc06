// The streaming multipart reader: the client's exact body, every way it can be
// cut into network reads, and the bodies it must refuse.
#include "Multipart.h"
#include "ServerTestSupport.h"

#include <QTest>

using namespace quorvel::server;
using namespace quorvel::test;
using namespace Qt::StringLiterals;

namespace {

struct Collected {
    std::vector<MultipartReader::Part> parts;
    std::vector<std::string> bodies;
    int ended = 0;
};

MultipartReader::Callbacks collect(Collected &c) {
    return {[&c](const MultipartReader::Part &p) {
                c.parts.push_back(p);
                c.bodies.emplace_back();
                return true;
            },
            [&c](const char *d, std::size_t n) {
                c.bodies.back().append(d, n);
                return true;
            },
            [&c] {
                ++c.ended;
                return true;
            }};
}

} // namespace

class TestMultipart : public QObject {
    Q_OBJECT
private slots:
    // The header fields read on their own: the boundary of a Content-Type, and a file name
    // with the escapes the client writes.
    void headerFields_data() {
        QTest::addColumn<bool>("filename"); // false: a Content-Type
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("read");
        QTest::newRow("client")
            << false << u"multipart/form-data; boundary=0A1B2C3D-AAAA-BBBB-CCCC-DDDDEEEEFFFF"_s
            << u"0A1B2C3D-AAAA-BBBB-CCCC-DDDDEEEEFFFF"_s;
        QTest::newRow("quoted") << false << u"multipart/form-data; boundary=\"a b\""_s << u"a b"_s;
        QTest::newRow("upper-case type")
            << false << u"Multipart/Form-Data; charset=utf-8; BOUNDARY=xyz"_s << u"xyz"_s;
        QTest::newRow("not multipart") << false << u"application/json; boundary=xyz"_s << u""_s;
        QTest::newRow("no boundary") << false << u"multipart/form-data"_s << u""_s;
        QTest::newRow("quote") << true << u"a%22b.pdf"_s << u"a\"b.pdf"_s;
        QTest::newRow("cr lf, either case") << true << u"x%0D%0ay%0d%0A.md"_s << u"x\r\ny\r\n.md"_s;
        QTest::newRow("other escapes stay") << true << u"100%25 %41.pdf"_s << u"100%25 %41.pdf"_s;
        QTest::newRow("percent at the end") << true << u"a%2"_s << u"a%2"_s;
    }
    void headerFields() {
        QFETCH(bool, filename);
        QFETCH(QString, raw);
        const std::string in = raw.toStdString();
        QTEST(
            QString::fromStdString(filename ? decodeFilenameParameter(in) : multipartBoundary(in)),
            "read");
    }

    // The client's body must come out byte for byte whatever the read sizes,
    // including reads that split the delimiter itself.
    void clientBodyAnyChunking_data() {
        QTest::addColumn<int>("chunk");
        for (int c : {1, 2, 3, 5, 7, 16, 37, 38, 39, 64, 1000, 1 << 20})
            QTest::newRow(qPrintable(QString::number(c))) << c;
    }
    void clientBodyAnyChunking() {
        QFETCH(int, chunk);
        QByteArray content;
        for (int i = 0; i < 3000; ++i)
            content += char(i * 7 % 256);
        // Bytes that look like the start of a delimiter inside the content.
        const QString boundary = newBoundary();
        content += "\r\n--" + boundary.left(10).toUtf8() + "\r\n--";
        const QByteArray body = clientMultipartBody(boundary, u"a\"b.pdf"_s, content);
        Collected c;
        MultipartReader r(boundary.toStdString(), collect(c));
        for (qsizetype off = 0; off < body.size(); off += chunk)
            QVERIFY(r.feed(body.constData() + off,
                           size_t(std::min<qsizetype>(chunk, body.size() - off))));
        QVERIFY(r.complete());
        QCOMPARE(c.parts.size(), size_t(1));
        QCOMPARE(c.parts[0].name, std::string("file"));
        QCOMPARE(c.parts[0].fileName, std::string("a\"b.pdf"));
        QCOMPARE(c.parts[0].contentType, std::string("application/pdf"));
        QCOMPARE(c.ended, 1);
        QCOMPARE(QByteArray::fromStdString(c.bodies[0]), content);
    }

    void severalPartsAndNoLeadingNewline() {
        const QByteArray body =
            "--XX\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n"
            "--XX\r\nContent-Disposition: form-data; name=\"file\"; filename=\"\"\r\n\r\n"
            "\r\n--XX--\r\nepilogue";
        Collected c;
        MultipartReader r("XX", collect(c));
        QVERIFY(r.feed(body.constData(), size_t(body.size())));
        QVERIFY(r.complete());
        QCOMPARE(c.parts.size(), size_t(2));
        QCOMPARE(c.bodies[0], std::string("hello"));
        QVERIFY(c.parts[1].hasFileName);
        QCOMPARE(c.bodies[1], std::string());
        QVERIFY(!c.parts[0].hasFileName);
    }

    void refusedBodies_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("feedFails"); // false: accepted so far but never complete
        const QByteArray good = clientMultipartBody(u"BND"_s, u"a.pdf"_s, "%PDF-1.4 data");
        QTest::newRow("truncated in the content") << good.left(good.size() - 20) << false;
        QTest::newRow("closing delimiter missing") << good.left(good.size() - 9) << false;
        QTest::newRow("only the preamble") << QByteArray("\r\n") << false;
        QTest::newRow("no disposition")
            << QByteArray("--BND\r\nContent-Type: text/plain\r\n\r\nx\r\n--BND--\r\n") << true;
        QTest::newRow("header without colon")
            << QByteArray("--BND\r\nContent-Disposition form-data\r\n\r\nx\r\n--BND--\r\n") << true;
        QTest::newRow("not form-data") << QByteArray("--BND\r\nContent-Disposition: attachment; "
                                                     "name=\"file\"\r\n\r\nx\r\n--BND--\r\n")
                                       << true;
        QTest::newRow("garbage after delimiter") << QByteArray("--BNDjunk\r\n\r\n") << true;
        QTest::newRow("endless headers")
            << QByteArray("--BND\r\nX: ") + QByteArray(20000, 'a') << true;
        QTest::newRow("no boundary in a long body") << QByteArray(70000, 'z') << true;
    }
    void refusedBodies() {
        QFETCH(QByteArray, body);
        QFETCH(bool, feedFails);
        Collected c;
        MultipartReader r("BND", collect(c));
        const bool fed = r.feed(body.constData(), size_t(body.size()));
        QCOMPARE(fed, !feedFails);
        QVERIFY(!r.complete());
        if (feedFails)
            QVERIFY(!r.error().empty());
    }

    void callbackRefusalStops() {
        const QByteArray body = clientMultipartBody(u"B"_s, u"a.pdf"_s, QByteArray(5000, 'x'));
        int seen = 0;
        MultipartReader r("B", {[](const MultipartReader::Part &) { return true; },
                                [&](const char *, std::size_t n) {
                                    seen += int(n);
                                    return seen < 100;
                                },
                                [] { return true; }});
        bool ok = true;
        for (qsizetype off = 0; off < body.size() && ok; off += 64)
            ok = r.feed(body.constData() + off, size_t(std::min<qsizetype>(64, body.size() - off)));
        QVERIFY(!ok);
        QVERIFY(!r.complete());
        QVERIFY(seen < 300);
    }
};

QTEST_GUILESS_MAIN(TestMultipart)
#include "tst_multipart.moc"
