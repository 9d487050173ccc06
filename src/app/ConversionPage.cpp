#include "ConversionPage.h"

#include "conversion/OperationCatalogue.h"
#include "conversion/ResultName.h"
#include "service/JobStatus.h"
#include "service/ServiceError.h"

#include <QFileInfo>

#include <QVariantMap>
#include <algorithm>

#include <cmath>

namespace quorvel {

ConversionPage::ConversionPage(QObject *parent)
    : QObject(parent) {}

void ConversionPage::setViewModel(PDFViewModel *viewModel) {
    if (viewModel == m_viewModel)
        return;
    if (m_viewModel)
        disconnect(m_viewModel, nullptr, this, nullptr);
    m_viewModel = viewModel;
    if (viewModel) {
        connect(viewModel, &PDFViewModel::processingStateChanged, this,
                &ConversionPage::processingStateChanged);
        connect(viewModel, &PDFViewModel::uploadProgressChanged, this,
                &ConversionPage::progressChanged);
        connect(viewModel, &PDFViewModel::selectedFilesChanged, this,
                &ConversionPage::selectedRowsChanged);
        connect(viewModel, &PDFViewModel::uploadedFilesChanged, this,
                &ConversionPage::uploadedRowsChanged);
        connect(viewModel, &PDFViewModel::processedFilesChanged, this,
                &ConversionPage::processedRowsChanged);
        connect(viewModel, &PDFViewModel::runJobFinished, this, &ConversionPage::jobEnded);
    }
    Q_EMIT viewModelChanged();
    Q_EMIT processingStateChanged();
    Q_EMIT progressChanged();
    Q_EMIT selectedRowsChanged();
    Q_EMIT uploadedRowsChanged();
    Q_EMIT processedRowsChanged();
}

void ConversionPage::setSelectedOperation(const QString &name) {
    if (name == m_selectedOperation)
        return;
    m_selectedOperation = name;
    Q_EMIT selectedOperationChanged();
}

QStringList ConversionPage::nameFilters() const {
    return OperationCatalogue::fileDialogNameFilters(m_selectedOperation);
}

QVariantList ConversionPage::toolGroups() {
    QVariantList groups;
    for (const auto &group : OperationCatalogue::toolGroups()) {
        QVariantList tools;
        for (const auto &row : group.rows)
            tools.append(QVariantMap{{QStringLiteral("operationName"), row.operationName},
                                     {QStringLiteral("icon"), row.icon}});
        groups.append(
            QVariantMap{{QStringLiteral("title"), group.title}, {QStringLiteral("tools"), tools}});
    }
    return groups;
}

bool ConversionPage::isProcessing() const {
    return m_viewModel &&
           m_viewModel->processingState().kind() == ProcessingState::Kind::Processing;
}

bool ConversionPage::showWarmReminder() const {
    return m_viewModel && m_viewModel->processingState().isError();
}

QString ConversionPage::warmReminderText() const {
    return showWarmReminder() ? m_viewModel->processingState().message() : QString();
}

double ConversionPage::progress() const {
    return m_viewModel ? m_viewModel->uploadProgress() : 0;
}

QString ConversionPage::progressText() const {
    return QString::number(qint64(std::trunc(progress() * 100))) + QLatin1Char('%');
}

QVariantList ConversionPage::fileRows(const QList<QUrl> &files) {
    QVariantList rows;
    for (const QUrl &url : files)
        rows.append(QVariantMap{{QStringLiteral("name"), url.fileName()},
                                {QStringLiteral("url"), url},
                                {QStringLiteral("isPdf"), isPdf(url)}});
    return rows;
}

QVariantList ConversionPage::selectedRows() const {
    return m_viewModel ? fileRows(m_viewModel->selectedFiles()) : QVariantList{};
}

QVariantList ConversionPage::processedRows() const {
    QVariantList rows;
    for (const ProcessedJob &job : m_processed) {
        const bool saved = !job.file.isEmpty();
        const QString name =
            saved ? job.file.fileName() : ResultName::safe(ResultName::forTask(job.task));
        rows.append(QVariantMap{
            {QStringLiteral("name"), name},
            {QStringLiteral("url"), job.file},
            {QStringLiteral("isPdf"), name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)},
            {QStringLiteral("downloaded"), saved},
            {QStringLiteral("downloading"), job.downloading},
            {QStringLiteral("error"), job.error}});
    }
    return rows;
}

void ConversionPage::jobEnded(const ConversionTask &task) {
    if (!hasStatus(task.status, JobStatus::Completed))
        return;
    for (const ProcessedJob &job : std::as_const(m_processed))
        if (job.task.id == task.id)
            return;
    m_processed.append({task, {}, false, {}});
    Q_EMIT processedRowsChanged();
}

void ConversionPage::downloadProcessed(int row) {
    if (m_viewModel && row >= 0 && row < m_processed.size() && !m_processed[row].downloading)
        runDownload(m_processed[row].task.id);
}

QCoro::Task<> ConversionPage::runDownload(QString jobId) {
    QPointer<ConversionPage> self(this);
    const auto find = [this, &jobId]() -> ProcessedJob * {
        for (ProcessedJob &job : m_processed)
            if (job.task.id == jobId)
                return &job;
        return nullptr;
    };
    ProcessedJob *job = find();
    job->downloading = true;
    job->error.clear();
    Q_EMIT processedRowsChanged();
    QString path;
    QString error;
    try {
        path = co_await m_viewModel->downloadFile(job->task);
    } catch (const ServiceError &e) {
        error = tr("Download failed: ") + e.description();
    }
    // The rows may have been cleared (Reselect) while the result arrived.
    if (!self || !(job = find()))
        co_return;
    job->downloading = false;
    job->error = error;
    if (error.isEmpty()) {
        job->file = QUrl::fromLocalFile(path);
        if (m_viewModel)
            m_viewModel->addProcessedFile(job->file);
        Q_EMIT processedSaved(path);
    }
    Q_EMIT processedRowsChanged();
}

QVariantList ConversionPage::uploadedRows() const {
    QVariantList rows;
    if (!m_viewModel)
        return rows;
    for (const FileUploadData &f : m_viewModel->uploadedFiles()) {
        const bool ok = f.status == 0;
        rows.append(
            QVariantMap{{QStringLiteral("fileName"), f.file_name},
                        {QStringLiteral("pagesText"), tr("%n pages", nullptr, int(f.page_number))},
                        {QStringLiteral("succeeded"), ok},
                        {QStringLiteral("statusText"), ok ? tr("Success") : tr("Failed")}});
    }
    return rows;
}

void ConversionPage::selectTool(const QString &operationName) {
    setSelectedOperation(operationName);
    upload();
}

void ConversionPage::upload() {
    // A new run: the processed rows are those of the run.
    if (!m_processed.isEmpty()) {
        m_processed.clear();
        Q_EMIT processedRowsChanged();
    }
    if (m_viewModel)
        m_viewModel->processFiles(m_selectedOperation);
}

void ConversionPage::addPickedFiles(const QList<QUrl> &files) {
    setDropRefusal({});
    if (m_viewModel)
        m_viewModel->addPickedFiles(files);
}

void ConversionPage::pickerFailed(const QString &description) {
    if (m_viewModel)
        m_viewModel->pickerFailed(description);
}

bool ConversionPage::canDrop(const QList<QUrl> &urls) const {
    return m_viewModel && std::any_of(urls.cbegin(), urls.cend(),
                                      [](const QUrl &url) { return url.isLocalFile(); });
}

namespace {

bool someToolTakes(const QString &file) {
    const QStringList operations = OperationCatalogue::offeredOperations();
    return std::any_of(operations.cbegin(), operations.cend(), [&file](const QString &name) {
        return OperationCatalogue::isContentTypeAllowed(name, file);
    });
}

QString refusalText(const QList<QUrl> &refused) {
    if (refused.size() > 1) {
        QStringList names;
        for (const QUrl &url : refused)
            names << url.fileName();
        return ConversionPage::tr("%1 files were not added: no tool here takes their types (%2).")
            .arg(QString::number(refused.size()), names.join(QStringLiteral(", ")));
    }
    const QUrl &url = refused.constFirst();
    if (!url.isLocalFile())
        return ConversionPage::tr("“%1” was not added: only files on this computer can be "
                                  "converted.")
            .arg(url.toDisplayString());
    const QString extension = OperationCatalogue::fileExtension(url.toLocalFile());
    const QString kind = extension.isEmpty()
                             ? ConversionPage::tr("files without an extension")
                             : ConversionPage::tr("%1 files").arg(extension.toUpper());
    return ConversionPage::tr("“%1” was not added: no tool here takes %2.")
        .arg(url.fileName(), kind);
}

} // namespace

bool ConversionPage::drop(const QList<QUrl> &urls) {
    if (!m_viewModel)
        return false;
    QList<QUrl> taken;
    QList<QUrl> refused;
    for (const QUrl &url : urls)
        (url.isLocalFile() && someToolTakes(url.toLocalFile()) ? taken : refused).append(url);
    setDropRefusal(refused.isEmpty() ? QString() : refusalText(refused));
    m_viewModel->addPickedFiles(taken);
    return !taken.isEmpty();
}

void ConversionPage::setDropRefusal(const QString &text) {
    if (text == m_dropRefusal)
        return;
    m_dropRefusal = text;
    Q_EMIT dropRefusalChanged();
}

void ConversionPage::removeSelectedFile(int index) {
    if (m_viewModel)
        m_viewModel->removeSelectedFile(index);
}

void ConversionPage::reselect() {
    setDropRefusal({});
    m_processed.clear();
    if (m_viewModel)
        m_viewModel->reset();
}

bool ConversionPage::isPdf(const QUrl &url) {
    return url.fileName().endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
}

} // namespace quorvel
