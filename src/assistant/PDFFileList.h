#pragma once

#include "history/ConversionTaskModel.h"
#include "service/WireRecords.h"

#include <QAbstractListModel>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

// The assistant's "my PDF files": the account's completed jobs, searched by file name and
// cut into pages as wide as the page allows. The rows are the current page's files; the
// selection spans all pages and is what the feature pages work on.
class PDFFileList : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The assistant page owns its file list")
    Q_PROPERTY(
        QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged FINAL)
    Q_PROPERTY(double windowWidth READ windowWidth WRITE setWindowWidth NOTIFY layoutChanged FINAL)
    // The grid the page is shown in: once its columns are known, a page holds columns × rows
    // files (the window's width only guesses until then).
    Q_PROPERTY(int pageColumns READ pageColumns WRITE setPageColumns NOTIFY layoutChanged FINAL)
    Q_PROPERTY(int pageRows READ pageRows WRITE setPageRows NOTIFY layoutChanged FINAL)
    Q_PROPERTY(int currentPage READ currentPage WRITE setCurrentPage NOTIFY layoutChanged FINAL)
    Q_PROPERTY(int itemsPerPage READ itemsPerPage NOTIFY layoutChanged FINAL)
    Q_PROPERTY(int totalPages READ totalPages NOTIFY layoutChanged FINAL)
    Q_PROPERTY(int completedCount READ completedCount NOTIFY layoutChanged FINAL)
    Q_PROPERTY(int filteredCount READ filteredCount NOTIFY layoutChanged FINAL)
    Q_PROPERTY(int selectedCount READ selectedCount NOTIFY selectionChanged FINAL)
    Q_PROPERTY(bool areAllCurrentFilesSelected READ areAllCurrentFilesSelected NOTIFY
                   selectionChanged FINAL)

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        FileNameRole,
        StatusRole,
        TypeIconRole,
        FirstColorRole,
        SecondColorRole,
        IsSelectedRole,
    };

    explicit PDFFileList(QObject *parent = nullptr);

    void setSource(ConversionTaskModel *source);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    double windowWidth() const { return m_windowWidth; }
    void setWindowWidth(double width);
    int pageColumns() const { return m_pageColumns; }
    void setPageColumns(int columns);
    int pageRows() const { return m_pageRows; }
    void setPageRows(int rows);
    int currentPage() const { return m_currentPage; }
    void setCurrentPage(int page);
    int itemsPerPage() const;
    int totalPages() const;
    int completedCount() const { return int(m_completedRows.size()); }
    int filteredCount() const { return int(m_filteredRows.size()); }
    int selectedCount() const { return int(m_selection.size()); }
    bool areAllCurrentFilesSelected() const;

    // The current page's files.
    const QList<ConversionTask> &paginatedFiles() const { return m_page; }
    // The selected files, in the order they were picked.
    const QList<ConversionTask> &selectedFiles() const { return m_selection; }
    bool isSelected(const QString &taskId) const;
    std::optional<ConversionTask> task(const QString &taskId) const;

    Q_INVOKABLE void toggleSelection(const QString &taskId);
    Q_INVOKABLE void toggleSelectAllCurrentPage();
    void clearSelection();
    Q_INVOKABLE void previousPage();
    Q_INVOKABLE void nextPage();

Q_SIGNALS:
    void searchTextChanged();
    void layoutChanged();
    void selectionChanged();

private:
    void reloadCompleted();
    void refilter();
    // Recomputes the page's files; past the last page the page stays empty until the
    // queued correction moves to the last page.
    void repaginate();
    void clampPage();

    QPointer<ConversionTaskModel> m_source;
    // Rows of the source's completed jobs, and of those the search keeps: positions, not
    // copies, so a change of a long history costs a scan, not a copy of every completed job.
    // Made again on every change of the source.
    QList<qsizetype> m_completedRows;
    QList<qsizetype> m_filteredRows;
    QList<ConversionTask> m_page;
    QList<ConversionTask> m_selection;
    QSet<QString> m_selectedIds;
    QString m_searchText;
    double m_windowWidth = 1000;
    int m_pageColumns = 0;
    int m_pageRows = 1;
    int m_currentPage = 1;
    bool m_correctionQueued = false;
};

} // namespace quorvel
