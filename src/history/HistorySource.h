#pragma once

#include "history/ConversionTaskModel.h"
#include "history/FilteredTaskModel.h"
#include "history/TaskFilter.h"
#include "service/WireRecords.h"

#include <QObject>

#include <QCoroTask>

namespace quorvel {

// What the history views need of the object that holds the history: the lists, the fetch
// and its refresh loop, the search and the filter, and the two actions on one job. The
// window's view model provides it, so the views depend on nothing above this library.
class HistorySource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual ConversionTaskModel *conversionTaskModel() const = 0;
    virtual FilteredTaskModel *filteredTaskModel() const = 0;
    const QList<ConversionTask> &conversionTasks() const { return conversionTaskModel()->tasks(); }
    virtual bool isLoadingHistory() const = 0;
    virtual QString searchText() const = 0;
    virtual TaskFilter selectedFilter() const = 0;
    virtual void setSelectedFilter(TaskFilter filter) = 0;

    virtual QCoro::Task<> refreshHistory() = 0;
    virtual void startAutoRefresh() = 0;
    virtual void stopAutoRefresh() = 0;
    virtual bool isAutoRefreshRunning() const = 0;

    // Saves the job's result into `directory` (the desktop's download folder when empty)
    // and returns the saved file's path.
    virtual QCoro::Task<QString> downloadFile(ConversionTask task, QString directory = {}) = 0;
    virtual QCoro::Task<> retryConversion(ConversionTask task) = 0;

Q_SIGNALS:
    void isLoadingHistoryChanged();
    void searchTextChanged();
    void selectedFilterChanged();
    // A history fetch published an empty list because the request failed or the sign-in
    // was refused (code 401), for front ends that must tell it from an account without jobs.
    void historyFetchFailed(const QString &description, qint64 code);
    // The service refused or never answered the retry of `taskId`, so the job was not
    // submitted again; the card of that job says so.
    void retryFailed(const QString &taskId, const QString &description);
};

} // namespace quorvel
