#include "conversion/PDFViewModel.h"
#include "service/HttpClient.h"
#include "service/Log.h"
#include "service/Request.h"

#include <chrono>

namespace quorvel {

namespace {

ConvertRequest retryBody(const ConversionTask &task) {
    ConvertRequest body;
    body.source_file_md5 = task.sourceFileMd5;
    body.typ = task.typ.toUpper();
    body.source_file_path = task.sourceFilePath;
    body.source_file_typ = task.sourceFileTyp;
    body.page_number = task.pageNumber;
    body.status = 0;
    body.file_name = task.fileName + QStringLiteral("【retry】");
    return body;
}

// Sends the retry request and returns the job the service created.
QCoro::Task<ConversionTask> requestRetry(ConversionTask task) {
    std::optional<Request> request = createRequest(QStringLiteral("/v1/tollan/convert"), "POST");
    if (!request)
        throw ServiceError(QStringLiteral("Invalid URL"), -1);
    applyStoredToken(*request);
    const QByteArray body = retryBody(task).encode();
    Log::write(QStringLiteral("📦 重试请求数据: ") +
               Log::utf8OrFallback(body, QStringLiteral("无法编码")));
    request->body = body;
    request->setHeader("Content-Type", "application/json");

    const HttpResponse response = co_await send(sharedSession(), *request);
    if (!response.isHttp)
        throw ServiceError(QStringLiteral("Invalid response"), -1);
    const QString bodyText =
        Log::utf8OrFallback(response.body, QStringLiteral("无法解析的响应数据"));
    Log::write(QStringLiteral("🔄 重试转换响应状态码: %1").arg(response.status));
    Log::write(QStringLiteral("📥 重试转换响应内容: ") + bodyText);
    if (response.status != 200)
        throw ServiceError(QStringLiteral("Retry conversion failed with status %1: %2")
                               .arg(QString::number(response.status), bodyText),
                           response.status);
    co_return ConversionResponse::decode(response.body).data;
}

// Anything else that goes wrong is reported in the same form as the service's errors.
ServiceError unexpected(const std::exception &e) {
    return ServiceError(QString::fromUtf8(e.what()), -1);
}

// What an interrupted sleep reports: the task was cancelled.
ServiceError cancelled() {
    return ServiceError(QStringLiteral("CancellationError"), 1);
}

} // namespace

QCoro::Task<> PDFViewModel::retryConversion(ConversionTask task) {
    QPointer<PDFViewModel> self(this);
    Log::write(QStringLiteral("🔄 重试转换任务: ") + task.id);
    setProcessingState(ProcessingState::processing());

    std::optional<ConversionTask> created;
    std::optional<ServiceError> failure;
    try {
        created = co_await requestRetry(task);
    } catch (const ServiceError &e) {
        failure = e;
    } catch (const std::exception &e) {
        failure = unexpected(e); // never let a retry end without a state
    }
    if (failure) {
        const QString description = failure->description();
        Log::write(QStringLiteral("❌ 重试转换错误: ") + description);
        if (self)
            setProcessingState(ProcessingState::error(description));
        co_return;
    }
    if (!self)
        co_return;

    const qsizetype row = m_tasks->indexOfId(created->id);
    if (row >= 0)
        m_tasks->replaceAt(row, *created);
    else
        m_tasks->insertFront(*created);
    setProcessingState(ProcessingState::completed());
    // Observers redraw even when the list compares equal (jobs compare by id alone).
    m_tasks->notifyChanged();
    retryPolling(*created); // runs on by itself
}

void PDFViewModel::applyRetryStatus(const ConversionTask &task) {
    const qsizetype row = m_tasks->indexOfId(task.id);
    if (row < 0 || m_tasks->tasks().at(row).status == task.status)
        return;
    m_tasks->replaceAt(row, task);
    m_tasks->notifyChanged();
    Log::write(QStringLiteral("🔄 重试任务 - UI已更新"));
}

QCoro::Task<> PDFViewModel::retryPolling(ConversionTask task) {
    QPointer<PDFViewModel> self(this);
    const CancelTokenPtr lifetime = m_lifetime;
    const QString id = task.id;
    ConversionTask lastSeen = task;
    Log::write(QStringLiteral("🔄 重试任务 - 开始轮询任务状态"));
    for (int attempt = 0;;) {
        const bool slept =
            co_await sleepFor(std::chrono::milliseconds(retryPollIntervalMs), lifetime);
        if (!slept) {
            Log::write(QStringLiteral("🔄 重试任务 - 轮询期间出错: ") + cancelled().description());
            // The only thing that interrupts this sleep is the view model going away:
            // there is nothing left to poll for.
            if (!self || lifetime->isCancelled())
                co_return;
        } else if (self) {
            Log::write(QStringLiteral("🔄 重试任务 - 检查任务状态: %1, 第 %2 次尝试")
                           .arg(id, QString::number(attempt + 1)));
            std::optional<ConversionTask> current;
            std::optional<ServiceError> failure;
            try {
                current = co_await checkTaskStatus(id);
            } catch (const ServiceError &e) {
                failure = e;
            } catch (const std::exception &e) {
                failure = unexpected(e); // counted like any failed check
            }
            if (!self)
                co_return;
            if (failure) {
                Log::write(QStringLiteral("🔄 重试任务 - 获取任务状态失败: ") +
                           failure->description());
                if (failure->family() == ServiceError::Family::Service && failure->code() == 404) {
                    // The service does not know the job: asking again cannot change that.
                    setProcessingState(ProcessingState::error(failure->description()));
                    co_await fetchConversionHistory();
                    if (self)
                        endPolling(id, lastSeen);
                    co_return;
                }
            } else {
                Log::write(
                    QStringLiteral("🔄 重试任务 - 获取到更新的任务状态: %1").arg(current->status));
                applyRetryStatus(*current);
                lastSeen = *current;
                if (current->status == 1 || current->status == 2) {
                    Log::write(QStringLiteral("🔄 重试任务 - 任务已结束(完成或失败)，停止轮询"));
                    co_await fetchConversionHistory();
                    if (self)
                        endPolling(id, lastSeen);
                    co_return;
                }
            }
        }
        if (!self)
            co_return;
        ++attempt;
        if (attempt >= retryMaxAttempts) {
            Log::write(QStringLiteral("🔄 重试任务 - 达到最大尝试次数，停止轮询"));
            co_await fetchConversionHistory();
            if (self)
                endPolling(id, lastSeen);
            co_return;
        }
    }
}

} // namespace quorvel
