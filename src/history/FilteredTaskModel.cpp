#include "history/FilteredTaskModel.h"

namespace quorvel {

FilteredTaskModel::FilteredTaskModel(ConversionTaskModel *source, QObject *parent)
    : QAbstractListModel(parent)
    , m_source(source) {
    connect(source, &ConversionTaskModel::tasksChanged, this, [this] {
        m_indexStale = true;
        recompute();
    });
    recompute();
}

int FilteredTaskModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant FilteredTaskModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size() || !m_source)
        return {};
    return m_source->data(m_source->index(int(m_rows[index.row()])), role);
}

QHash<int, QByteArray> FilteredTaskModel::roleNames() const {
    return m_source ? m_source->roleNames() : QHash<int, QByteArray>{};
}

void FilteredTaskModel::setSearchText(const QString &text) {
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

void FilteredTaskModel::narrow() {
    // Few rows shown: test them one by one. Many: one pass over all names is quicker.
    if (!m_source || m_rows.size() * 8 > m_source->tasks().size()) {
        recompute();
        return;
    }
    QList<qsizetype> rows;
    {
        const QList<QString> &folded = m_source->foldedFileNames();
        rows.reserve(m_rows.size());
        for (qsizetype row : std::as_const(m_rows))
            if (folded[row].contains(m_foldedSearch))
                rows.append(row);
    }
    setRows(std::move(rows));
}

void FilteredTaskModel::setFilter(TaskFilter filter) {
    if (filter == m_filter)
        return;
    m_filter = filter;
    recompute();
}

QList<ConversionTask> FilteredTaskModel::tasks() const {
    QList<ConversionTask> out;
    if (!m_source)
        return out;
    out.reserve(m_rows.size());
    for (qsizetype row : m_rows)
        out.append(m_source->tasks()[row]);
    return out;
}

void FilteredTaskModel::rebuildIndex() {
    m_index.clear();
    m_starts.clear();
    m_indexStale = false;
    if (!m_source)
        return;
    const QList<QString> &folded = m_source->foldedFileNames();
    qsizetype total = 0;
    for (const QString &name : folded)
        total += name.size() + 1;
    m_index.reserve(total);
    m_starts.reserve(folded.size() + 1);
    for (const QString &name : folded) {
        m_starts.append(m_index.size());
        m_index.append(name);
        m_index.append(QChar(u'\0'));
    }
    m_starts.append(m_index.size());
}

QList<qsizetype> FilteredTaskModel::rowsContainingSearch() {
    if (m_indexStale)
        rebuildIndex();
    // All folded names in one text: a single scan finds every name holding the
    // search text, far quicker than one search per name.
    const QStringView all(m_index);
    const QStringView needle(m_foldedSearch);
    QList<qsizetype> rows;
    qsizetype row = 0;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = all.indexOf(needle, from);
        if (at < 0)
            break;
        while (m_starts[row + 1] <= at)
            ++row;
        const qsizetype nameEnd = m_starts[row + 1] - 1; // the separator after the name
        if (at + needle.size() <= nameEnd) {
            rows.append(row);
            from = m_starts[row + 1];
        } else {
            from = at + 1; // the hit runs into the next name
        }
    }
    return rows;
}

void FilteredTaskModel::recompute() {
    QList<qsizetype> rows;
    if (m_source) {
        const QList<ConversionTask> &tasks = m_source->tasks();
        if (m_search.isEmpty()) {
            rows.reserve(tasks.size());
            for (qsizetype i = 0; i < tasks.size(); ++i)
                if (keeps(m_filter, tasks[i].status))
                    rows.append(i);
        } else {
            rows = rowsContainingSearch();
            if (m_filter != TaskFilter::All)
                rows.removeIf([&](qsizetype i) { return !keeps(m_filter, tasks[i].status); });
        }
    }
    setRows(std::move(rows));
}

void FilteredTaskModel::setRows(QList<qsizetype> rows) {
    const bool countChanges = rows.size() != m_rows.size();
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
    if (countChanges)
        Q_EMIT countChanged();
}

} // namespace quorvel
