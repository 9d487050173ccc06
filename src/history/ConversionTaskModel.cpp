#include "history/ConversionTaskModel.h"

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

void ConversionTaskModel::setTasks(QList<ConversionTask> tasks) {
    beginResetModel();
    m_tasks = std::move(tasks);
    m_folded.clear();
    m_folded.reserve(m_tasks.size());
    for (const ConversionTask &t : std::as_const(m_tasks))
        m_folded.append(fold(t.fileName));
    endResetModel();
    Q_EMIT countChanged();
    Q_EMIT tasksChanged();
}

void ConversionTaskModel::insertFront(const ConversionTask &task) {
    beginInsertRows({}, 0, 0);
    m_tasks.prepend(task);
    m_folded.prepend(fold(task.fileName));
    endInsertRows();
    Q_EMIT countChanged();
    Q_EMIT tasksChanged();
}

void ConversionTaskModel::replaceAt(qsizetype row, const ConversionTask &task) {
    if (row < 0 || row >= m_tasks.size())
        return;
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
