#include "ReaderPaging.h"

#include <algorithm>

namespace quorvel {

void ReaderPaging::setUrl(const QUrl &url) {
    if (url == m_url)
        return;
    m_url = url;
    emit changed();
    setCurrentPage(0);
}

void ReaderPaging::setDocumentPageCount(int count) {
    if (count == m_documentPageCount)
        return;
    m_documentPageCount = count;
    settle();
}

void ReaderPaging::setDocumentFailed(bool failed) {
    if (failed == m_documentFailed)
        return;
    m_documentFailed = failed;
    settle();
}

void ReaderPaging::setCurrentPage(int page) {
    page = std::clamp(page, 0, totalPages() - 1);
    if (page == m_currentPage)
        return;
    m_currentPage = page;
    emit changed();
}

int ReaderPaging::totalPages() const {
    return !m_documentFailed && m_documentPageCount > 0 ? m_documentPageCount : 1;
}

QString ReaderPaging::counterText() const {
    return QStringLiteral("%1 / %2").arg(m_currentPage + 1).arg(totalPages());
}

QString ReaderPaging::errorText() const {
    return m_documentFailed ? tr("Cannot open %1 as a PDF").arg(fileName()) : QString();
}

void ReaderPaging::settle() {
    // The count changed: the page stays inside the document, and the counter and the enabled
    // directions change with the count.
    m_currentPage = std::clamp(m_currentPage, 0, totalPages() - 1);
    emit changed();
}

} // namespace quorvel
