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

// What a result does to a file that already has its name.
enum class ExistingFile {
    // Replaced: a script that downloads into its own folder expects the same name each time.
    Replace,
    // Kept: the result takes the first free name of "report.pdf", "report (2).pdf", ...
    KeepBoth,
};

// Fetches one job's result by its id and saves it under a safe name derived from the
// job. The file appears whole or not at all.
class Downloader {
public:
    // Saves into `directory` (the temporary directory when empty); the saved file's path.
    static QCoro::Task<QString> download(ConversionTask task, QString directory = {},
                                         DownloadLimits limits = {},
                                         ExistingFile existing = ExistingFile::Replace);
    // The desktop's download folder (XDG_DOWNLOAD_DIR in user-dirs.dirs, else ~/Downloads),
    // made when a fresh account has none yet.
    static QString downloadFolder();
};

} // namespace quorvel
