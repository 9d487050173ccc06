#pragma once

#include "service/WireRecords.h"

#include <QAbstractListModel>

namespace quorvel {

// The account's jobs in the service's order, as a list model for views.
class ConversionTaskModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)
public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        UserIdRole,
        TypRole,
        FileNameRole,
        PageNumberRole,
        SourceFilePathRole,
        SourceFileTypRole,
        ResultFileTypRole,
        SourceFileMd5Role,
        StatusRole,
        CreateAtRole,
        TaskRole, // the whole record as a QVariant
    };
    Q_ENUM(Role)

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<ConversionTask> &tasks() const { return m_tasks; }
    // File names folded for case-insensitive search, one per task.
    const QList<QString> &foldedFileNames() const { return m_folded; }

    void setTasks(QList<ConversionTask> tasks);
    void insertFront(const ConversionTask &task);
    void replaceAt(qsizetype row, const ConversionTask &task);
    // First row whose job has this id, or -1.
    qsizetype indexOfId(const QString &id) const;
    // Tells every observer the list may have changed, even if nothing compares different.
    void notifyChanged();

    // Unicode case folding used by search: full folding (ß ~ ss) on top of Qt's simple one.
    static QString fold(const QString &text);

Q_SIGNALS:
    void countChanged();
    // Any change of content: the filtered view recomputes on it.
    void tasksChanged();

private:
    QList<ConversionTask> m_tasks;
    QList<QString> m_folded;
};

} // namespace quorvel
