#include "history/FilteredTaskModel.h"

namespace quorvel {

FilteredTaskModel::FilteredTaskModel(ConversionTaskModel *source, QObject *parent)
    : QAbstractListModel(parent)
    , m_source(source)
{
    connect(source, &ConversionTaskModel::tasksChanged, this, &FilteredTaskModel::recompute);
    recompute();
}

int FilteredTaskModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant FilteredTaskModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || !m_source)
        return {};
    return m_source->data(m_source->index(int(m_rows[index.row()])), role);
}

QHash<int, QByteArray> FilteredTaskModel::roleNames() const
{
    return m_source ? m_source->roleNames() : QHash<int, QByteArray>{};
}

void FilteredTaskModel::setSearchText(const QString &text)
{
    if (text == m_search)
        return;
    const QString folded = ConversionTaskModel::fold(text);
    // Typing on narrows the list: a name that contains the longer text contains the
    // shorter one, so only the rows shown now need a look.
    const bool narrowing = !m_foldedSearch.isEmpty() && folded.contains(m_foldedSearch);
    m_search = text;
    m_foldedSearch = folded;
    if (narrowing)
        narrow();
    else
        recompute();
}

void FilteredTaskModel::narrow()
{
    QList<qsizetype> rows;
    if (m_source) {
        const QList<QString> &folded = m_source->foldedFileNames();
        rows.reserve(m_rows.size());
        for (qsizetype row : std::as_const(m_rows))
            if (folded[row].contains(m_foldedSearch))
                rows.append(row);
    }
    setRows(std::move(rows));
}

void FilteredTaskModel::setFilter(TaskFilter filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    recompute();
}

QList<ConversionTask> FilteredTaskModel::tasks() const
{
    QList<ConversionTask> out;
    if (!m_source)
        return out;
    out.reserve(m_rows.size());
    for (qsizetype row : m_rows)
        out.append(m_source->tasks()[row]);
    return out;
}

void FilteredTaskModel::recompute()
{
    QList<qsizetype> rows;
    if (m_source) {
        const QList<ConversionTask> &tasks = m_source->tasks();
        const QList<QString> &folded = m_source->foldedFileNames();
        rows.reserve(tasks.size());
        const bool searching = !m_search.isEmpty();
        for (qsizetype i = 0; i < tasks.size(); ++i) {
            if (searching && !folded[i].contains(m_foldedSearch))
                continue;
            if (!keeps(m_filter, tasks[i].status))
                continue;
            rows.append(i);
        }
    }
    setRows(std::move(rows));
}

void FilteredTaskModel::setRows(QList<qsizetype> rows)
{
    const bool countChanges = rows.size() != m_rows.size();
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
    if (countChanges)
        Q_EMIT countChanged();
}

} // namespace quorvel
