#include "AssistantPage.h"

#include "FileColors.h"
#include "history/TaskLook.h"
#include "service/LogCategories.h"
#include "service/Operations.h"
#include "service/ServiceError.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace quorvel {

AssistantPage::AssistantPage(QObject *parent)
    : QObject(parent)
    , m_viewModel(new PDFViewModel(this))
    , m_files(new PDFFileList(this))
    , m_chat(new ChatModel(this)) {
    m_files->setSource(m_viewModel->conversionTaskModel());
    connect(m_files, &PDFFileList::selectionChanged, this, &AssistantPage::historyTasksChanged);
}

void AssistantPage::setAuthManager(AuthManager *manager) {
    if (manager == m_authManager)
        return;
    if (m_authManager)
        disconnect(m_authManager, nullptr, this, nullptr);
    m_authManager = manager;
    m_viewModel->setAuthManager(manager);
    if (m_authManager)
        connect(m_authManager, &AuthManager::isLoggedInChanged, this,
                &AssistantPage::accountChanged);
    Q_EMIT authManagerChanged();
}

void AssistantPage::accountChanged() {
    if (!m_appeared || !m_authManager)
        return;
    if (m_authManager->isLoggedIn()) {
        m_viewModel->fetchConversionHistory();
        return;
    }
    m_viewModel->publishTasks({});
    m_files->clearSelection();
    closeFeature();
}

QVariantList AssistantPage::features() {
    QVariantList out;
    for (FeatureType::Case feature : FeatureType::allCases())
        out.append(FeatureType::describe(feature));
    return out;
}

QVariantMap AssistantPage::selectedFeatureInfo() const {
    if (m_selectedFeature == kNoFeature)
        return {};
    return FeatureType::describe(FeatureType::Case(m_selectedFeature));
}

QVariantList AssistantPage::historyTasks() const {
    QVariantList out;
    for (const ConversionTask &t : m_files->selectedFiles()) {
        const auto colors = FileColors::pair(t.fileName);
        out.append(QVariantMap{{QStringLiteral("taskId"), t.id},
                               {QStringLiteral("fileName"), t.fileName},
                               {QStringLiteral("status"), t.status},
                               {QStringLiteral("typeIcon"), TaskLook::typeIcon(t.typ)},
                               {QStringLiteral("firstColor"), colors.first},
                               {QStringLiteral("secondColor"), colors.second}});
    }
    return out;
}

void AssistantPage::appear() {
    if (m_appeared)
        return;
    m_appeared = true;
    if (m_authManager && m_authManager->isLoggedIn())
        m_viewModel->fetchConversionHistory();
}

void AssistantPage::refresh() {
    m_viewModel->fetchConversionHistory();
}

bool AssistantPage::tapFeature(int feature) {
    if (!FeatureType::allCases().contains(FeatureType::Case(feature)))
        return false;
    if (m_files->selectedCount() == 0 && feature != FeatureType::Processing) {
        Log::write(lcUi(), QStringLiteral("请先选择PDF文件"));
        return false;
    }
    if (m_selectedFeature != feature) {
        m_selectedFeature = feature;
        Q_EMIT selectedFeatureChanged();
    }
    return true;
}

void AssistantPage::closeFeature() {
    if (m_selectedFeature == kNoFeature)
        return;
    m_selectedFeature = kNoFeature;
    Q_EMIT selectedFeatureChanged();
}

void AssistantPage::startChat() {
    if (m_showChat)
        return;
    m_showChat = true;
    Q_EMIT showChatChanged();
}

void AssistantPage::leaveChat() {
    if (m_showChat) {
        m_showChat = false;
        Q_EMIT showChatChanged();
    }
    closeFeature();
}

void AssistantPage::setSelectedPDF(const QUrl &file) {
    if (file == m_selectedPDF)
        return;
    m_selectedPDF = file;
    Q_EMIT selectedPDFChanged();
}

void AssistantPage::setPreparingPreview(bool preparing) {
    if (preparing == m_preparingPreview)
        return;
    m_preparingPreview = preparing;
    Q_EMIT isPreparingPreviewChanged();
}

void AssistantPage::setPreviewMessage(const QString &text) {
    if (text == m_previewMessage)
        return;
    m_previewMessage = text;
    Q_EMIT previewMessageChanged();
}

QUrl AssistantPage::documentsFileURL(const ConversionTask &task) {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        return {};
    return QUrl::fromLocalFile(QDir(documents).filePath(task.fileName));
}

bool AssistantPage::resultIsPdf(const ConversionTask &task) {
    return Operations::resultExtension(task.typ) == u".pdf" ||
           task.resultFileTyp.compare(u"pdf", Qt::CaseInsensitive) == 0;
}

void AssistantPage::preview(const QString &taskId) {
    if (const auto task = m_files->task(taskId))
        previewTask(*task);
}

QCoro::Task<> AssistantPage::previewTask(ConversionTask task) {
    QPointer<AssistantPage> self(this);
    setPreviewMessage({});
    QString failure;
    if (resultIsPdf(task)) {
        QString path = m_downloaded.value(task.id);
        if (path.isEmpty() || !QFileInfo::exists(path)) {
            setPreparingPreview(true);
            try {
                // A preview is for reading, not keeping: it goes to the temporary folder
                // (numbered, so two jobs of one name never show each other's result).
                path = co_await m_viewModel->downloadFile(task, QDir::tempPath());
            } catch (const ServiceError &error) {
                path.clear();
                failure = error.description();
            } catch (const std::exception &error) {
                path.clear();
                failure = QString::fromLocal8Bit(error.what());
            }
            if (!self)
                co_return;
            setPreparingPreview(false);
        }
        if (!path.isEmpty()) {
            m_downloaded.insert(task.id, path);
            setSelectedPDF(QUrl::fromLocalFile(path));
            Q_EMIT previewRequested(m_selectedPDF);
            co_return;
        }
    }
    const QUrl local = documentsFileURL(task);
    setSelectedPDF(local);
    if (!local.isEmpty() && QFileInfo(local.toLocalFile()).isFile()) {
        Q_EMIT previewRequested(local);
        co_return;
    }
    setPreviewMessage(failure.isEmpty() ? QStringLiteral("“%1”不在这台电脑上。").arg(task.fileName)
                                        : QStringLiteral("Download failed: ") + failure);
}

} // namespace quorvel
