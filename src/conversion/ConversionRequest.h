#pragma once

#include "service/WireRecords.h"

#include <QString>

#include <QCoroTask>

namespace quorvel {

// Asks the service to start one conversion job for an uploaded file and reads the job
// from the answer, rebuilding it from what the client knows when it does not decode.
class ConversionRequest {
public:
    static QCoro::Task<ConversionTask> send(QString operationName, FileUploadData upload);
};

} // namespace quorvel
