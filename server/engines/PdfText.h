#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace quorvel::server {

struct PdfInfo {
    bool readable = false;  // poppler could parse it
    bool encrypted = false; // needs a password to open
    int pages = 0;
};

// Parses the PDF in a child process when a probe executable is set (the
// service sets itself), so a file that crashes the parser cannot take the
// service down; in this process otherwise.
PdfInfo pdfInfo(const QString &path);
PdfInfo pdfInfoInProcess(const QString &path);
void setIsolatedPdfProbe(const QString &executable);
// The probe's output line, read back by pdfInfo.
QByteArray formatPdfInfo(const PdfInfo &info);

// Markdown from a PDF's text layer: headings from font size (and whole bold
// lines), paragraphs from line spacing, bullet and numbered lists, monospace
// runs as code blocks, in poppler's reading order.
struct MarkdownOptions {
    // Text read by OCR: page-<n>.pdf (one page, 1-based n) stands in for page n of the
    // input when that page has no text layer of its own.
    QString ocrDir;
    // pdftohtml -xml's description of the placed pictures (made at zoom 1): each becomes
    // an image block where it stood. Empty: text only.
    QString imagesXml;
};
struct PageTextReport {
    QList<int> textless; // pages (1-based) without a text layer
    QList<int> longest;  // their longer side, in points
    QList<int> unread;   // of those, the pages no text came from at all
};
std::optional<QString> pdfToMarkdown(const QString &path, QString *error,
                                     const MarkdownOptions &options = {},
                                     PageTextReport *report = nullptr);

// Share of the words of `expected` that `actual` also holds (as a multiset, order aside);
// CJK text has no spaces, so each CJK character counts as a word. 1 when `expected` has none.
double wordRecall(const QString &expected, const QString &actual);

} // namespace quorvel::server
