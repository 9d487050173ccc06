#include "history/FilteredTaskModel.h"

#include <algorithm>

namespace quorvel {

FilteredTaskModel::FilteredTaskModel(ConversionTaskModel *source, QObject *parent)
    : QAbstractListModel(parent)
    , m_source(source) {
    connect(source, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { sourceRowsInserted(first, last); });
    connect(source, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) { sourceRowsRemoved(first, last); });
    connect(source, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &top, const QModelIndex &bottom) {
                sourceDataChanged(top.row(), bottom.row());
            });
    connect(source, &QAbstractItemModel::modelReset, this, [this] { recompute(); });
    recompute();
}

bool FilteredTaskModel::accepts(qsizetype sourceRow) const {
    return keeps(m_filter, m_source->tasks()[sourceRow].status) &&
           (m_foldedSearch.isEmpty() ||
            m_source->foldedFileNames()[sourceRow].contains(m_foldedSearch));
}

void FilteredTaskModel::sourceRowsInserted(int first, int last) {
    const qsizetype count = last - first + 1;
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), qsizetype(first));
    const qsizetype pos = at - m_rows.begin();
    // Rows after the new ones move down; which of them is shown does not change.
    for (auto it = at; it != m_rows.end(); ++it)
        *it += count;
    QList<qsizetype> added;
    for (qsizetype row = first; row <= last; ++row)
        if (accepts(row))
            added.append(row);
    if (added.isEmpty())
        return;
    beginInsertRows({}, int(pos), int(pos + added.size() - 1));
    m_rows.insert(pos, added.size(), 0);
    std::copy(added.cbegin(), added.cend(), m_rows.begin() + pos);
    endInsertRows();
    Q_EMIT countChanged();
}

void FilteredTaskModel::sourceRowsRemoved(int first, int last) {
    const qsizetype count = last - first + 1;
    const qsizetype from =
        std::lower_bound(m_rows.cbegin(), m_rows.cend(), qsizetype(first)) - m_rows.cbegin();
    const qsizetype to =
        std::upper_bound(m_rows.cbegin(), m_rows.cend(), qsizetype(last)) - m_rows.cbegin();
    const auto shift = [&] {
        for (qsizetype i = to; i < m_rows.size(); ++i)
            m_rows[i] -= count;
    };
    if (from == to) {
        shift();
        return;
    }
    beginRemoveRows({}, int(from), int(to - 1));
    shift();
    m_rows.remove(from, to - from);
    endRemoveRows();
    Q_EMIT countChanged();
}

void FilteredTaskModel::sourceDataChanged(int first, int last) {
    if (first < 0 || last < first)
        return;
    // A changed job may now pass or fail the filter or the search: it comes or goes alone;
    // the rows that stay are told of the change together.
    for (qsizetype row = first; row <= last; ++row) {
        const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), row);
        const qsizetype pos = at - m_rows.begin();
        const bool shown = at != m_rows.end() && *at == row;
        const bool wanted = accepts(row);
        if (shown && !wanted) {
            beginRemoveRows({}, int(pos), int(pos));
            m_rows.remove(pos);
            endRemoveRows();
            Q_EMIT countChanged();
        } else if (!shown && wanted) {
            beginInsertRows({}, int(pos), int(pos));
            m_rows.insert(pos, row);
            endInsertRows();
            Q_EMIT countChanged();
        }
    }
    const qsizetype from =
        std::lower_bound(m_rows.cbegin(), m_rows.cend(), qsizetype(first)) - m_rows.cbegin();
    const qsizetype to =
        std::upper_bound(m_rows.cbegin(), m_rows.cend(), qsizetype(last)) - m_rows.cbegin();
    if (from < to)
        Q_EMIT dataChanged(index(int(from)), index(int(to - 1)));
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

QList<qsizetype> FilteredTaskModel::rowsContainingSearch() const {
    if (const NameIndex *index = m_source->nameIndex())
        return index->rowsContaining(m_foldedSearch);
    // Changed here since the list was published: one search per name.
    QList<qsizetype> rows;
    const QList<QString> &folded = m_source->foldedFileNames();
    for (qsizetype i = 0; i < folded.size(); ++i)
        if (folded[i].contains(m_foldedSearch))
            rows.append(i);
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
    if (rows == m_rows)
        return;
    // Both lists keep the list's order, so one becomes the other by removals and insertions
    // alone: a few blocks of them keep every other card where it is.
    constexpr qsizetype kMaxBlocks = 32;
    using Range = std::pair<qsizetype, qsizetype>;
    QList<Range> removals;   // rows of the shown list
    QList<Range> insertions; // rows of the new list
    const auto add = [](QList<Range> &ranges, qsizetype row) {
        if (!ranges.isEmpty() && ranges.last().second == row - 1)
            ranges.last().second = row;
        else
            ranges.append({row, row});
        return ranges.size() <= kMaxBlocks;
    };
    bool few = true;
    for (qsizetype i = 0, j = 0; few && (i < m_rows.size() || j < rows.size());) {
        if (j == rows.size() || (i < m_rows.size() && m_rows[i] < rows[j]))
            few = add(removals, i++);
        else if (i == m_rows.size() || rows[j] < m_rows[i])
            few = add(insertions, j++);
        else
            ++i, ++j;
    }
    const qsizetype oldCount = m_rows.size();
    if (few) {
        for (auto it = removals.crbegin(); it != removals.crend(); ++it) {
            beginRemoveRows({}, int(it->first), int(it->second));
            m_rows.remove(it->first, it->second - it->first + 1);
            endRemoveRows();
        }
        for (const auto &[first, last] : std::as_const(insertions)) {
            beginInsertRows({}, int(first), int(last));
            m_rows.insert(first, last - first + 1, 0);
            std::copy(rows.cbegin() + first, rows.cbegin() + last + 1, m_rows.begin() + first);
            endInsertRows();
        }
    } else {
        // Scattered (a search that keeps one job in eight): the rows past the new end go or
        // come, and every row kept shows its new job. A view keeps its cards and gives them
        // their new jobs, far quicker than building them all again as a reset would.
        const qsizetype count = rows.size();
        const qsizetype kept = std::min(count, oldCount);
        if (count < oldCount) {
            beginRemoveRows({}, int(count), int(oldCount - 1));
            m_rows.resize(count);
            endRemoveRows();
        }
        std::copy(rows.cbegin(), rows.cbegin() + kept, m_rows.begin());
        if (kept > 0)
            Q_EMIT dataChanged(index(0), index(int(kept - 1)));
        if (count > oldCount) {
            beginInsertRows({}, int(oldCount), int(count - 1));
            m_rows = std::move(rows);
            endInsertRows();
        }
    }
    if (m_rows.size() != oldCount)
        Q_EMIT countChanged();
}

} // namespace quorvel
