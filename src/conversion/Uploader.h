#pragma once

#include "service/Sleep.h"
#include "service/WireRecords.h"

#include <QUrl>

#include <QCoroTask>

#include <functional>

namespace quorvel {

// What a front end learns of one upload; every hook may be left empty.
struct UploadHooks {
    // The transfer is about to start: the file's size, and a token cancelled when the
    // transfer ends, however it ends (so a progress simulation stops with it).
    std::function<void(qint64 fileSize, CancelTokenPtr transferEnded)> transferStarting;
    // The transfer's answer arrived. False when whoever asked is gone: the upload ends.
    std::function<bool()> transferred;
};

// Sends one local file as a multipart form, streamed from disk, and reads the upload
// record from the answer. Nothing is sent unless the file can be read.
class Uploader {
public:
    static QCoro::Task<FileUploadData> upload(QUrl file, UploadHooks hooks = {});
};

} // namespace quorvel
