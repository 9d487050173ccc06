#pragma once

#include "service/WireRecords.h"

#include <QString>

#include <QCoroTask>

namespace quorvel {

// Fetches one job's result by its id and saves it under a safe name derived from the
// job. The file appears whole or not at all.
class Downloader {
public:
    // Saves into `directory` (the temporary directory when empty); the saved file's path.
    static QCoro::Task<QString> download(ConversionTask task, QString directory = {});
};

} // namespace quorvel
