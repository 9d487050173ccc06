#pragma once

#include "service/WireRecords.h"

#include <QCoroTask>

namespace quorvel {

// Submits a failed job again as a new conversion request. Every failure, whatever its
// kind, is logged and thrown as a ServiceError, so a retry always ends with a state.
class RetryRequest {
public:
    // The job's own fields, the type code upper-cased, the file name marked as a retry.
    static ConvertRequest body(const ConversionTask &task);
    // The job the service created for the retry.
    static QCoro::Task<ConversionTask> send(ConversionTask task);
};

} // namespace quorvel
