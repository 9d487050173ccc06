#include "conversion/ConversionRun.h"

#include "conversion/ConversionRequest.h"
#include "conversion/OperationCatalogue.h"
#include "service/LogCategories.h"
#include "service/ServiceError.h"

#include <QFileInfo>

namespace quorvel {

namespace {

QString lastPathComponent(const QUrl &url) {
    return url.isLocalFile() ? QFileInfo(url.toLocalFile()).fileName() : url.fileName();
}

// What the user reads for a failure of any kind.
QString describe(const std::exception &error) {
    if (const auto *service = dynamic_cast<const ServiceError *>(&error))
        return service->description();
    return QString::fromUtf8(error.what());
}

} // namespace

void ConversionRun::setState(const ProcessingState &state) {
    if (m_hooks.stateChanged)
        m_hooks.stateChanged(state);
}

bool ConversionRun::validate(const QList<QUrl> &files, const QString &operationName) {
    for (const QUrl &file : files) {
        const QString extension = OperationCatalogue::fileExtension(lastPathComponent(file));
        if (OperationCatalogue::isExtensionAccepted(operationName, extension))
            continue;
        const QString text = OperationCatalogue::validationAlertText(operationName, extension);
        Log::write(lcConversion(), QStringLiteral("❌ 格式验证失败: ") + text);
        setState(ProcessingState::error(text));
        return false;
    }
    return true;
}

QCoro::Task<> ConversionRun::process(QString operationName, QList<QUrl> files) {
    Log::write(lcConversion(), QStringLiteral("processFiles开始执行 - 操作: ") + operationName);
    if (files.isEmpty()) {
        Log::write(lcConversion(), QStringLiteral("processFiles - 没有选择文件"));
        co_return;
    }
    if (!validate(files, operationName))
        co_return;

    setState(ProcessingState::processing());
    if (m_hooks.uploadsStarting)
        m_hooks.uploadsStarting();

    Log::write(lcConversion(), QStringLiteral("processFiles - 开始上传文件"));
    const qsizetype n = files.size();
    QList<FileUploadData> records;
    for (qsizetype i = 0; i < n; ++i) {
        Log::write(lcConversion(), QStringLiteral("📤 上传文件: ") + lastPathComponent(files[i]));
        std::optional<FileUploadData> record;
        QString failure;
        try {
            UploadHooks hooks = m_hooks.uploadHooks ? m_hooks.uploadHooks() : UploadHooks{};
            record = co_await Uploader::upload(files[i], std::move(hooks));
        } catch (const std::exception &error) {
            failure = describe(error);
        }
        if (!alive())
            co_return;
        if (!record) {
            Log::write(lcConversion(), QStringLiteral("processFiles - 捕获到错误: ") + failure);
            setState(ProcessingState::error(failure));
            if (m_hooks.uploadFailed)
                m_hooks.uploadFailed();
            co_return;
        }
        Log::write(lcConversion(), QStringLiteral("uploadResult: ") + record->render());
        Log::write(lcConversion(),
                   QStringLiteral("✅ 文件上传成功，页数: %1").arg(record->page_number));
        if (m_hooks.fileUploaded)
            m_hooks.fileUploaded(*record, i, double(i + 1) / double(n));
        records.append(*record);
    }

    if (m_hooks.uploadsDone)
        m_hooks.uploadsDone(records);
    Log::write(
        lcConversion(),
        QStringLiteral("processFiles - 文件上传完成，uploadedFiles: %1").arg(records.size()));

    if (!OperationCatalogue::needsConversion(operationName)) {
        Log::write(lcConversion(), QStringLiteral("processFiles - 不需要转换，完成处理"));
        setState(ProcessingState::completed());
        co_return;
    }
    Log::write(lcConversion(), QStringLiteral("processFiles - 准备开始转换: ") + operationName);
    if (OperationCatalogue::codeRule(operationName) == Operations::CodeRule::Fixed)
        Log::write(lcConversion(), QStringLiteral("processFiles - 特殊处理") + operationName +
                                       QStringLiteral("转换"));

    // Every uploaded file gets its own job; the run is complete only when all were
    // accepted, and a refusal ends it with the jobs accepted so far still followed.
    for (const FileUploadData &record : std::as_const(records)) {
        const bool accepted = co_await requestJob(operationName, record);
        if (!alive() || !accepted)
            co_return;
    }
    setState(ProcessingState::completed());
}

QCoro::Task<bool> ConversionRun::requestJob(QString operationName, FileUploadData upload) {
    Log::write(lcConversion(), QStringLiteral("startConversion - 开始，操作: ") + operationName);
    setState(ProcessingState::processing());
    Log::write(lcConversion(), QStringLiteral("startConversion - 调用convertToPDF"));

    std::optional<ConversionTask> task;
    QString failure;
    try {
        task = co_await ConversionRequest::send(operationName, upload);
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!alive())
        co_return false;
    if (!task) {
        Log::write(lcConversion(), QStringLiteral("startConversion - 捕获到错误: ") + failure);
        setState(ProcessingState::error(failure));
        co_return false;
    }
    Log::write(lcConversion(),
               QStringLiteral("startConversion - convertToPDF成功，获得任务ID: ") + task->id);
    if (m_hooks.jobAccepted)
        m_hooks.jobAccepted(*task);
    co_return true;
}

} // namespace quorvel
