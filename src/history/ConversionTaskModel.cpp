#include "history/ConversionTaskModel.h"

#include <QThreadPool>

#include <vector>

namespace quorvel {

int ConversionTaskModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_tasks.size());
}

QVariant ConversionTaskModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_tasks.size())
        return {};
    const ConversionTask &t = m_tasks[index.row()];
    switch (role) {
    case IdRole:
        return t.id;
    case UserIdRole:
        return t.userId;
    case TypRole:
        return t.typ;
    case Qt::DisplayRole:
    case FileNameRole:
        return t.fileName;
    case PageNumberRole:
        return t.pageNumber;
    case SourceFilePathRole:
        return t.sourceFilePath;
    case SourceFileTypRole:
        return t.sourceFileTyp;
    case ResultFileTypRole:
        return t.resultFileTyp;
    case SourceFileMd5Role:
        return t.sourceFileMd5;
    case StatusRole:
        return t.status;
    case CreateAtRole:
        return t.createAt;
    case TaskRole:
        return QVariant::fromValue(t);
    default:
        return {};
    }
}

QHash<int, QByteArray> ConversionTaskModel::roleNames() const {
    return {{IdRole, "id"},
            {UserIdRole, "userId"},
            {TypRole, "typ"},
            {FileNameRole, "fileName"},
            {PageNumberRole, "pageNumber"},
            {SourceFilePathRole, "sourceFilePath"},
            {SourceFileTypRole, "sourceFileTyp"},
            {ResultFileTypRole, "resultFileTyp"},
            {SourceFileMd5Role, "sourceFileMd5"},
            {StatusRole, "status"},
            {CreateAtRole, "createAt"},
            {TaskRole, "task"}};
}

QString ConversionTaskModel::fold(const QString &text) {
    // ASCII folds to its lower case; only other text needs the full Unicode mapping,
    // which is many times slower and would dominate publishing a large history.
    QString out(text.size(), Qt::Uninitialized);
    char16_t *to = reinterpret_cast<char16_t *>(out.data());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x80) {
            // Upper-casing first gives the full mappings (ß to SS, ﬁ to FI); the capital
            // sharp s is its own upper case, so its full folding is applied by hand.
            QString folded = text.toUpper().toCaseFolded();
            folded.replace(u'ß', QStringLiteral("ss"));
            return folded;
        }
        *to++ = (u >= u'A' && u <= u'Z') ? char16_t(u + 32) : u;
    }
    return out;
}

namespace {

// Beyond this many inserted or removed blocks, moving rows one block at a time costs more
// than redrawing the list from scratch.
constexpr qsizetype kMaxBlocks = 16;
// Beyond this many changed blocks, one signal covers them all.
constexpr qsizetype kMaxChangedBlocks = 256;

void addRow(QList<TaskListPlan::Range> &ranges, qsizetype row) {
    if (!ranges.isEmpty() && ranges.last().second == row - 1)
        ranges.last().second = row;
    else
        ranges.append({row, row});
}

// Freeing a list of many jobs takes longer than a frame: it happens on a worker thread.
template <typename... Lists> void retire(Lists &&...lists) {
    if ((lists.isEmpty() && ...))
        return;
    QThreadPool::globalInstance()->start(
        [... dead = std::move(lists)]() mutable { ((dead = {}), ...); });
}

} // namespace

bool sameJob(const ConversionTask &a, const ConversionTask &b) {
    return a.id == b.id && a.status == b.status && a.fileName == b.fileName &&
           a.pageNumber == b.pageNumber && a.typ == b.typ && a.resultFileTyp == b.resultFileTyp &&
           a.createAt == b.createAt && a.sourceFileTyp == b.sourceFileTyp &&
           a.sourceFilePath == b.sourceFilePath && a.sourceFileMd5 == b.sourceFileMd5 &&
           a.userId == b.userId;
}

TaskListPlan ConversionTaskModel::plan(QList<ConversionTask> old, QList<ConversionTask> next,
                                       quint64 revision) {
    TaskListPlan p;
    p.basedOn = revision;
    p.folded.reserve(next.size());
    for (const ConversionTask &t : std::as_const(next))
        p.folded.append(fold(t.fileName));
    const qsizetype n = next.size();
    if (old.isEmpty() || n == 0) {
        if (!old.isEmpty())
            p.removals.append({0, old.size() - 1});
        if (n > 0)
            p.insertions.append({0, n - 1});
        p.next = std::move(next);
        return p;
    }

    QHash<QString, qsizetype> at;
    at.reserve(n);
    for (qsizetype i = 0; i < n; ++i)
        at.insert(next[i].id, i);
    // Repeated ids in the new list: a row cannot be matched to one job.
    p.reset = at.size() != n;
    std::vector<bool> matched(size_t(n), false);
    qsizetype lastMatched = -1;
    for (qsizetype row = 0; row < old.size() && !p.reset; ++row) {
        const auto it = at.constFind(old[row].id);
        if (it == at.cend()) {
            addRow(p.removals, row);
            continue;
        }
        // A kept job that moved up (or an id the old list repeats) needs a move.
        if (*it <= lastMatched) {
            p.reset = true;
            break;
        }
        lastMatched = *it;
        matched[size_t(*it)] = true;
        if (!sameJob(old[row], next[*it]))
            p.changed.append(*it);
    }
    for (qsizetype i = 0; i < n && !p.reset; ++i)
        if (!matched[size_t(i)])
            addRow(p.insertions, i);
    if (p.removals.size() + p.insertions.size() > kMaxBlocks)
        p.reset = true;
    if (p.reset) {
        p.removals.clear();
        p.insertions.clear();
        p.changed.clear();
    }
    p.next = std::move(next);
    return p;
}

void ConversionTaskModel::setTasks(QList<ConversionTask> tasks) {
    // Planned into a variable: the snapshot of the list must be gone before the list changes,
    // or the change copies it.
    TaskListPlan p = plan(m_tasks, std::move(tasks), m_revision);
    apply(std::move(p));
}

void ConversionTaskModel::apply(TaskListPlan p) {
    if (p.basedOn != m_revision)
        p = plan(m_tasks, std::move(p.next), m_revision);
    if (p.unchanged()) {
        retire(p.next, p.folded);
        return;
    }
    ++m_revision;
    const qsizetype oldCount = m_tasks.size();
    if (p.reset) {
        beginResetModel();
        std::swap(m_tasks, p.next);
        std::swap(m_folded, p.folded);
        endResetModel();
    } else {
        for (auto it = p.removals.crbegin(); it != p.removals.crend(); ++it) {
            beginRemoveRows({}, int(it->first), int(it->second));
            m_tasks.remove(it->first, it->second - it->first + 1);
            m_folded.remove(it->first, it->second - it->first + 1);
            endRemoveRows();
        }
        for (const auto &[first, last] : std::as_const(p.insertions)) {
            const qsizetype count = last - first + 1;
            beginInsertRows({}, int(first), int(last));
            if (m_tasks.isEmpty() && count == p.next.size()) {
                std::swap(m_tasks, p.next);
                std::swap(m_folded, p.folded);
            } else {
                m_tasks.insert(first, count, ConversionTask{});
                m_folded.insert(first, count, QString());
                for (qsizetype row = first; row <= last; ++row) {
                    m_tasks[row] = std::move(p.next[row]);
                    m_folded[row] = std::move(p.folded[row]);
                }
            }
            endInsertRows();
        }
        QList<TaskListPlan::Range> changed;
        for (qsizetype row : std::as_const(p.changed)) {
            m_tasks[row] = std::move(p.next[row]);
            m_folded[row] = std::move(p.folded[row]);
            addRow(changed, row);
        }
        if (changed.size() > kMaxChangedBlocks)
            changed = {{changed.first().first, changed.last().second}};
        for (const auto &[first, last] : std::as_const(changed))
            Q_EMIT dataChanged(index(int(first)), index(int(last)));
    }
    retire(p.next, p.folded);
    if (m_tasks.size() != oldCount)
        Q_EMIT countChanged();
    Q_EMIT tasksChanged();
}

void ConversionTaskModel::insertFront(const ConversionTask &task) {
    beginInsertRows({}, 0, 0);
    ++m_revision;
    m_tasks.prepend(task);
    m_folded.prepend(fold(task.fileName));
    endInsertRows();
    Q_EMIT countChanged();
    Q_EMIT tasksChanged();
}

void ConversionTaskModel::replaceAt(qsizetype row, const ConversionTask &task) {
    if (row < 0 || row >= m_tasks.size())
        return;
    ++m_revision;
    m_tasks[row] = task;
    m_folded[row] = fold(task.fileName);
    const QModelIndex i = index(int(row));
    Q_EMIT dataChanged(i, i);
    Q_EMIT tasksChanged();
}

qsizetype ConversionTaskModel::indexOfId(const QString &id) const {
    for (qsizetype i = 0; i < m_tasks.size(); ++i)
        if (m_tasks[i].id == id)
            return i;
    return -1;
}

void ConversionTaskModel::notifyChanged() {
    if (!m_tasks.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_tasks.size()) - 1));
    Q_EMIT tasksChanged();
}

} // namespace quorvel
