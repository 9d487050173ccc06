#pragma once

#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

// Paging of the PDF reader: which page is shown, what the counter reads, which way the reader
// may turn, and what it says when the file is not a PDF. The page view feeds it the document's
// page count and whether opening failed; everything the toolbar shows is read from here.
class ReaderPaging : public QObject {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(QUrl url READ url WRITE setUrl NOTIFY changed FINAL)
    Q_PROPERTY(int documentPageCount READ documentPageCount WRITE setDocumentPageCount NOTIFY
                   changed FINAL)
    Q_PROPERTY(bool documentFailed READ documentFailed WRITE setDocumentFailed NOTIFY changed FINAL)
    Q_PROPERTY(int currentPage READ currentPage WRITE setCurrentPage NOTIFY changed FINAL)
    Q_PROPERTY(int totalPages READ totalPages NOTIFY changed FINAL)
    Q_PROPERTY(bool canGoPrevious READ canGoPrevious NOTIFY changed FINAL)
    Q_PROPERTY(bool canGoNext READ canGoNext NOTIFY changed FINAL)
    Q_PROPERTY(QString counterText READ counterText NOTIFY changed FINAL)
    Q_PROPERTY(QString fileName READ fileName NOTIFY changed FINAL)
    Q_PROPERTY(QString errorText READ errorText NOTIFY changed FINAL)

public:
    using QObject::QObject;

    QUrl url() const { return m_url; }
    // A new file starts on its first page.
    void setUrl(const QUrl &url);

    int documentPageCount() const { return m_documentPageCount; }
    void setDocumentPageCount(int count);
    bool documentFailed() const { return m_documentFailed; }
    void setDocumentFailed(bool failed);

    int currentPage() const { return m_currentPage; }
    // Kept within the document: a page outside 0 .. totalPages - 1 is clamped.
    void setCurrentPage(int page);
    // 1 until the document's count is known, and for a file that cannot be opened.
    int totalPages() const;
    bool canGoPrevious() const { return m_currentPage > 0; }
    bool canGoNext() const { return m_currentPage < totalPages() - 1; }
    QString counterText() const;
    QString fileName() const { return m_url.fileName(); }
    // Empty while the document is (or may still become) readable.
    QString errorText() const;

    Q_INVOKABLE void previous() { setCurrentPage(m_currentPage - 1); }
    Q_INVOKABLE void next() { setCurrentPage(m_currentPage + 1); }
    Q_INVOKABLE void first() { setCurrentPage(0); }
    Q_INVOKABLE void last() { setCurrentPage(totalPages() - 1); }

signals:
    // One signal for all: every property is cheap to read again.
    void changed();

private:
    void settle();

    QUrl m_url;
    int m_documentPageCount = 0;
    bool m_documentFailed = false;
    int m_currentPage = 0;
};

} // namespace quorvel
