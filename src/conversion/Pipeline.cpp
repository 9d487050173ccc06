// A conversion run: validation, uploads, one job per uploaded file, status polling.

#include "conversion/DirectTransfer.h"
#include "conversion/OperationCatalogue.h"
#include "conversion/PDFViewModel.h"
#include "service/HttpClient.h"
#include "service/Log.h"
#include "service/Request.h"

#include <QFileInfo>

namespace quorvel {

namespace {

QString lastPathComponent(const QUrl &url)
{
    return url.isLocalFile() ? QFileInfo(url.toLocalFile()).fileName() : url.fileName();
}

// What the user reads for a failure of any kind.
QString describe(const std::exception &error)
{
    if (const auto *service = dynamic_cast<const ServiceError *>(&error))
        return service->description();
    return QString::fromUtf8(error.what());
}

} // namespace

bool PDFViewModel::validateFileFormats(const QList<QUrl> &files, const QString &operationName)
{
    for (const QUrl &file : files) {
        const QString extension = OperationCatalogue::fileExtension(lastPathComponent(file));
        if (OperationCatalogue::isExtensionAccepted(operationName, extension))
            continue;
        const QString text = OperationCatalogue::validationAlertText(operationName, extension);
        Log::write(QStringLiteral("❌ 格式验证失败: ") + text);
        setProcessingState(ProcessingState::error(text));
        return false;
    }
    return true;
}

QCoro::Task<> PDFViewModel::processFiles(QString operationName)
{
    QPointer<PDFViewModel> self(this);
    Log::write(QStringLiteral("processFiles开始执行 - 操作: ") + operationName);
    if (m_selectedFiles.isEmpty()) {
        Log::write(QStringLiteral("processFiles - 没有选择文件"));
        co_return;
    }
    if (!validateFileFormats(m_selectedFiles, operationName))
        co_return;

    setProcessingState(ProcessingState::processing());
    setUploadProgress(0);
    setActualUploadProgress(0);

    Log::write(QStringLiteral("processFiles - 开始上传文件"));
    const QList<QUrl> files = m_selectedFiles;
    const qsizetype n = files.size();
    QList<FileUploadData> records;
    for (qsizetype i = 0; i < n; ++i) {
        Log::write(QStringLiteral("📤 上传文件: ") + lastPathComponent(files[i]));
        std::optional<FileUploadData> record;
        QString failure;
        try {
            record = co_await uploadFile(files[i]);
        } catch (const std::exception &error) {
            failure = describe(error);
        }
        if (!self)
            co_return;
        if (!record) {
            Log::write(QStringLiteral("processFiles - 捕获到错误: ") + failure);
            setProcessingState(ProcessingState::error(failure));
            setUploadProgress(0);
            setActualUploadProgress(0);
            if (m_progressTimer)
                m_progressTimer->stop();
            co_return;
        }
        Log::write(QStringLiteral("uploadResult: ") + record->render());
        Log::write(QStringLiteral("✅ 文件上传成功，页数: %1").arg(record->page_number));
        setUploadedFiles(m_uploadedFiles + QList<FileUploadData>{*record});
        const double progress = double(i + 1) / double(n);
        setActualUploadProgress(progress);
        if (i < m_selectedFiles.size() - 1)
            animateProgress(progress);
        records.append(*record);
    }

    setUploadedFiles(records);
    setActualUploadProgress(1);
    animateProgress(1);
    Log::write(QStringLiteral("processFiles - 文件上传完成，uploadedFiles: %1").arg(m_uploadedFiles.size()));

    if (!OperationCatalogue::needsConversion(operationName)) {
        Log::write(QStringLiteral("processFiles - 不需要转换，完成处理"));
        setProcessingState(ProcessingState::completed());
        co_return;
    }
    Log::write(QStringLiteral("processFiles - 准备开始转换: ") + operationName);
    if (operationName == QLatin1String("MD to PDF"))
        Log::write(QStringLiteral("processFiles - 特殊处理MD to PDF转换"));

    // Every uploaded file gets its own job; the run is complete only when all were
    // accepted, and a refusal ends it with the jobs accepted so far still followed.
    for (const FileUploadData &record : std::as_const(records)) {
        const bool accepted = co_await requestJob(operationName, record);
        if (!self || !accepted)
            co_return;
    }
    setProcessingState(ProcessingState::completed());
}

QCoro::Task<> PDFViewModel::startConversion(QString operationName, FileUploadData upload)
{
    QPointer<PDFViewModel> self(this);
    const bool accepted = co_await requestJob(operationName, upload);
    if (self && accepted)
        setProcessingState(ProcessingState::completed());
}

QCoro::Task<bool> PDFViewModel::requestJob(QString operationName, FileUploadData upload)
{
    QPointer<PDFViewModel> self(this);
    Log::write(QStringLiteral("startConversion - 开始，操作: ") + operationName);
    setProcessingState(ProcessingState::processing());
    Log::write(QStringLiteral("startConversion - 调用convertToPDF"));

    std::optional<ConversionTask> task;
    QString failure;
    try {
        task = co_await convertToPDF(operationName, upload);
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self)
        co_return false;
    if (!task) {
        Log::write(QStringLiteral("startConversion - 捕获到错误: ") + failure);
        setProcessingState(ProcessingState::error(failure));
        co_return false;
    }
    Log::write(QStringLiteral("startConversion - convertToPDF成功，获得任务ID: ") + task->id);
    m_tasks->insertFront(*task);
    // Runs on by itself until the job ends or this object goes away.
    pollTask(task->id);
    co_return true;
}

QCoro::Task<> PDFViewModel::pollTask(QString taskId)
{
    QPointer<PDFViewModel> self(this);
    ConversionTask lastSeen;
    lastSeen.id = taskId;
    const CancelTokenPtr lifetime = m_lifetime;
    Log::write(QStringLiteral("startConversion - 开始轮询任务状态"));
    for (;;) {
        const bool slept = co_await sleepFor(std::chrono::milliseconds(pollIntervalMs), lifetime);
        if (!slept || !self)
            co_return;
        Log::write(QStringLiteral("startConversion - 检查任务状态: ") + taskId);
        std::optional<ConversionTask> task;
        std::optional<ServiceError> unknown;
        try {
            task = co_await checkTaskStatus(taskId);
        } catch (const ServiceError &e) {
            if (e.family() == ServiceError::Family::Service && e.code() == 404)
                unknown = e;
        } catch (const std::exception &) {
        }
        if (!self || lifetime->isCancelled())
            co_return;
        if (!task) {
            Log::write(QStringLiteral("startConversion - 获取任务状态失败"));
            if (unknown) {
                // The service does not know the job: asking again cannot change that.
                setProcessingState(ProcessingState::error(unknown->description()));
                co_await fetchConversionHistory();
                if (self)
                    endPolling(taskId, lastSeen);
                co_return;
            }
            continue;
        }
        lastSeen = *task;
        Log::write(QStringLiteral("startConversion - 获取到更新的任务状态: %1").arg(task->status));
        const qsizetype row = m_tasks->indexOfId(task->id);
        if (row >= 0)
            m_tasks->replaceAt(row, *task);
        if (task->status != 1 && task->status != 2)
            continue;
        if (task->status == 1)
            Log::write(QStringLiteral("startConversion - 任务已完成"));
        co_await fetchConversionHistory();
        if (self)
            endPolling(taskId, *task);
        co_return;
    }
}

QCoro::Task<ConversionTask> PDFViewModel::checkTaskStatus(QString taskId)
{
    // The id is one path segment whatever it holds, so it cannot reach another endpoint.
    std::optional<Request> request = createRequest(
        QStringLiteral("/v1/tollan/convert/") + encodeIdForPath(taskId), QByteArrayLiteral("GET"));
    if (!request)
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    HttpResponse response;
    if (isDotSegment(taskId)) {
        // The shared session would resolve the dots: this one request goes direct.
        request->target = serviceTarget(QStringLiteral("/v1/tollan/convert/") + encodeIdForPath(taskId));
        response = co_await sendDirect(*request);
    } else {
        response = co_await send(sharedSession(), *request);
    }
    if (!response.isHttp)
        throw ServiceError(QStringLiteral("Invalid response"), -1);
    if (response.status != 200)
        throw ServiceError(QStringLiteral("Status check failed"), response.status);
    co_return ConversionResponse::decode(response.body).data;
}

} // namespace quorvel
