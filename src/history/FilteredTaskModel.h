#pragma once

#include "history/ConversionTaskModel.h"
#include "history/TaskFilter.h"

#include <QAbstractListModel>
#include <QPointer>

namespace quorvel {

// The history as the page shows it: the jobs whose file name contains the search
// text (case-insensitive under Unicode case folding, the text as typed), then those
// the status filter keeps, in the list's own order. Recomputed on every change of
// the search text or the filter; changes of the list are followed row by row, so a view
// keeps its place when the list is refreshed.
class FilteredTaskModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged FINAL)
public:
    explicit FilteredTaskModel(ConversionTaskModel *source, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    void setSearchText(const QString &text);
    void setFilter(TaskFilter filter);
    QList<ConversionTask> tasks() const;
    // Row in the source list of a shown row.
    qsizetype sourceRow(qsizetype row) const { return m_rows.value(row, -1); }

Q_SIGNALS:
    void countChanged();

private:
    void recompute();
    // Re-tests only the rows shown now (the search text grew).
    void narrow();
    void setRows(QList<qsizetype> rows);
    // Whether the list's row passes the search and the filter.
    bool accepts(qsizetype sourceRow) const;
    void sourceRowsInserted(int first, int last);
    void sourceRowsRemoved(int first, int last);
    void sourceDataChanged(int first, int last);
    QList<qsizetype> rowsContainingSearch() const;

    QPointer<ConversionTaskModel> m_source;
    QString m_search;
    QString m_foldedSearch;
    TaskFilter m_filter = TaskFilter::All;
    QList<qsizetype> m_rows;
};

} // namespace quorvel
