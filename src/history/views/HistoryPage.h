#pragma once

#include "history/HistorySource.h"

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

// What the history page shows and when it refreshes: the state of the list area, the
// texts of its empty and failed states, the chips, and the timed refresh, which runs only
// while the page is the one shown in a shown window.
class HistoryPage : public QObject, public QQmlParserStatus {
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_ELEMENT
    Q_PROPERTY(QObject *viewModel READ viewModelObject WRITE setViewModelObject NOTIFY
                   viewModelChanged FINAL)
    // Page 1 is the selected tab.
    Q_PROPERTY(bool selected READ selected WRITE setSelected NOTIFY selectedChanged FINAL)
    // The window is shown and not minimised.
    Q_PROPERTY(
        bool windowShown READ windowShown WRITE setWindowShown NOTIFY windowShownChanged FINAL)
    Q_PROPERTY(ListState listState READ listState NOTIFY stateChanged FINAL)
    // A refresh over a list already shown: the list stays, a small indicator turns.
    Q_PROPERTY(bool refreshing READ refreshing NOTIFY stateChanged FINAL)
    Q_PROPERTY(QString emptyText READ emptyText NOTIFY stateChanged FINAL)
    Q_PROPERTY(QString failureText READ failureText NOTIFY stateChanged FINAL)
    Q_PROPERTY(bool signInNeeded READ signInNeeded NOTIFY stateChanged FINAL)
    Q_PROPERTY(QStringList filterTitles READ filterTitles CONSTANT FINAL)
    Q_PROPERTY(
        int selectedFilterIndex READ selectedFilterIndex NOTIFY selectedFilterIndexChanged FINAL)
    Q_PROPERTY(
        bool autoRefreshRunning READ autoRefreshRunning NOTIFY autoRefreshRunningChanged FINAL)

public:
    enum class ListState { Loading, Failed, Empty, List };
    Q_ENUM(ListState)

    explicit HistoryPage(QObject *parent = nullptr);

    HistorySource *viewModel() const { return m_viewModel; }
    void setViewModel(HistorySource *viewModel);
    // From QML: the window's view model, seen through what the page needs of it.
    QObject *viewModelObject() const { return m_viewModel; }
    void setViewModelObject(QObject *viewModel) {
        setViewModel(qobject_cast<HistorySource *>(viewModel));
    }
    bool selected() const { return m_selected; }
    void setSelected(bool selected);
    bool windowShown() const { return m_windowShown; }
    void setWindowShown(bool shown);

    ListState listState() const;
    bool refreshing() const;
    QString emptyText() const;
    QString failureText() const { return m_failureText; }
    bool signInNeeded() const { return m_failureCode == 401; }
    static QStringList filterTitles();
    int selectedFilterIndex() const;
    bool autoRefreshRunning() const;

    Q_INVOKABLE void selectFilter(int index);
    // "Try again" after a failed fetch.
    Q_INVOKABLE void retryFetch() { refresh(); }
    // The refresh button, F5 and Ctrl+R: the list stays while the new one loads.
    Q_INVOKABLE void refresh();

    void classBegin() override {}
    void componentComplete() override;

Q_SIGNALS:
    void viewModelChanged();
    void selectedChanged();
    void windowShownChanged();
    void stateChanged();
    void selectedFilterIndexChanged();
    void autoRefreshRunningChanged();

private:
    bool visible() const { return m_complete && m_selected && m_windowShown; }
    // Coming to the page: one refresh, then the loop, if the page is still shown by then.
    QCoro::Task<> arrive();
    void update(bool wasVisible, bool tabSwitch);
    void loopChanged() { Q_EMIT autoRefreshRunningChanged(); }
    void loadingChanged();

    QPointer<HistorySource> m_viewModel;
    bool m_selected = false;
    bool m_windowShown = false;
    bool m_complete = false;
    // Each arrival counts; an arrival's refresh starts the loop only if no other came since.
    quint64 m_arrival = 0;
    bool m_haveList = false;
    QString m_failureText;
    qint64 m_failureCode = 0;
};

} // namespace quorvel
