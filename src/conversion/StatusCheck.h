#pragma once

#include "service/WireRecords.h"

#include <QString>

#include <QCoroTask>

namespace quorvel {

// Asks the service once for a job's current record. Throws "Status check failed" with
// the status as code for any answer but 200 (404: the service does not know the job).
class StatusCheck {
public:
    static QCoro::Task<ConversionTask> check(QString jobId);
};

} // namespace quorvel
