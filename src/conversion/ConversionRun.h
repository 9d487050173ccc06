#pragma once

#include "conversion/ProcessingState.h"
#include "conversion/Uploader.h"
#include "service/WireRecords.h"

#include <QList>
#include <QUrl>

#include <QCoroTask>

#include <functional>

namespace quorvel {

// What a front end learns of a run and how it shows it; every hook may be left empty.
struct ConversionRunHooks {
    // False once whoever started the run is gone: the run ends at its next step.
    std::function<bool()> alive;
    std::function<void(const ProcessingState &)> stateChanged;
    // The uploads start: progress back to zero.
    std::function<void()> uploadsStarting;
    // The hooks for the upload of one file.
    std::function<UploadHooks()> uploadHooks;
    // File `index` of the run is up; `progress` is the share of files uploaded.
    std::function<void(const FileUploadData &, qsizetype index, double progress)> fileUploaded;
    // Every file is up: the run's records, in file order.
    std::function<void(const QList<FileUploadData> &)> uploadsDone;
    // An upload failed (the state is already the error): progress back to zero.
    std::function<void()> uploadFailed;
    // The service accepted a job; it is followed from here by whoever listens.
    std::function<void(const ConversionTask &)> jobAccepted;
};

// One conversion run: every file's format checked against the operation, the files
// uploaded one by one, then one job requested per uploaded file. Reports through its
// hooks and the log; never throws.
class ConversionRun {
public:
    explicit ConversionRun(ConversionRunHooks hooks)
        : m_hooks(std::move(hooks)) {}

    QCoro::Task<> process(QString operationName, QList<QUrl> files);
    // True when every file's extension suits the operation; else the error state.
    bool validate(const QList<QUrl> &files, const QString &operationName);
    // Requests one job; when it is accepted, hands it to jobAccepted.
    QCoro::Task<bool> requestJob(QString operationName, FileUploadData upload);

private:
    bool alive() const { return !m_hooks.alive || m_hooks.alive(); }
    void setState(const ProcessingState &state);

    ConversionRunHooks m_hooks;
};

} // namespace quorvel
