#pragma once

#include "service/WireRecords.h"

#include <QAbstractListModel>

namespace quorvel {

// Every folded file name of a list in one text, each followed by a separator, and where each
// begins (plus the end): one scan of it finds every name holding a text, far quicker than
// one search per name.
struct NameIndex {
    QString text;
    QList<qsizetype> starts;

    static NameIndex of(const QList<QString> &folded);
    // Rows whose name contains `needle` (already folded), ascending.
    QList<qsizetype> rowsContaining(QStringView needle) const;
};

// How to turn one job list into another with the fewest model signals: rows that vanished
// are removed, new rows inserted, rows whose job changed updated in place. Planned away
// from the GUI thread for a large list; `reset` when the order of kept jobs changed, ids
// repeat, or the edits are too scattered to apply quickly.
struct TaskListPlan {
    using Range = std::pair<qsizetype, qsizetype>; // first and last row, inclusive
    QList<ConversionTask> next;
    QList<QString> folded; // of `next`, row by row
    NameIndex index;       // of `folded`, when planned for a view
    bool indexed = false;
    bool reset = false;
    QList<Range> removals;    // rows of the old list, ascending
    QList<Range> insertions;  // rows of the new list, ascending
    QList<qsizetype> changed; // rows of the new list whose job changed
    quint64 basedOn = 0;      // the list's revision the plan was made against

    bool unchanged() const {
        return !reset && removals.isEmpty() && insertions.isEmpty() && changed.isEmpty();
    }
};

// Every field, not only the id that identifies a job.
bool sameJob(const ConversionTask &a, const ConversionTask &b);

// The account's jobs in the service's order, as a list model for views.
class ConversionTaskModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged FINAL)
public:
    enum Role {
        // One role per field of the job, in the order of kTaskFields, named after it.
        FirstFieldRole = Qt::UserRole + 1,
        TaskRole = FirstFieldRole + int(kTaskFieldCount), // the whole record as a QVariant
        // How the job looks on its card and in the sheet, from the job alone (a retry the
        // view runs changes some of these; the view combines that state itself). Each is a
        // switch on the status or one field: no look-up, at most one short string built.
        StatusTextRole,     // "Completed", "Failed", "Converting"
        StatusToneRole,     // the tone of that text (TaskLook::Tone)
        BadgeCompletedRole, // the badge shows a completed job
        CardIconRole,       // the card's status icon and its tone
        CardIconToneRole,
        SheetIconRole, // the sheet's status icon and its tone
        SheetIconToneRole,
        StatusIconBouncesRole, // work in progress: its icon bounces
        TypeIconRole,
        PagesTextRole,       // the page count, or "unknown"
        ActionRole,          // "download", "retry" or ""
        ShowsResultRole,     // a completed job: its result type shows
        CanPreviewRole,      // a completed job with a PDF result
        ShownFailReasonRole, // why a failed job failed; empty for any other job
        ShownNoteRole,       // what the service says of a completed job; empty otherwise
        LastRole = ShownNoteRole,
    };
    Q_ENUM(Role)

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<ConversionTask> &tasks() const { return m_tasks; }
    // File names folded for case-insensitive search, one per task.
    const QList<QString> &foldedFileNames() const { return m_folded; }
    // The index of those names, or null while there is none: a change made here has left it
    // behind, or the list was published without one (see `plan`).
    const NameIndex *nameIndex() const { return m_indexValid ? &m_index : nullptr; }
    // Counts every change of the list, so a plan made on a snapshot can tell it is stale.
    quint64 revision() const { return m_revision; }

    // Publishes a new list through the smallest change (see TaskListPlan).
    void setTasks(QList<ConversionTask> tasks);
    // Pure, safe on any thread: `old` is the list at revision `revision`.
    // `forView`: a window will show the list, so the plan also builds the search index and
    // leaves room for new jobs at the top (work a one-shot caller need not pay for).
    static TaskListPlan plan(QList<ConversionTask> old, QList<ConversionTask> next,
                             quint64 revision, bool forView = false);
    // Applies a plan; one made against an older revision is made again here first.
    void apply(TaskListPlan plan);
    void insertFront(const ConversionTask &task);
    void replaceAt(qsizetype row, const ConversionTask &task);
    // First row whose job has this id, or -1.
    qsizetype indexOfId(const QString &id) const;
    // Tells every observer the list may have changed, even if nothing compares different.
    void notifyChanged();

    // The value of one of the look roles for this job.
    static QVariant lookOf(const ConversionTask &task, int role);

    // Unicode case folding used by search: full folding (ß ~ ss) on top of Qt's simple one.
    static QString fold(const QString &text);

Q_SIGNALS:
    void countChanged();
    // Any change of content.
    void tasksChanged();

private:
    QList<ConversionTask> m_tasks;
    QList<QString> m_folded;
    NameIndex m_index;
    bool m_indexValid = false;
    quint64 m_revision = 0;
};

} // namespace quorvel
