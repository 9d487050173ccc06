#pragma once

#include <QString>

#include <optional>

namespace quorvel::server {

struct PdfInfo {
    bool readable = false;  // poppler could parse it
    bool encrypted = false; // needs a password to open
    int pages = 0;
};

PdfInfo pdfInfo(const QString &path);

// Markdown from a PDF's text layer: headings from font size (and whole bold
// lines), paragraphs from line spacing, bullet and numbered lists, monospace
// runs as code blocks, in poppler's reading order.
std::optional<QString> pdfToMarkdown(const QString &path, QString *error);

} // namespace quorvel::server
