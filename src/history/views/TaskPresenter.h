#pragma once

#include "history/HistorySource.h"
#include "history/TaskLook.h"
#include "service/Sleep.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace quorvel {

// The actions on one job of a card or the detail sheet, and their state: download and retry
// running, the error alert, and the job a retry sent again. What the job looks like comes
// from the list model's roles; only "Retrying" depends on this state, so the view combines it.
class TaskPresenter : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QVariant task READ taskValue WRITE setTask NOTIFY changed FINAL)
    Q_PROPERTY(QObject *viewModel READ viewModelObject WRITE setViewModelObject NOTIFY
                   viewModelChanged FINAL)
    // The pause after a retry request before the button comes back.
    Q_PROPERTY(int retryWaitMs MEMBER retryWaitMs NOTIFY changed FINAL)
    Q_PROPERTY(QString id READ id NOTIFY changed FINAL)

    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY changed FINAL)
    Q_PROPERTY(bool isRetrying READ isRetrying NOTIFY changed FINAL)
    Q_PROPERTY(bool retrying READ retrying NOTIFY changed FINAL)
    Q_PROPERTY(bool showError READ showError WRITE setShowError NOTIFY changed FINAL)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY changed FINAL)

public:
    explicit TaskPresenter(QObject *parent = nullptr);
    ~TaskPresenter() override;

    QVariant taskValue() const { return QVariant::fromValue(m_task); }
    void setTask(const QVariant &task);
    HistorySource *viewModel() const { return m_viewModel; }
    void setViewModel(HistorySource *viewModel);
    // From QML: the window's view model, seen through what the page needs of it.
    QObject *viewModelObject() const { return m_viewModel; }
    void setViewModelObject(QObject *viewModel) {
        setViewModel(qobject_cast<HistorySource *>(viewModel));
    }

    QString id() const { return m_task.id; }

    bool isDownloading() const { return m_isDownloading; }
    bool isRetrying() const { return m_isRetrying; }
    bool retrying() const;
    bool showError() const { return m_showError; }
    void setShowError(bool show);
    QString errorMessage() const { return m_errorMessage; }

    int retryWaitMs = 1000;

    // Saves the result into the temporary directory; `downloaded` or the error alert follows.
    Q_INVOKABLE void download();
    // Saves the result, then `previewReady` with the saved file.
    Q_INVOKABLE void preview();
    Q_INVOKABLE void retry();

Q_SIGNALS:
    void changed();
    void viewModelChanged();
    void downloaded(const QString &path);
    void previewReady(const QUrl &file);

private:
    QCoro::Task<> runDownload(bool thenPreview);
    QCoro::Task<> runRetry();
    void fail(const QString &message);

    ConversionTask m_task;
    QPointer<HistorySource> m_viewModel;
    bool m_isDownloading = false;
    bool m_isRetrying = false;
    bool m_showError = false;
    QString m_errorMessage;
    std::optional<ConversionTask> m_retryTask;
    // Cancelled when the view goes: its waits end at once.
    CancelTokenPtr m_lifetime = makeCancelToken();
};

} // namespace quorvel

namespace quorvel {

// The status badge's own rule, for the badge component: its icon and tint follow from the
// text it shows and whether the job is completed.
class BadgeLook : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;
    Q_INVOKABLE static QString icon(const QString &status, bool isCompleted) {
        return TaskLook::badgeGlyph(status, isCompleted).icon;
    }
    Q_INVOKABLE static int tint(const QString &status, bool isCompleted) {
        return int(TaskLook::badgeGlyph(status, isCompleted).tone);
    }
};

// The look's tones for the views, as TaskTone.Success and so on.
namespace TaskToneForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(quorvel::TaskLook)
QML_NAMED_ELEMENT(TaskTone)
} // namespace TaskToneForeign

} // namespace quorvel
