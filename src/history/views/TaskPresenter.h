#pragma once

#include "conversion/PDFViewModel.h"
#include "history/TaskLook.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace quorvel {

// One job as a card or the detail sheet shows it, with the state of that view (download
// and retry running, the error alert) and its two actions. Everything the QML draws is a
// property here; colours are names the theme resolves.
class TaskPresenter : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QVariant task READ taskValue WRITE setTask NOTIFY changed FINAL)
    Q_PROPERTY(quorvel::PDFViewModel *viewModel READ viewModel WRITE setViewModel NOTIFY
                   viewModelChanged FINAL)
    // The sheet's wording ("Retrying...") instead of the card's.
    Q_PROPERTY(bool inSheet MEMBER m_inSheet NOTIFY changed FINAL)
    // The pause after a retry request before the button comes back.
    Q_PROPERTY(int retryWaitMs MEMBER retryWaitMs NOTIFY changed FINAL)

    Q_PROPERTY(QString id READ id NOTIFY changed FINAL)
    Q_PROPERTY(QString fileName READ fileName NOTIFY changed FINAL)
    Q_PROPERTY(qint64 status READ status NOTIFY changed FINAL)
    Q_PROPERTY(QString typ READ typ NOTIFY changed FINAL)
    Q_PROPERTY(QString createAt READ createAt NOTIFY changed FINAL)
    Q_PROPERTY(QString sourceFileTyp READ sourceFileTyp NOTIFY changed FINAL)
    Q_PROPERTY(QString resultFileTyp READ resultFileTyp NOTIFY changed FINAL)
    // Why a failed job failed, as the service put it; empty for any other job.
    Q_PROPERTY(QString failReason READ failReason NOTIFY changed FINAL)
    // What the service says of a completed job (its original returned uncharged, pages that
    // read as nothing); empty for any other job.
    Q_PROPERTY(QString note READ note NOTIFY changed FINAL)
    Q_PROPERTY(QString sourceFilePath READ sourceFilePath NOTIFY changed FINAL)
    Q_PROPERTY(QString sourceFileMd5 READ sourceFileMd5 NOTIFY changed FINAL)

    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY changed FINAL)
    Q_PROPERTY(bool isRetrying READ isRetrying NOTIFY changed FINAL)
    Q_PROPERTY(bool retrying READ retrying NOTIFY changed FINAL)
    Q_PROPERTY(bool showError READ showError WRITE setShowError NOTIFY changed FINAL)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY changed FINAL)

    Q_PROPERTY(QString statusText READ statusText NOTIFY changed FINAL)
    Q_PROPERTY(QString statusColor READ statusColor NOTIFY changed FINAL)
    Q_PROPERTY(bool badgeCompleted READ badgeCompleted NOTIFY changed FINAL)
    Q_PROPERTY(QString statusIcon READ statusIcon NOTIFY changed FINAL)
    Q_PROPERTY(QString statusIconColor READ statusIconColor NOTIFY changed FINAL)
    // Icons of work in progress bounce; those of finished jobs stay still.
    Q_PROPERTY(bool statusIconBounces READ statusIconBounces NOTIFY changed FINAL)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY changed FINAL)
    Q_PROPERTY(QString subtitleColor READ subtitleColor NOTIFY changed FINAL)
    Q_PROPERTY(QString typeIcon READ typeIcon NOTIFY changed FINAL)
    Q_PROPERTY(QString pagesText READ pagesText NOTIFY changed FINAL)
    Q_PROPERTY(bool showsResult READ showsResult NOTIFY changed FINAL)
    Q_PROPERTY(QString action READ action NOTIFY changed FINAL)
    Q_PROPERTY(bool canPreview READ canPreview NOTIFY changed FINAL)

public:
    explicit TaskPresenter(QObject *parent = nullptr);
    ~TaskPresenter() override;

    QVariant taskValue() const { return QVariant::fromValue(m_task); }
    void setTask(const QVariant &task);
    PDFViewModel *viewModel() const { return m_viewModel; }
    void setViewModel(PDFViewModel *viewModel);

    QString id() const { return m_task.id; }
    QString fileName() const { return m_task.fileName; }
    qint64 status() const { return m_task.status; }
    QString typ() const { return m_task.typ; }
    QString createAt() const { return m_task.createAt; }
    QString sourceFileTyp() const { return m_task.sourceFileTyp; }
    QString resultFileTyp() const { return m_task.resultFileTyp; }
    QString failReason() const { return m_task.status == 2 ? m_task.failReason : QString(); }
    QString note() const { return m_task.status == 1 ? m_task.note : QString(); }
    QString sourceFilePath() const { return m_task.sourceFilePath; }
    QString sourceFileMd5() const { return m_task.sourceFileMd5; }

    bool isDownloading() const { return m_isDownloading; }
    bool isRetrying() const { return m_isRetrying; }
    bool retrying() const;
    bool showError() const { return m_showError; }
    void setShowError(bool show);
    QString errorMessage() const { return m_errorMessage; }

    QString statusText() const;
    QString statusColor() const;
    bool badgeCompleted() const;
    QString statusIcon() const;
    QString statusIconColor() const;
    bool statusIconBounces() const;
    QString subtitle() const;
    QString subtitleColor() const;
    QString typeIcon() const { return TaskLook::typeIcon(m_task.typ); }
    QString pagesText() const { return TaskLook::pagesText(m_task.pageNumber); }
    bool showsResult() const;
    QString action() const { return TaskLook::action(m_task.status); }
    bool canPreview() const;

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
    QPointer<PDFViewModel> m_viewModel;
    bool m_inSheet = false;
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
    Q_INVOKABLE static QString tint(const QString &status, bool isCompleted) {
        return TaskLook::badgeGlyph(status, isCompleted).color;
    }
};

} // namespace quorvel
