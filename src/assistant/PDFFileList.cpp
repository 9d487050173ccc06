#include "PDFFileList.h"

#include "FileColors.h"
#include "history/TaskLook.h"
#include "service/JobStatus.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {
constexpr double kCardSlot = 180;
} // namespace

PDFFileList::PDFFileList(QObject *parent)
    : QAbstractListModel(parent) {}

void PDFFileList::setSource(ConversionTaskModel *source) {
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source)
        connect(m_source, &ConversionTaskModel::tasksChanged, this, [this] {
            reloadCompleted();
            clampPage();
            repaginate();
        });
    reloadCompleted();
    repaginate();
}

void PDFFileList::reloadCompleted() {
    m_completedRows.clear();
    if (m_source) {
        const QList<ConversionTask> &tasks = m_source->tasks();
        for (qsizetype i = 0; i < tasks.size(); ++i) {
            if (hasStatus(tasks[i].status, JobStatus::Completed))
                m_completedRows.append(i);
        }
    }
    refilter();
}

void PDFFileList::refilter() {
    if (m_searchText.isEmpty() || !m_source) {
        m_filteredRows = m_searchText.isEmpty() ? m_completedRows : QList<qsizetype>();
        return;
    }
    const QString needle = ConversionTaskModel::fold(m_searchText);
    const QList<QString> &folded = m_source->foldedFileNames();
    m_filteredRows.clear();
    for (qsizetype row : std::as_const(m_completedRows)) {
        if (row < folded.size() && folded[row].contains(needle))
            m_filteredRows.append(row);
    }
}

int PDFFileList::itemsPerPage() const {
    if (m_pageColumns > 0)
        return m_pageColumns * m_pageRows;
    return std::max(1, int(std::floor(m_windowWidth / kCardSlot)));
}

int PDFFileList::totalPages() const {
    const int perPage = itemsPerPage();
    return std::max(1, (filteredCount() + perPage - 1) / perPage);
}

void PDFFileList::repaginate() {
    const int perPage = itemsPerPage();
    const int start = (m_currentPage - 1) * perPage;
    const int end = std::min(start + perPage, filteredCount());
    beginResetModel();
    m_page.clear();
    if (m_source && start >= 0 && start < filteredCount()) {
        const QList<ConversionTask> &tasks = m_source->tasks();
        for (qsizetype row : m_filteredRows.mid(start, end - start)) {
            if (row < tasks.size())
                m_page.append(tasks[row]);
        }
    }
    endResetModel();
    if (filteredCount() > 0 && start >= filteredCount() && !m_correctionQueued) {
        m_correctionQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_correctionQueued = false;
            setCurrentPage(totalPages());
        });
    }
    Q_EMIT layoutChanged();
    Q_EMIT selectionChanged();
}

void PDFFileList::clampPage() {
    m_currentPage = std::min(m_currentPage, totalPages());
}

void PDFFileList::setSearchText(const QString &text) {
    if (text == m_searchText)
        return;
    m_searchText = text;
    m_currentPage = 1;
    refilter();
    if (!text.isEmpty() && !m_selection.isEmpty()) {
        const QString needle = ConversionTaskModel::fold(text);
        QSet<QString> matching;
        if (m_source) {
            const QList<ConversionTask> &tasks = m_source->tasks();
            const QList<QString> &folded = m_source->foldedFileNames();
            for (qsizetype i = 0; i < tasks.size(); ++i) {
                if (m_selectedIds.contains(tasks[i].id) && folded.value(i).contains(needle))
                    matching.insert(tasks[i].id);
            }
        }
        m_selection.removeIf([&](const ConversionTask &t) { return !matching.contains(t.id); });
        m_selectedIds = matching;
    }
    Q_EMIT searchTextChanged();
    repaginate();
}

void PDFFileList::setWindowWidth(double width) {
    if (width == m_windowWidth || !(width >= 0))
        return;
    m_windowWidth = width;
    clampPage();
    repaginate();
}

void PDFFileList::setPageColumns(int columns) {
    columns = std::max(0, columns);
    if (columns == m_pageColumns)
        return;
    m_pageColumns = columns;
    clampPage();
    repaginate();
}

void PDFFileList::setPageRows(int rows) {
    rows = std::max(1, rows);
    if (rows == m_pageRows)
        return;
    m_pageRows = rows;
    clampPage();
    repaginate();
}

void PDFFileList::setCurrentPage(int page) {
    page = std::max(1, page);
    if (page == m_currentPage)
        return;
    m_currentPage = page;
    repaginate();
}

void PDFFileList::previousPage() {
    setCurrentPage(std::max(1, m_currentPage - 1));
}

void PDFFileList::nextPage() {
    setCurrentPage(std::min(totalPages(), m_currentPage + 1));
}

bool PDFFileList::isSelected(const QString &taskId) const {
    return m_selectedIds.contains(taskId);
}

bool PDFFileList::areAllCurrentFilesSelected() const {
    return !m_page.isEmpty() && std::all_of(m_page.cbegin(), m_page.cend(), [this](const auto &t) {
        return m_selectedIds.contains(t.id);
    });
}

std::optional<ConversionTask> PDFFileList::task(const QString &taskId) const {
    if (m_source) {
        const QList<ConversionTask> &tasks = m_source->tasks();
        for (qsizetype row : m_filteredRows) {
            if (row < tasks.size() && tasks[row].id == taskId)
                return tasks[row];
        }
    }
    for (const ConversionTask &t : m_selection) {
        if (t.id == taskId)
            return t;
    }
    return std::nullopt;
}

void PDFFileList::toggleSelection(const QString &taskId) {
    if (m_selectedIds.remove(taskId)) {
        m_selection.removeIf([&](const ConversionTask &t) { return t.id == taskId; });
    } else if (const auto found = task(taskId)) {
        m_selectedIds.insert(taskId);
        m_selection.append(*found);
    } else {
        return;
    }
    for (qsizetype row = 0; row < m_page.size(); ++row) {
        if (m_page[row].id == taskId)
            Q_EMIT dataChanged(index(int(row)), index(int(row)), {IsSelectedRole});
    }
    Q_EMIT selectionChanged();
}

void PDFFileList::toggleSelectAllCurrentPage() {
    if (m_page.isEmpty())
        return;
    if (areAllCurrentFilesSelected()) {
        for (const ConversionTask &t : m_page)
            m_selectedIds.remove(t.id);
        m_selection.removeIf(
            [&](const ConversionTask &t) { return !m_selectedIds.contains(t.id); });
    } else {
        for (const ConversionTask &t : m_page) {
            if (!m_selectedIds.contains(t.id)) {
                m_selectedIds.insert(t.id);
                m_selection.append(t);
            }
        }
    }
    Q_EMIT dataChanged(index(0), index(int(m_page.size()) - 1), {IsSelectedRole});
    Q_EMIT selectionChanged();
}

void PDFFileList::clearSelection() {
    if (m_selection.isEmpty())
        return;
    m_selection.clear();
    m_selectedIds.clear();
    if (!m_page.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_page.size()) - 1), {IsSelectedRole});
    Q_EMIT selectionChanged();
}

int PDFFileList::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_page.size());
}

QVariant PDFFileList::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_page.size())
        return {};
    const ConversionTask &t = m_page[index.row()];
    switch (role) {
    case IdRole:
        return t.id;
    case FileNameRole:
    case Qt::DisplayRole:
        return t.fileName;
    case StatusRole:
        return t.status;
    case TypeIconRole:
        return TaskLook::typeIcon(t.typ);
    case FirstColorRole:
        return FileColors::pair(t.fileName).first;
    case SecondColorRole:
        return FileColors::pair(t.fileName).second;
    case IsSelectedRole:
        return m_selectedIds.contains(t.id);
    default:
        return {};
    }
}

QHash<int, QByteArray> PDFFileList::roleNames() const {
    return {{IdRole, "taskId"},
            {FileNameRole, "fileName"},
            {StatusRole, "status"},
            {TypeIconRole, "typeIcon"},
            {FirstColorRole, "firstColor"},
            {SecondColorRole, "secondColor"},
            {IsSelectedRole, "isSelected"}};
}

} // namespace quorvel
