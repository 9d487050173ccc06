#pragma once

#include "service/WireRecords.h"

#include <QString>

#include <QCoroTask>

namespace quorvel {

// What a download may take. A result past either bound stops with an error and
// leaves no file: an answer without a length could otherwise fill the disk.
struct DownloadLimits {
    // Largest result saved, whether its length is announced or not.
    qint64 maxBytes = qint64(8) << 30;
    // Free space the target folder keeps; a download that would leave less stops.
    qint64 freeSpaceMargin = qint64(256) << 20;
    // Inactivity limit, and the least that must arrive within each such period: a result
    // that comes slower than about 1 KiB/s for a minute is not going to finish.
    int idleMs = 60'000;
    qint64 minBytesPerIdle = 64 << 10;
};

// Fetches one job's result by its id and saves it under a safe name derived from the
// job. The file appears whole or not at all.
class Downloader {
public:
    // Saves into `directory` (the temporary directory when empty); the saved file's path.
    static QCoro::Task<QString> download(ConversionTask task, QString directory = {},
                                         DownloadLimits limits = {});
};

} // namespace quorvel
