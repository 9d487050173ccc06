#pragma once

#include "conversion/Downloader.h"
#include "conversion/JobPoller.h"
#include "conversion/ProcessingState.h"
#include "conversion/Uploader.h"
#include "history/AutoRefresh.h"
#include "history/ConversionTaskModel.h"
#include "history/FilteredTaskModel.h"
#include "history/HistorySource.h"
#include "history/TaskFilter.h"
#include "service/AuthManager.h"
#include "service/JobStatus.h"
#include "service/ServiceError.h"
#include "service/Sleep.h"
#include "service/WireRecords.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QVariant>

#include <QCoroTask>

#include <optional>

namespace quorvel {

class ConversionRun;

// The state of the conversion page and of the history page, the one object the window
// binds to. It publishes state and forwards the work to the services beside it (upload,
// conversion request, job polling, download, history fetch, refresh loop, retry); only
// what exists for the window alone lives here: the eased progress animation, the upload
// progress simulation and the file intake. Published fields change on the main thread only.
class PDFViewModel : public HistorySource {
    Q_OBJECT
    Q_PROPERTY(QList<QUrl> selectedFiles READ selectedFiles NOTIFY selectedFilesChanged FINAL)
    Q_PROPERTY(QList<QUrl> processedFiles READ processedFiles NOTIFY processedFilesChanged FINAL)
    Q_PROPERTY(quorvel::ProcessingState processingState READ processingState NOTIFY
                   processingStateChanged FINAL)
    Q_PROPERTY(
        QString selectedOperation READ selectedOperation NOTIFY selectedOperationChanged FINAL)
    Q_PROPERTY(QString password READ password NOTIFY passwordChanged FINAL)
    Q_PROPERTY(double uploadProgress READ uploadProgress NOTIFY uploadProgressChanged FINAL)
    Q_PROPERTY(double actualUploadProgress READ actualUploadProgress NOTIFY
                   actualUploadProgressChanged FINAL)
    Q_PROPERTY(QVariantList uploadedFiles READ uploadedFilesValue NOTIFY uploadedFilesChanged FINAL)
    Q_PROPERTY(
        quorvel::ConversionTaskModel *conversionTasks READ conversionTaskModel CONSTANT FINAL)
    Q_PROPERTY(quorvel::FilteredTaskModel *filteredTasks READ filteredTaskModel CONSTANT FINAL)
    Q_PROPERTY(bool isLoadingHistory READ isLoadingHistory NOTIFY isLoadingHistoryChanged FINAL)
    Q_PROPERTY(
        QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged FINAL)
    Q_PROPERTY(quorvel::TaskFilter selectedFilter READ selectedFilter WRITE setSelectedFilter NOTIFY
                   selectedFilterChanged FINAL)
    Q_PROPERTY(QVariant selectedTask READ selectedTaskValue NOTIFY selectedTaskChanged FINAL)
    // The selected job as a one-row list, so the detail sheet reads it by role like a card.
    Q_PROPERTY(
        quorvel::ConversionTaskModel *selectedTaskModel READ selectedTaskModel CONSTANT FINAL)
    Q_PROPERTY(bool showTaskDetail READ showTaskDetail WRITE setShowTaskDetail NOTIFY
                   showTaskDetailChanged FINAL)
    Q_PROPERTY(bool autoRefreshEnabled READ autoRefreshEnabled WRITE setAutoRefreshEnabled NOTIFY
                   autoRefreshEnabledChanged FINAL)
    Q_PROPERTY(QString lastRefreshTime READ lastRefreshTime NOTIFY lastRefreshTimeChanged FINAL)
    // The account whose balance a completed job changes.
    Q_PROPERTY(quorvel::AuthManager *authManager READ authManager WRITE setAuthManager NOTIFY
                   authManagerChanged FINAL)

public:
    explicit PDFViewModel(QObject *parent = nullptr);
    ~PDFViewModel() override;

    // --- published fields ---
    const QList<QUrl> &selectedFiles() const { return m_selectedFiles; }
    const QList<QUrl> &processedFiles() const { return m_processedFiles; }
    ProcessingState processingState() const { return m_processingState; }
    QString selectedOperation() const { return m_selectedOperation; }
    QString password() const { return m_password; }
    double uploadProgress() const { return m_uploadProgress; }
    double actualUploadProgress() const { return m_actualUploadProgress; }
    const QList<FileUploadData> &uploadedFiles() const { return m_uploadedFiles; }
    QVariantList uploadedFilesValue() const;
    ConversionTaskModel *conversionTaskModel() const override { return m_tasks; }
    FilteredTaskModel *filteredTaskModel() const override { return m_filtered; }
    QList<ConversionTask> filteredTasks() const;
    bool isLoadingHistory() const override { return m_isLoadingHistory; }
    QString searchText() const override { return m_searchText; }
    void setSearchText(const QString &text);
    TaskFilter selectedFilter() const override { return m_selectedFilter; }
    void setSelectedFilter(TaskFilter filter) override;
    const std::optional<ConversionTask> &selectedTask() const { return m_selectedTask; }
    QVariant selectedTaskValue() const;
    ConversionTaskModel *selectedTaskModel() const { return m_selected; }
    bool showTaskDetail() const { return m_showTaskDetail; }
    void setShowTaskDetail(bool show);
    bool autoRefreshEnabled() const { return m_autoRefreshEnabled; }
    void setAutoRefreshEnabled(bool enabled);
    QString lastRefreshTime() const { return m_lastRefreshTime; }
    AuthManager *authManager() const { return m_authManager; }
    void setAuthManager(AuthManager *manager);
    bool isAutoRefreshRunning() const override { return m_autoRefresh->isRunning(); }

    // --- intervals and limits (defaults are the product's; tests shorten them) ---
    int animationTickMs = 25;
    int animationSteps = 20;
    int pollIntervalMs = kPollIntervalMs;
    int refreshIntervalMs = 30'000;
    int retryPollIntervalMs = kPollIntervalMs;
    int retryMaxAttempts = kRetryMaxAttempts;
    // Scales the upload simulation's waits (1 = real pace).
    double simulationWaitScale = 1.0;
    DownloadLimits downloadLimits;

    // --- file intake and progress ---
    Q_INVOKABLE void reset();
    Q_INVOKABLE void animateProgress(double target);
    // Appends a picker result unchanged, in its order (duplicates kept).
    Q_INVOKABLE void addPickedFiles(const QList<QUrl> &files);
    Q_INVOKABLE void pickerFailed(const QString &description);
    // "Remove file": drops the entry at that position only, so one of two equal picks stays.
    Q_INVOKABLE void removeSelectedFile(int index);
    // A result of this run saved on disk.
    void addProcessedFile(const QUrl &file);
    // A drop: accepted when at least one local file may be picked for the operation;
    // those files are appended in order, the others ignored.
    Q_INVOKABLE bool dropFiles(const QList<QUrl> &urls, const QString &operationName);
    Q_INVOKABLE bool canDrop(const QList<QUrl> &urls, const QString &operationName) const;
    // Steps of the upload simulation for a file of this size.
    static int simulationSteps(qint64 fileSize);

    // --- conversion pipeline ---
    QCoro::Task<> processFiles(QString operationName);
    QCoro::Task<> startConversion(QString operationName, FileUploadData upload);
    QCoro::Task<ConversionTask> checkTaskStatus(QString taskId);
    QCoro::Task<FileUploadData> uploadFile(QUrl file);
    QCoro::Task<ConversionTask> convertToPDF(QString operationName, FileUploadData upload);
    // Saves the job's result into `directory` (the desktop's download folder when empty),
    // numbered rather than over an existing file, and returns the saved file's path.
    QCoro::Task<QString> downloadFile(ConversionTask task, QString directory = {}) override;

    // --- history ---
    QCoro::Task<> fetchConversionHistory();
    QCoro::Task<> refreshHistory() override;
    void startAutoRefresh() override;
    void stopAutoRefresh() override;
    QCoro::Task<> retryConversion(ConversionTask task) override;
    Q_INVOKABLE void selectTask(const QVariant &task);

    // Setters used by the operations (main thread).
    void setProcessingState(const ProcessingState &state);
    void setUploadProgress(double value);
    void setActualUploadProgress(double value);
    void setUploadedFiles(QList<FileUploadData> files);
    void setIsLoadingHistory(bool loading);
    void setLastRefreshTime(const QString &text);
    void publishTasks(QList<ConversionTask> tasks);

Q_SIGNALS:
    void selectedFilesChanged();
    void processedFilesChanged();
    void processingStateChanged();
    void selectedOperationChanged();
    void passwordChanged();
    void uploadProgressChanged();
    void actualUploadProgressChanged();
    void uploadedFilesChanged();
    void selectedTaskChanged();
    void showTaskDetailChanged();
    void autoRefreshEnabledChanged();
    void lastRefreshTimeChanged();
    void authManagerChanged();
    // A started job's polling ended (completed, failed, or given up), for front ends
    // that wait for jobs; `task` is the last status seen.
    void taskPollingFinished(const quorvel::ConversionTask &task);
    // The same, with the id the polling asked about (an answer may carry another id).
    void jobPollingFinished(const QString &jobId, const quorvel::ConversionTask &task);
    // A job started from this window's conversion (not a retry from the history) ended;
    // `task` is the last status seen.
    void runJobFinished(const quorvel::ConversionTask &task);

private:
    void startAnimation(double target);
    // Ends early when `stop` is cancelled (its upload ended).
    QCoro::Task<> uploadProgressSimulation(qint64 fileSize, CancelTokenPtr stop = {});
    // The window's side of an upload: progress reset, simulation, milestone.
    UploadHooks uploadHooks();
    // The window's side of a run: state, progress, the list and the polling of each job.
    ConversionRun conversionRun();
    // Follows one job until its polling ends, then reloads the history and says so. A
    // retried job's entry is replaced only when its status changed.
    QCoro::Task<> followJob(QString jobId, PollRules rules, bool retried);
    void pollTask(const QString &taskId);
    // List replaced, loading flag cleared, then the line that confirms it (if any).
    void publishHistory(TaskListPlan plan, const QString &lineAfterPublish);
    // The list update of a retry's polling: a changed status replaces the entry.
    void applyRetryStatus(const ConversionTask &task);
    void endPolling(const QString &jobId, const ConversionTask &lastSeen);

    QList<QUrl> m_selectedFiles;
    QList<QUrl> m_processedFiles;
    ProcessingState m_processingState;
    QString m_selectedOperation;
    QString m_password;
    double m_uploadProgress = 0;
    double m_actualUploadProgress = 0;
    QList<FileUploadData> m_uploadedFiles;
    ConversionTaskModel *m_tasks = nullptr;
    FilteredTaskModel *m_filtered = nullptr;
    ConversionTaskModel *m_selected = nullptr;
    bool m_isLoadingHistory = false;
    QString m_searchText;
    TaskFilter m_selectedFilter = TaskFilter::All;
    std::optional<ConversionTask> m_selectedTask;
    bool m_showTaskDetail = false;
    QPointer<AuthManager> m_authManager;
    bool m_autoRefreshEnabled = true;
    QString m_lastRefreshTime;
    AutoRefresh *m_autoRefresh = nullptr;
    QTimer *m_progressTimer = nullptr;

    // Cancelled on destruction: every polling of this object wakes and ends.
    CancelTokenPtr m_lifetime = makeCancelToken();
    QRandomGenerator m_random{QRandomGenerator::securelySeeded()};
};

} // namespace quorvel
