#pragma once

#include "history/HistoryParser.h"

#include <QCoroTask>

#include <functional>
#include <optional>

namespace quorvel {

// The request for the account's whole history and the reading of its answer. Never
// throws: a failed request is an outcome with an empty list and the error.
class HistoryFetch {
public:
    // `wanted` is asked once the answer is in: when it says no (whoever asked is gone),
    // the answer is left unread and nothing comes back.
    static QCoro::Task<std::optional<HistoryOutcome>> fetch(std::function<bool()> wanted = {});
};

} // namespace quorvel
