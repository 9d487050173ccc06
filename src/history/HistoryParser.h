#pragma once

#include "service/ServiceError.h"
#include "service/WireRecords.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Turning the service's history answer into the job list, whatever shape the answer
// takes. Pure: no network, no event loop, no view model. The lines of each decision
// are written as they are taken; the line that confirms the result is handed back so
// that it is written only once the list is in place.
namespace quorvel {

struct HistoryOutcome {
    QList<ConversionTask> tasks;
    // Written after publishing; empty when the path has no such line.
    QString lineAfterPublish;
    // Set when the list is empty because the request failed or the sign-in was refused,
    // so a front end can tell that from an account without jobs.
    std::optional<ServiceError> failure = std::nullopt;
};

// Everything from the answer to the list: the status rules, then the parsing
// strategies in their fixed order. `isHttp` false means the answer carried no status.
HistoryOutcome interpretHistoryAnswer(bool isHttp, int status, const QByteArray &body);

// The end of a request that produced no usable answer: an empty list and the error.
HistoryOutcome historyRequestFailed(const ServiceError &error);

// A job built by hand from a loosely shaped object; every field that is missing or
// of another JSON type takes its default. Never fails.
ConversionTask extractTaskFields(const QJsonObject &object);

// One job from the first {"id": up to the last closing brace of the text, if that
// span parses as an object.
std::optional<ConversionTask> extractTaskFromFragment(const QString &text);

// Strict UTF-8: what Qt's decoder accepts, checked without decoding.
bool isStrictUtf8(const QByteArray &bytes);

// The current date as the hand-built job's creation time: "2025-01-31 08:15:00 +0000".
QString currentCreateAtText();

} // namespace quorvel
