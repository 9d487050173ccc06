#include "service/WireRecords.h"

#include <QJsonDocument>
#include <QSet>
#include <QTest>

using namespace quorvel;
using Kind = ServiceError::DecodingKind;

namespace {

// Decodes and returns the error, or fails when decoding succeeded.
template <typename F> std::optional<ServiceError> decodingError(F &&decode) {
    try {
        decode();
    } catch (const ServiceError &e) {
        return e;
    }
    return std::nullopt;
}

} // namespace

class TestWireRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void envelopes_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("kind"); // -1: decodes
        QTest::addColumn<QString>("named");
        QTest::newRow("code value ignored")
            << QByteArray(R"({"code":7,"msg":"","data":{"token":"t","extra":1}})") << -1 << "";
        QTest::newRow("no msg") << QByteArray(R"({"code":0,"data":{"token":"t"}})")
                                << int(Kind::KeyNotFound) << "msg";
        QTest::newRow("no token") << QByteArray(R"({"code":0,"msg":"x","data":{}})")
                                  << int(Kind::KeyNotFound) << "token";
        QTest::newRow("token null") << QByteArray(R"({"code":0,"msg":"x","data":{"token":null}})")
                                    << int(Kind::ValueNotFound) << "String";
        QTest::newRow("token number") << QByteArray(R"({"code":0,"msg":"x","data":{"token":5}})")
                                      << int(Kind::TypeMismatch) << "String";
        QTest::newRow("code string") << QByteArray(R"({"code":"0","msg":"x","data":{"token":"t"}})")
                                     << int(Kind::TypeMismatch) << "Int";
        QTest::newRow("code fractional")
            << QByteArray(R"({"code":0.5,"msg":"x","data":{"token":"t"}})")
            << int(Kind::DataCorrupted) << "";
        QTest::newRow("data not object") << QByteArray(R"({"code":0,"msg":"x","data":"t"})")
                                         << int(Kind::TypeMismatch) << "Dictionary<String, Any>";
        QTest::newRow("not json") << QByteArray("<html>oops</html>") << int(Kind::DataCorrupted)
                                  << "";
        QTest::newRow("not utf-8")
            << QByteArray("{\"code\":0,\"msg\":\"\xff\",\"data\":{\"token\":\"t\"}}")
            << int(Kind::DataCorrupted) << "";
    }
    void envelopes() {
        QFETCH(QByteArray, body);
        QFETCH(int, kind);
        QFETCH(QString, named);
        const auto error = decodingError([&] { LoginResponse::decode(body); });
        if (kind < 0) {
            QVERIFY2(!error, error ? error->what() : "");
            QCOMPARE(LoginResponse::decode(body).data.token, QStringLiteral("t"));
            return;
        }
        QVERIFY(error);
        QCOMPARE(error->family(), ServiceError::Family::Decoding);
        QCOMPARE(int(error->decodingKind()), kind);
        QCOMPARE(error->typeOrKey(), named);
        QVERIFY(!error->debugDescription().isEmpty());
        QVERIFY(error->description().startsWith(QStringLiteral("The data couldn’t be read")));
    }

    void userInfo_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("named");
        const QByteArray good =
            R"({"email":"a@b.c","is_lifetimedeal_member":true,"lifetime_member_description":"d","page_balcance_description":"p","lft_daily_usage":3,"lft_daily_total":10})";
        QTest::newRow("complete") << good << -1 << "";
        QByteArray corrected = good;
        corrected.replace("page_balcance_description", "page_balance_description");
        QTest::newRow("corrected spelling is missing the real key")
            << corrected << int(Kind::KeyNotFound) << "page_balcance_description";
        QByteArray numericFlag = good;
        numericFlag.replace("true", "1");
        QTest::newRow("flag as number") << numericFlag << int(Kind::TypeMismatch) << "Bool";
    }
    void userInfo() {
        QFETCH(QByteArray, data);
        QFETCH(int, kind);
        QFETCH(QString, named);
        const QByteArray body = R"({"code":0,"msg":"","data":)" + data + "}";
        const auto error = decodingError([&] { UserInfoResponse::decode(body); });
        if (kind < 0) {
            QVERIFY(!error);
            const UserInfoData d = UserInfoResponse::decode(body).data;
            QCOMPARE(d.email, QStringLiteral("a@b.c"));
            QVERIFY(d.is_lifetimedeal_member);
            QCOMPARE(d.lft_daily_usage, 3);
            QCOMPARE(d.lft_daily_total, 10);
            QCOMPARE(UserInfoData::decode(d.toJson()), d);
            return;
        }
        QVERIFY(error);
        QCOMPARE(int(error->decodingKind()), kind);
        QCOMPARE(error->typeOrKey(), named);
    }

    void uploadAndBalance() {
        const auto up = FileUploadResponse::decode(QByteArray(
            R"({"code":0,"msg":"","data":{"file_name":"a.pdf","source_file_path":"/s/a","source_file_typ":"pdf","source_file_md5":"m","page_number":12,"status":1}})"));
        QCOMPARE(up.data.page_number, 12);
        QCOMPARE(up.data.source_file_md5, QStringLiteral("m"));
        QVERIFY(decodingError([] {
            FileUploadResponse::decode(
                QByteArray(R"({"code":0,"msg":"","data":{"file_name":"a.pdf"}})"));
        }));
        const auto balance = PageBalanceResponse::decode(QByteArray(
            R"({"code":0,"msg":"","data":{"total_pages":9007199254740993,"consumed_pages":-4}})"));
        // 64-bit integers survive beyond a double's exact range.
        QCOMPARE(balance.data.total_pages, Q_INT64_C(9007199254740993));
        QCOMPARE(balance.data.consumed_pages, -4);
    }

    void lenientTask_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QString>("errorKey");
        QTest::newRow("only id") << QByteArray(R"({"id":"t1"})") << true << "";
        QTest::newRow("nulls take defaults")
            << QByteArray(R"({"id":"t1","status":null,"file_name":null,"page_number":null})")
            << true << "";
        QTest::newRow("missing id") << QByteArray(R"({"status":1})") << false << "id";
        QTest::newRow("null id") << QByteArray(R"({"id":null})") << false << "String";
        QTest::newRow("numeric id") << QByteArray(R"({"id":12})") << false << "String";
        QTest::newRow("status as text")
            << QByteArray(R"({"id":"t1","status":"1"})") << false << "Int";
        QTest::newRow("first bad key wins")
            << QByteArray(R"({"id":"t1","page_number":"x","user_id":5})") << false << "String";
    }
    void lenientTask() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(QString, errorKey);
        const QJsonValue value = json::parse(json);
        const auto error = decodingError([&] { ConversionTask::decode(value); });
        QCOMPARE(!error, decodes);
        if (decodes) {
            const ConversionTask t = ConversionTask::decode(value);
            QCOMPARE(t.id, QStringLiteral("t1"));
            QCOMPARE(t.status, 0);
            QCOMPARE(t.pageNumber, 0);
            QCOMPARE(t.fileName, QString());
            QCOMPARE(t.createAt, QString());
        } else {
            QCOMPARE(error->typeOrKey(), errorKey);
        }
    }

    void oneBadJobFailsTheHistory() {
        const QByteArray body =
            R"({"code":0,"msg":"","data":{"converts":[{"id":"a"},{"id":"b","status":"2"}]}})";
        const auto error = decodingError([&] { ConversionHistoryResponse::decode(body); });
        QVERIFY(error);
        QCOMPARE(error->codingPath(), QStringLiteral("data.converts[1].status"));
    }

    void identityIsTheId() {
        ConversionTask a;
        a.id = QStringLiteral("same");
        a.status = 0;
        ConversionTask b = a;
        b.status = 1;
        b.fileName = QStringLiteral("other.pdf");
        QVERIFY(a == b);
        QVERIFY(!a.sameContent(b));
        QCOMPARE(qHash(a), qHash(b));
        QSet<ConversionTask> set{a, b};
        QCOMPARE(set.size(), 1);
        ConversionTask c = a;
        c.id = QStringLiteral("other");
        QVERIFY(!(a == c));
    }

    // Values from the service end up in log lines; placeholders in them stay text.
    void renderingsKeepPlaceholders() {
        ConversionTask t;
        t.id = QStringLiteral("id%1");
        t.fileName = QStringLiteral("a%5b%2.pdf");
        t.pageNumber = 7;
        t.status = 2;
        const QString r = t.render();
        QVERIFY2(r.contains(QStringLiteral("id: \"id%1\"")), qPrintable(r));
        QVERIFY2(r.contains(QStringLiteral("fileName: \"a%5b%2.pdf\"")), qPrintable(r));
        QVERIFY2(r.contains(QStringLiteral("pageNumber: 7")), qPrintable(r));
        QVERIFY2(r.contains(QStringLiteral("status: 2")), qPrintable(r));
        FileUploadData u;
        u.file_name = QStringLiteral("%5%6");
        u.page_number = 3;
        QVERIFY(u.render().contains(QStringLiteral("file_name: \"%5%6\"")));
        QVERIFY(u.render().contains(QStringLiteral("page_number: 3")));
        UserInfoResponse e;
        e.msg = QStringLiteral("%2 %4");
        e.code = 9;
        QVERIFY(e.render(QStringLiteral("UserInfoResponse"))
                    .startsWith(QStringLiteral(
                        "UserInfoResponse(code: 9, msg: \"%2 %4\", data: UserInfoData(")));
        const ServiceError err(QStringLiteral("Retry conversion failed with status 500: %1 %2"),
                               500);
        QCOMPARE(err.description(),
                 QStringLiteral("The operation couldn’t be completed. (Retry conversion failed "
                                "with status 500: %1 %2 error 500.)"));
    }
};

QTEST_GUILESS_MAIN(TestWireRecords)
#include "tst_wirerecords.moc"
