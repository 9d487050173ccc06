#pragma once

#include "ChatModel.h"
#include "FeatureType.h"
#include "PDFFileList.h"
#include "conversion/PDFViewModel.h"
#include "service/AuthManager.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <QCoroTask>

namespace quorvel {

// The state of the document-assistant page: its own view model (the account's jobs), the PDF
// list over it, the feature whose page is open, the chat and the file being previewed. The
// page's QML lays this out and forwards every action here.
class AssistantPage : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(quorvel::PDFViewModel *viewModel READ viewModel CONSTANT FINAL)
    Q_PROPERTY(quorvel::AuthManager *authManager READ authManager WRITE setAuthManager NOTIFY
                   authManagerChanged FINAL)
    Q_PROPERTY(quorvel::PDFFileList *files READ files CONSTANT FINAL)
    Q_PROPERTY(quorvel::ChatModel *chat READ chat CONSTANT FINAL)
    Q_PROPERTY(QVariantList features READ features CONSTANT FINAL)
    Q_PROPERTY(int selectedFeature READ selectedFeature NOTIFY selectedFeatureChanged FINAL)
    Q_PROPERTY(QVariantMap selectedFeatureInfo READ selectedFeatureInfo NOTIFY
                   selectedFeatureChanged FINAL)
    // The selected files as the feature page lists them: [{ taskId, fileName, status,
    // typeIcon, firstColor, secondColor }].
    Q_PROPERTY(QVariantList historyTasks READ historyTasks NOTIFY historyTasksChanged FINAL)
    Q_PROPERTY(bool showChat READ showChat NOTIFY showChatChanged FINAL)
    Q_PROPERTY(QUrl selectedPDF READ selectedPDF NOTIFY selectedPDFChanged FINAL)
    Q_PROPERTY(QString selectedPDFName READ selectedPDFName NOTIFY selectedPDFChanged FINAL)
    Q_PROPERTY(
        bool isPreparingPreview READ isPreparingPreview NOTIFY isPreparingPreviewChanged FINAL)
    Q_PROPERTY(QString previewMessage READ previewMessage WRITE setPreviewMessage NOTIFY
                   previewMessageChanged FINAL)

public:
    static constexpr int kNoFeature = -1;

    explicit AssistantPage(QObject *parent = nullptr);

    PDFViewModel *viewModel() const { return m_viewModel; }
    AuthManager *authManager() const { return m_authManager; }
    void setAuthManager(AuthManager *manager);
    PDFFileList *files() const { return m_files; }
    ChatModel *chat() const { return m_chat; }
    static QVariantList features();
    int selectedFeature() const { return m_selectedFeature; }
    QVariantMap selectedFeatureInfo() const;
    QVariantList historyTasks() const;
    bool showChat() const { return m_showChat; }
    QUrl selectedPDF() const { return m_selectedPDF; }
    QString selectedPDFName() const { return m_selectedPDF.fileName(); }
    bool isPreparingPreview() const { return m_preparingPreview; }
    QString previewMessage() const { return m_previewMessage; }
    void setPreviewMessage(const QString &text);

    // Where 'Documents/<file name>' of a job would be; empty without a documents folder.
    static QUrl documentsFileURL(const ConversionTask &task);
    // Whether the job's result is a PDF, which the reader can show once downloaded.
    static bool resultIsPdf(const ConversionTask &task);

    // First display: fetches the history when signed in (once per page).
    Q_INVOKABLE void appear();
    // The header's refresh button.
    Q_INVOKABLE void refresh();
    // A feature card: opens its page, unless no file is selected and the feature needs one.
    Q_INVOKABLE bool tapFeature(int feature);
    Q_INVOKABLE void closeFeature();
    Q_INVOKABLE void startChat();
    // The chat's back button: back to the home page, the conversation kept.
    Q_INVOKABLE void leaveChat();
    // A card's preview: the downloaded PDF result, else the file in Documents, else a message.
    Q_INVOKABLE void preview(const QString &taskId);
    QCoro::Task<> previewTask(ConversionTask task);

Q_SIGNALS:
    void authManagerChanged();
    void selectedFeatureChanged();
    void historyTasksChanged();
    void showChatChanged();
    void selectedPDFChanged();
    void isPreparingPreviewChanged();
    void previewMessageChanged();
    // A local file is ready to be shown in the reader.
    void previewRequested(const QUrl &file);

private:
    // Signing out empties the list, so no other account's files stay on screen; signing in
    // fetches the new account's list once the page has been shown.
    void accountChanged();
    void setSelectedPDF(const QUrl &file);
    void setPreparingPreview(bool preparing);

    PDFViewModel *m_viewModel;
    PDFFileList *m_files;
    ChatModel *m_chat;
    QPointer<AuthManager> m_authManager;
    int m_selectedFeature = kNoFeature;
    bool m_showChat = false;
    bool m_appeared = false;
    bool m_preparingPreview = false;
    QUrl m_selectedPDF;
    QString m_previewMessage;
    // Results already downloaded in this run, by job id: previewing again opens the same file.
    QHash<QString, QString> m_downloaded;
};

} // namespace quorvel
