// The history parsing chain under arbitrary answers. The first byte picks the status
// (and whether the log listens); the rest is the body. Besides "no crash, no hang, no
// leak", these must hold for every input, or the target aborts:
//  - the quick UTF-8 check agrees with Qt's decoder;
//  - the outcome is the same whether or not the log listens (the parser may skip
//    forming texts, never decisions);
//  - a count in the confirming line is the number of jobs published;
//  - whatever the quick envelope reader accepts, the JSON document and the typed
//    decoding accept too, with the same values.

#include "history/EnvelopeReader.h"
#include "history/HistoryParser.h"
#include "service/JsonDecoder.h"
#include "service/Log.h"

#include <QRegularExpression>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace quorvel;

namespace {

void fail(const char *what) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

bool generatedId(const QString &id) {
    static const QRegularExpression uuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return uuid.match(id).hasMatch();
}

bool generatedDate(const QString &text) {
    static const QRegularExpression date(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} \\+0000$"));
    return date.match(text).hasMatch();
}

// Equal apart from what is generated afresh on each run (ids and dates by hand).
bool sameJobs(const QList<ConversionTask> &a, const QList<ConversionTask> &b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        ConversionTask x = a[i];
        ConversionTask y = b[i];
        if (x.id != y.id && generatedId(x.id) && generatedId(y.id))
            y.id = x.id;
        if (x.createAt != y.createAt && generatedDate(x.createAt) && generatedDate(y.createAt))
            y.createAt = x.createAt;
        if (!x.sameContent(y))
            return false;
    }
    return true;
}

void checkCount(const HistoryOutcome &outcome) {
    static const QRegularExpression count(QStringLiteral("共 (\\d+) 条"));
    const QRegularExpressionMatch m = count.match(outcome.lineAfterPublish);
    if (m.hasMatch() && m.captured(1).toLongLong() != outcome.tasks.size())
        fail("the confirming line's count differs from the published list");
}

void checkQuickReader(const QByteArray &body) {
    const std::optional<ConversionHistoryResponse> quick = readHistoryEnvelope(body);
    if (!quick)
        return;
    const std::optional<QJsonValue> value = json::tryParse(body);
    if (!value)
        fail("quick reader accepted what the JSON parser refuses");
    try {
        const ConversionHistoryResponse reference = ConversionHistoryResponse::decode(*value);
        if (quick->code != reference.code || quick->msg != reference.msg ||
            quick->data.converts.size() != reference.data.converts.size())
            fail("quick reader differs from the typed decoding");
        for (qsizetype i = 0; i < quick->data.converts.size(); ++i)
            if (!quick->data.converts[i].sameContent(reference.data.converts[i]))
                fail("quick reader decoded a job differently");
    } catch (const ServiceError &) {
        fail("quick reader accepted what the typed decoding refuses");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    static const int statuses[] = {200, 200, 200, 200, 200, 401, 500, 0};
    const int status = statuses[data[0] & 7];
    const bool isHttp = status != 0;
    const QByteArray body(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    if (isStrictUtf8(body) != Log::isValidUtf8(body))
        fail("UTF-8 check disagrees with Qt's decoder");

    if (isStrictUtf8(body))
        checkQuickReader(body);

    qsizetype lines = 0;
    Log::setSink([&lines](const QString &line) {
        if (line.isEmpty())
            fail("empty log line");
        ++lines;
    });
    const HistoryOutcome loud = interpretHistoryAnswer(isHttp, status, body);
    Log::setSink({});
    const HistoryOutcome silent = interpretHistoryAnswer(isHttp, status, body);

    if (lines == 0)
        fail("no line explains the outcome");
    if (!sameJobs(loud.tasks, silent.tasks) || loud.lineAfterPublish != silent.lineAfterPublish)
        fail("outcome depends on whether the log listens");
    checkCount(loud);
    if (status != 200 && !loud.tasks.isEmpty())
        fail("jobs published from an answer that is not 200");
    return 0;
}
