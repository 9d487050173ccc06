#include "history/ConversionTaskModel.h"

#include "history/TaskLook.h"
#include "service/BackgroundWork.h"
#include "service/JobStatus.h"

#include <iterator>
#include <vector>

namespace quorvel {

int ConversionTaskModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_tasks.size());
}

QVariant ConversionTaskModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_tasks.size())
        return {};
    const ConversionTask &t = m_tasks[index.row()];
    if (role == Qt::DisplayRole)
        return t.fileName;
    if (role == TaskRole)
        return QVariant::fromValue(t);
    if (role > TaskRole)
        return lookOf(t, role);
    const int field = role - FirstFieldRole;
    if (field < 0 || field >= kTaskFieldCount)
        return {};
    const TaskField &f = kTaskFields[field];
    return f.number ? QVariant(t.*f.number) : QVariant(t.*f.text);
}

namespace {
constexpr const char *kLookRoleNames[] = {
    "statusText", "statusTone",    "badgeCompleted",    "cardIcon",        "cardIconTone",
    "sheetIcon",  "sheetIconTone", "statusIconBounces", "typeIcon",        "pagesText",
    "action",     "showsResult",   "canPreview",        "shownFailReason", "shownNote"};
static_assert(std::size(kLookRoleNames) ==
              ConversionTaskModel::LastRole - ConversionTaskModel::TaskRole);
} // namespace

QVariant ConversionTaskModel::lookOf(const ConversionTask &t, int role) {
    const bool completed = hasStatus(t.status, JobStatus::Completed);
    switch (role) {
    case StatusTextRole:
        return TaskLook::statusText(t.status);
    case StatusToneRole:
        return int(TaskLook::statusTone(t.status));
    case BadgeCompletedRole:
    case ShowsResultRole:
        return completed;
    case CardIconRole:
        return TaskLook::cardGlyph(t.status).icon;
    case CardIconToneRole:
        return int(TaskLook::cardGlyph(t.status).tone);
    case SheetIconRole:
        return TaskLook::sheetGlyph(t.status).icon;
    case SheetIconToneRole:
        return int(TaskLook::sheetGlyph(t.status).tone);
    case StatusIconBouncesRole:
        return !isFinished(t.status);
    case TypeIconRole:
        return TaskLook::typeIcon(t.typ);
    case PagesTextRole:
        return TaskLook::pagesText(t.pageNumber);
    case ActionRole:
        return TaskLook::action(t.status);
    case CanPreviewRole:
        return completed && t.resultFileTyp.compare(u"pdf", Qt::CaseInsensitive) == 0;
    case ShownFailReasonRole:
        return hasStatus(t.status, JobStatus::Failed) ? t.failReason : QString();
    case ShownNoteRole:
        return completed ? t.note : QString();
    default:
        return {};
    }
}

QHash<int, QByteArray> ConversionTaskModel::roleNames() const {
    QHash<int, QByteArray> names{{TaskRole, "task"}};
    for (int i = 0; i < int(std::size(kLookRoleNames)); ++i)
        names.insert(TaskRole + 1 + i, kLookRoleNames[i]);
    for (int i = 0; i < kTaskFieldCount; ++i)
        names.insert(FirstFieldRole + i,
                     QByteArray(kTaskFields[i].name.data(), kTaskFields[i].name.size()));
    return names;
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

NameIndex NameIndex::of(const QList<QString> &folded) {
    NameIndex index;
    qsizetype total = 0;
    for (const QString &name : folded)
        total += name.size() + 1;
    index.text.reserve(total);
    index.starts.reserve(folded.size() + 1);
    for (const QString &name : folded) {
        index.starts.append(index.text.size());
        index.text.append(name);
        index.text.append(QChar(u'\0'));
    }
    index.starts.append(index.text.size());
    return index;
}

QList<qsizetype> NameIndex::rowsContaining(QStringView needle) const {
    const QStringView all(text);
    QList<qsizetype> rows;
    qsizetype row = 0;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = all.indexOf(needle, from);
        if (at < 0)
            break;
        while (starts[row + 1] <= at)
            ++row;
        const qsizetype nameEnd = starts[row + 1] - 1; // the separator after the name
        if (at + needle.size() <= nameEnd) {
            rows.append(row);
            from = starts[row + 1];
        } else {
            from = at + 1; // the hit runs into the next name
        }
    }
    return rows;
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

// Room kept free at each end of a list the model adopts whole.
constexpr qsizetype kRoom = 256;

// The list in storage with free room at both ends: a job inserted later at the top (where new
// jobs appear) or anywhere else moves the others within that storage instead of copying the
// whole list into fresh memory, which on the GUI thread takes many frames for a large list.
template <typename T> QList<T> withRoom(QList<T> list) {
    QList<T> out;
    out.reserve(list.size() + 2 * kRoom);
    out.resize(kRoom);
    out.append(std::move(list));
    out.remove(0, kRoom); // the front's storage stays free
    return out;
}

// Freeing a list of many jobs takes longer than a frame: it happens on a worker thread.
template <typename... Lists> void retire(Lists &&...lists) {
    if ((lists.isEmpty() && ...))
        return;
    backgroundPool().start([... dead = std::move(lists)]() mutable {
        giveWayToTheWindow();
        ((dead = {}), ...);
    });
}

} // namespace

bool sameJob(const ConversionTask &a, const ConversionTask &b) {
    return a.sameContent(b);
}

TaskListPlan ConversionTaskModel::plan(QList<ConversionTask> old, QList<ConversionTask> next,
                                       quint64 revision, bool forView) {
    TaskListPlan p;
    p.basedOn = revision;
    p.folded.reserve(next.size());
    for (const ConversionTask &t : std::as_const(next))
        p.folded.append(fold(t.fileName));
    if (forView) {
        p.index = NameIndex::of(p.folded);
        p.indexed = true;
    }
    const auto roomy = [forView](auto list) { return forView ? withRoom(std::move(list)) : list; };
    const qsizetype n = next.size();
    if (old.isEmpty() || n == 0) {
        if (!old.isEmpty())
            p.removals.append({0, old.size() - 1});
        if (n > 0)
            p.insertions.append({0, n - 1});
        p.next = roomy(std::move(next));
        p.folded = roomy(std::move(p.folded));
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
        p.next = roomy(std::move(next));
        p.folded = roomy(std::move(p.folded));
        return p;
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
        p = plan(m_tasks, std::move(p.next), m_revision, p.indexed);
    if (p.unchanged()) {
        // The same names: the index already in place is right; the one planned goes too.
        if (!m_indexValid && p.indexed) {
            std::swap(m_index, p.index);
            m_indexValid = true;
        }
        retire(p.next, p.folded, p.index.text, p.index.starts);
        return;
    }
    ++m_revision;
    const qsizetype oldCount = m_tasks.size();
    // The index describes the new list: while the rows move, there is none.
    m_indexValid = false;
    const auto takeIndex = [&] {
        std::swap(m_index, p.index);
        m_indexValid = p.indexed;
    };
    if (p.reset) {
        beginResetModel();
        std::swap(m_tasks, p.next);
        std::swap(m_folded, p.folded);
        takeIndex();
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
        takeIndex();
        if (changed.size() > kMaxChangedBlocks)
            changed = {{changed.first().first, changed.last().second}};
        for (const auto &[first, last] : std::as_const(changed))
            Q_EMIT dataChanged(index(int(first)), index(int(last)));
    }
    retire(p.next, p.folded, p.index.text, p.index.starts);
    if (m_tasks.size() != oldCount)
        Q_EMIT countChanged();
    Q_EMIT tasksChanged();
}

void ConversionTaskModel::insertFront(const ConversionTask &task) {
    beginInsertRows({}, 0, 0);
    ++m_revision;
    m_tasks.prepend(task);
    m_folded.prepend(fold(task.fileName));
    m_indexValid = false;
    endInsertRows();
    Q_EMIT countChanged();
    Q_EMIT tasksChanged();
}

void ConversionTaskModel::replaceAt(qsizetype row, const ConversionTask &task) {
    if (row < 0 || row >= m_tasks.size())
        return;
    ++m_revision;
    m_tasks[row] = task;
    QString folded = fold(task.fileName);
    if (folded != m_folded[row])
        m_indexValid = false;
    m_folded[row] = std::move(folded);
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
