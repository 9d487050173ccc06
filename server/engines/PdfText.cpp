#include "PdfText.h"

#include "Process.h"

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

namespace quorvel::server {

namespace {

void quietPoppler() {
    static std::once_flag once;
    std::call_once(once, [] {
        poppler::set_debug_error_function([](const std::string &, void *) {}, nullptr);
    });
}

std::unique_ptr<poppler::document> openPdf(const QString &path) {
    quietPoppler();
    return std::unique_ptr<poppler::document>(
        poppler::document::load_from_file(QFile::encodeName(path).toStdString()));
}

QString fromUstring(const poppler::ustring &u) {
    const poppler::byte_array bytes = u.to_utf8();
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

struct Word {
    QString text;
    double x, y, w, h, size;
    bool bold, mono, spaceAfter;
};

struct Line {
    QString text;
    double x = 0, top = 0, bottom = 0, right = 0, size = 0;
    bool bold = true, mono = true;
    double widestGap = 0; // wide gaps between words mark table rows, not prose
    QStringList cells;    // more than one: a table row, cells left to right
    double widestCell = 0;
    int page = 0;
    bool image = false; // a placed picture; `text` is its file
};

bool fontIsBold(const std::string &name) {
    const QString n = QString::fromLatin1(name.c_str()).toLower();
    return n.contains(QLatin1String("bold")) || n.contains(QLatin1String("black")) ||
           n.contains(QLatin1String("heavy"));
}

bool fontIsMono(const std::string &name) {
    const QString n = QString::fromLatin1(name.c_str()).toLower();
    return n.contains(QLatin1String("mono")) || n.contains(QLatin1String("courier")) ||
           n.contains(QLatin1String("consol"));
}

// A column gutter: an x that no line of prose crosses while lines stand on both sides,
// those on the right starting at one left edge. 0 when the lines make one column.
double findGutter(const std::vector<Line> &lines, double from, double to) {
    if (lines.size() < 6)
        return 0;
    double best = 0, bestRun = 0, runStart = -1;
    for (double x = from; x <= to; x += 2) {
        int crossing = 0;
        for (const Line &l : lines)
            crossing += l.x < x - 1 && l.right > x + 1;
        if (crossing * 20 <= int(lines.size())) {
            if (runStart < 0)
                runStart = x;
            if (x - runStart > bestRun) {
                bestRun = x - runStart;
                best = (runStart + x) / 2;
            }
        } else {
            runStart = -1;
        }
    }
    if (best <= 0 || bestRun < 6)
        return 0;
    std::vector<double> rightEdges;
    int left = 0;
    for (const Line &l : lines) {
        if (l.right <= best)
            ++left;
        else if (l.x >= best)
            rightEdges.push_back(l.x);
    }
    if (left < 3 || rightEdges.size() < 3)
        return 0;
    const double margin = *std::min_element(rightEdges.begin(), rightEdges.end());
    const auto atMargin = std::count_if(rightEdges.begin(), rightEdges.end(),
                                        [&](double x) { return x - margin < 3; });
    return atMargin * 2 >= qsizetype(rightEdges.size()) ? best : 0;
}

// Multi-column pages read column by column: lines that span the gutter (titles, wide
// tables) divide the page into bands, and each band is read left column, then right.
void columnOrder(std::vector<Line> &lines, double pageWidth) {
    std::vector<Line> sorted = lines;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Line &a, const Line &b) { return a.top < b.top - 1; });
    std::vector<double> gutters;
    std::vector<Line> rest = sorted;
    // Up to three gutters, found left to right in what lies right of the last one.
    double from = pageWidth * 0.15;
    for (int i = 0; i < 3; ++i) {
        const double g = findGutter(rest, from, pageWidth * 0.85);
        if (g <= 0)
            break;
        gutters.push_back(g);
        std::vector<Line> right;
        for (const Line &l : rest)
            if (l.x >= g || l.right > g)
                right.push_back(l);
        rest = std::move(right);
        from = g + pageWidth * 0.1;
    }
    if (gutters.empty())
        return;
    auto columnOf = [&](const Line &l) {
        int c = 0;
        for (double g : gutters) {
            if (l.x < g && l.right > g)
                return -1; // spans a gutter
            if (l.x >= g)
                ++c;
        }
        return c;
    };
    std::vector<Line> out;
    std::vector<std::vector<Line>> columns(gutters.size() + 1);
    auto flush = [&] {
        for (auto &c : columns) {
            out.insert(out.end(), c.begin(), c.end());
            c.clear();
        }
    };
    for (const Line &l : sorted) {
        const int c = columnOf(l);
        if (c < 0) {
            flush();
            out.push_back(l);
        } else {
            columns[size_t(c)].push_back(l);
        }
    }
    flush();
    lines = std::move(out);
}

struct PlacedImage {
    QString file;
    double x, top, right, bottom;
};

// The pictures pdftohtml -xml found (at zoom 1, so in points), by page number.
std::map<int, std::vector<PlacedImage>> placedImages(const QString &xmlPath) {
    std::map<int, std::vector<PlacedImage>> out;
    QFile f(xmlPath);
    if (xmlPath.isEmpty() || !f.open(QIODevice::ReadOnly))
        return out;
    QXmlStreamReader xml(&f);
    int page = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = xml.attributes();
        if (xml.name() == QLatin1String("page")) {
            page = a.value(QLatin1String("number")).toInt();
        } else if (xml.name() == QLatin1String("image") && page > 0) {
            // A flipped picture has a negative extent; rules and dots are no pictures.
            const double left = a.value(QLatin1String("left")).toDouble();
            const double top = a.value(QLatin1String("top")).toDouble();
            const double w = a.value(QLatin1String("width")).toDouble();
            const double h = a.value(QLatin1String("height")).toDouble();
            if (std::abs(w) < 8 || std::abs(h) < 8)
                continue;
            out[page].push_back({a.value(QLatin1String("src")).toString(), std::min(left, left + w),
                                 std::min(top, top + h), std::max(left, left + w),
                                 std::max(top, top + h)});
        }
    }
    return out;
}

// Each picture goes into the reading order before the first line below its top edge
// in its own column, or after the page's last line.
void placeImages(std::vector<Line> &lines, const std::vector<PlacedImage> &images, int page) {
    for (const PlacedImage &img : images) {
        Line l;
        l.text = img.file;
        l.x = img.x;
        l.right = img.right;
        l.top = img.top;
        l.bottom = img.bottom;
        l.page = page;
        l.image = true;
        auto at = std::find_if(lines.begin(), lines.end(), [&](const Line &t) {
            return !t.image && t.top >= img.top && t.x < img.right && t.right > img.x;
        });
        if (at == lines.end())
            at = std::find_if(lines.begin(), lines.end(),
                              [&](const Line &t) { return !t.image && t.top >= img.top; });
        lines.insert(at, l);
    }
}

// Running headers and footers: text at the same place near the top or bottom edge of
// most pages, page numbers counted as one text. They are not part of the body.
void dropPageFurniture(std::vector<Line> &lines, const std::vector<double> &pageHeights) {
    const int pages = int(pageHeights.size());
    if (pages < 3)
        return;
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    auto key = [&](const Line &l) -> QString {
        const double h = pageHeights[size_t(l.page)];
        const bool top = l.bottom<h * 0.12, bottom = l.top> h * 0.88;
        if (!top && !bottom)
            return {};
        return QString(l.text).replace(digits, QStringLiteral("#")).simplified() +
               QStringLiteral("@%1").arg(std::lround(l.top / 6));
    };
    std::map<QString, std::set<int>> seen;
    for (const Line &l : lines)
        if (const QString k = key(l); !k.isEmpty())
            seen[k].insert(l.page);
    std::erase_if(lines, [&](const Line &l) {
        const QString k = key(l);
        return !k.isEmpty() && int(seen[k].size()) * 2 > pages && seen[k].size() >= 3;
    });
}

std::vector<Line> linesOfPage(poppler::page &page, int pageIndex) {
    const double narrow = page.page_rect().width() * 0.3;
    std::vector<Word> words;
    for (const poppler::text_box &b : page.text_list(poppler::page::text_list_include_font)) {
        const poppler::rectf r = b.bbox();
        Word w{fromUstring(b.text()),
               r.x(),
               r.y(),
               r.width(),
               r.height(),
               b.has_font_info() ? b.get_font_size() : r.height(),
               b.has_font_info() && fontIsBold(b.get_font_name()),
               b.has_font_info() && fontIsMono(b.get_font_name()),
               b.has_space_after()};
        if (w.size <= 0)
            w.size = std::max(r.height(), 1.0);
        if (!w.text.trimmed().isEmpty())
            words.push_back(std::move(w));
    }
    std::vector<Line> lines;
    const Word *prev = nullptr;
    for (const Word &w : words) {
        const double mid = w.y + w.h / 2;
        // A gap of several ems separates table cells, not words; cells become
        // pieces of their own and are joined into a row below.
        bool sameLine = prev && mid > prev->y && mid < prev->y + prev->h &&
                        w.x >= prev->x + prev->w - prev->size * 0.5 &&
                        w.x - (prev->x + prev->w) < prev->size * 2.5;
        if (!sameLine) {
            Line l;
            l.x = w.x;
            l.top = w.y;
            l.bottom = w.y + w.h;
            l.page = pageIndex;
            lines.push_back(l);
        } else {
            const double gap = w.x - (prev->x + prev->w);
            if (prev->spaceAfter || gap > prev->size * 0.15)
                lines.back().text += QLatin1Char(' ');
            lines.back().widestGap = std::max(lines.back().widestGap, gap / prev->size);
        }
        Line &l = lines.back();
        l.text += w.text;
        l.top = std::min(l.top, w.y);
        l.bottom = std::max(l.bottom, w.y + w.h);
        l.right = std::max(l.right, w.x + w.w);
        l.size = std::max(l.size, w.size);
        l.bold = l.bold && w.bold;
        l.mono = l.mono && w.mono;
        prev = &w;
    }
    // Table cells come as separate lines of one row; put each row back together
    // (left to right) so the row reads as one line and is not taken for a heading.
    std::vector<Line> rows;
    for (Line &l : lines) {
        Line *row = nullptr;
        for (std::size_t k = rows.size(); k > 0 && k + 8 > rows.size(); --k) {
            Line &r = rows[k - 1];
            // Only narrow pieces: side-by-side columns of prose must stay apart.
            if (l.right - l.x < narrow && r.widestCell < narrow &&
                std::abs(r.top - l.top) < l.size * 0.3 &&
                std::abs(r.bottom - l.bottom) < l.size * 0.3 &&
                (l.x >= r.right + l.size || l.right + l.size <= r.x)) {
                row = &r;
                break;
            }
        }
        if (!row) {
            rows.push_back(l);
            rows.back().cells = {l.text};
            rows.back().widestCell = l.right - l.x;
            continue;
        }
        const bool after = l.x >= row->right;
        row->widestCell = std::max(row->widestCell, l.right - l.x);
        if (after)
            row->cells.append(l.text);
        else
            row->cells.prepend(l.text);
        const double gap = (after ? l.x - row->right : row->x - l.right) / l.size;
        row->text =
            after ? row->text + QLatin1Char(' ') + l.text : l.text + QLatin1Char(' ') + row->text;
        row->x = std::min(row->x, l.x);
        row->right = std::max(row->right, l.right);
        row->size = std::max(row->size, l.size);
        row->bold = row->bold && l.bold;
        row->mono = row->mono && l.mono;
        row->widestGap = std::max({row->widestGap, l.widestGap, gap});
    }
    columnOrder(rows, page.page_rect().width());
    return rows;
}

bool asciiPunct(QChar c) {
    static const QLatin1StringView punct("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~");
    return c.unicode() < 128 && punct.contains(c);
}

// Escapes only what CommonMark (with the table and strikethrough extensions) would
// read as syntax; a backslash before anything else stays visible in the result.
QString escapeInline(const QString &text) {
    QString out;
    out.reserve(text.size() + 8);
    const qsizetype n = text.size();
    auto at = [&](qsizetype i) { return i >= 0 && i < n ? text.at(i) : QChar(); };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        bool escape = false;
        switch (c.unicode()) {
        case '*':
        case '`':
        case '[':
        case '~':
            escape = true;
            break;
        case '\\': // escapes the next character, or is a hard break at the end
            escape = i + 1 == n || asciiPunct(at(i + 1));
            break;
        case '_': // inside a word it cannot open or close emphasis
            escape = !(at(i - 1).isLetterOrNumber() && at(i + 1).isLetterOrNumber());
            break;
        case '<': // an autolink or raw HTML tag
            escape = at(i + 1).isLetter() || at(i + 1) == QLatin1Char('/') ||
                     at(i + 1) == QLatin1Char('!') || at(i + 1) == QLatin1Char('?');
            break;
        case '&': // an entity reference
            escape = at(i + 1).isLetter() || at(i + 1) == QLatin1Char('#');
            break;
        default:
            break;
        }
        if (escape)
            out += QLatin1Char('\\');
        out += c;
    }
    // A line that starts like block syntax would change meaning: "1." or "1)" before a
    // space starts a list and is escaped after the digits, as "1\."; "1.5" is plain text.
    static const QRegularExpression listNumber(QStringLiteral("^(\\d{1,9})([.)])(\\s|$)"));
    static const QRegularExpression marker(QStringLiteral("^([-+]|#{1,6})(\\s|$)"));
    static const QRegularExpression rule(QStringLiteral("^(=+|-+)\\s*$"));
    if (const auto m = listNumber.match(out); m.hasMatch())
        out.insert(m.capturedLength(1), QLatin1Char('\\'));
    else if (out.startsWith(QLatin1Char('>')) || marker.match(out).hasMatch() ||
             rule.match(out).hasMatch())
        out.prepend(QLatin1Char('\\'));
    return out;
}

double roundSize(double s) {
    return std::round(s * 2) / 2;
}

} // namespace

namespace {
std::mutex g_probeMutex;
QString g_probe; // executable that runs `engine pdfinfo`; empty: parse in this process
} // namespace

void setIsolatedPdfProbe(const QString &executable) {
    std::lock_guard lock(g_probeMutex);
    g_probe = executable;
}

PdfInfo pdfInfoInProcess(const QString &path) {
    PdfInfo info;
    auto doc = openPdf(path);
    if (!doc)
        return info;
    info.readable = true;
    info.encrypted = doc->is_locked();
    info.pages = doc->is_locked() ? 0 : doc->pages();
    return info;
}

QByteArray formatPdfInfo(const PdfInfo &info) {
    return QByteArray("readable=") + (info.readable ? "1" : "0") +
           " encrypted=" + (info.encrypted ? "1" : "0") +
           " pages=" + QByteArray::number(info.pages) + "\n";
}

PdfInfo pdfInfo(const QString &path) {
    QString probe;
    {
        std::lock_guard lock(g_probeMutex);
        probe = g_probe;
    }
    if (probe.isEmpty())
        return pdfInfoInProcess(path);
    // A hostile file that crashes or hangs the parser takes only the child down.
    const QString out = path + QStringLiteral(".probe");
    ProcessCall call;
    call.program = probe;
    call.args = {QStringLiteral("engine"), QStringLiteral("pdfinfo"), path};
    call.workDir = QStringLiteral("/");
    call.env = {QStringLiteral("PATH=/usr/bin:/bin"), QStringLiteral("LANG=C.UTF-8")};
    call.timeout = std::chrono::seconds(60);
    call.limits.addressSpace = std::uint64_t(2) << 30;
    call.limits.fileSize = 64 * 1024;
    call.outputFile = out;
    const ProcessResult r = runProcess(call);
    QFile::remove(out);
    PdfInfo info;
    if (!r.ok())
        return info; // unreadable
    static const QRegularExpression re(
        QStringLiteral("readable=([01]) encrypted=([01]) pages=(\\d+)"));
    const auto m = re.match(r.output);
    if (!m.hasMatch())
        return info;
    info.readable = m.captured(1) == QLatin1String("1");
    info.encrypted = m.captured(2) == QLatin1String("1");
    info.pages = m.captured(3).toInt();
    return info;
}

std::optional<QString> pdfToMarkdown(const QString &path, QString *error,
                                     const MarkdownOptions &options, PageTextReport *report) {
    auto doc = openPdf(path);
    if (!doc) {
        if (error)
            *error = QStringLiteral("the PDF cannot be read");
        return std::nullopt;
    }
    if (doc->is_locked()) {
        if (error)
            *error = QStringLiteral("the PDF is password-protected");
        return std::nullopt;
    }
    const auto images = placedImages(options.imagesXml);
    std::vector<Line> lines;
    std::vector<double> pageHeights(size_t(std::max(doc->pages(), 0)), 0.0);
    for (int i = 0; i < doc->pages(); ++i) {
        std::unique_ptr<poppler::page> p(doc->create_page(i));
        if (!p)
            continue;
        pageHeights[size_t(i)] = p->page_rect().height();
        auto pageLines = linesOfPage(*p, i);
        if (pageLines.empty()) {
            if (report) {
                report->textless << i + 1;
                report->longest << int(
                    std::lround(std::max(p->page_rect().width(), p->page_rect().height())));
            }
            // A scanned page: the text OCR read from it, laid out as a page of its own.
            const QString ocr = options.ocrDir + QStringLiteral("/page-%1.pdf").arg(i + 1);
            if (!options.ocrDir.isEmpty() && QFile::exists(ocr)) {
                auto ocrDoc = openPdf(ocr);
                std::unique_ptr<poppler::page> op(
                    ocrDoc && !ocrDoc->is_locked() && ocrDoc->pages() > 0 ? ocrDoc->create_page(0)
                                                                          : nullptr);
                if (op)
                    pageLines = linesOfPage(*op, i);
            }
            if (pageLines.empty() && report)
                report->unread << i + 1;
            // A picture smaller than half the page is one the page places (a cover's logo);
            // a larger one is the scan itself, which its text stands for.
            if (const auto it = images.find(i + 1); it != images.end()) {
                const double pageArea = p->page_rect().width() * p->page_rect().height();
                std::vector<PlacedImage> placed;
                for (const PlacedImage &img : it->second)
                    if ((img.right - img.x) * (img.bottom - img.top) < pageArea / 2)
                        placed.push_back(img);
                placeImages(pageLines, placed, i);
            }
        } else if (const auto it = images.find(i + 1); it != images.end()) {
            placeImages(pageLines, it->second, i); // a scan's own picture is not kept
        }
        lines.insert(lines.end(), pageLines.begin(), pageLines.end());
    }
    dropPageFurniture(lines, pageHeights);

    // Body size: the size that carries the most characters.
    std::map<double, qsizetype> charsBySize;
    for (const Line &l : lines)
        if (!l.image)
            charsBySize[roundSize(l.size)] += l.text.size();
    double body = 0;
    qsizetype most = -1;
    for (auto &[size, chars] : charsBySize)
        if (chars > most) {
            most = chars;
            body = size;
        }
    // Heading levels: distinct sizes clearly above the body, largest first.
    std::vector<double> headingSizes;
    for (auto &[size, chars] : charsBySize)
        if (size >= body * 1.12 && size > body + 0.9)
            headingSizes.push_back(size);
    std::sort(headingSizes.rbegin(), headingSizes.rend());
    if (headingSizes.size() > 5)
        headingSizes.resize(5);
    auto headingLevel = [&](const Line &l) -> int {
        const double s = roundSize(l.size);
        for (std::size_t i = 0; i < headingSizes.size(); ++i)
            if (s >= headingSizes[i])
                return int(i) + 1;
        return 0;
    };

    static const QRegularExpression bullet(QStringLiteral("^(?:[•◦▪▫‣∙·●○■□–—*-])\\s+(.*)$"));
    static const QRegularExpression numbered(QStringLiteral("^(\\d{1,3})[.)]\\s+(.*)$"));

    QStringList blocks;
    QString para;       // paragraph or list item being built
    QString paraPrefix; // "- ", "1. " or "" for a paragraph
    QStringList code;
    bool lastWasItem = false;
    const Line *prev = nullptr;
    double paraX = 0;

    auto flushPara = [&] {
        const bool item = !paraPrefix.isEmpty() && !paraPrefix.startsWith(QLatin1Char('#'));
        if (!para.isEmpty() && item && !blocks.isEmpty() && lastWasItem)
            blocks.last() += QLatin1Char('\n') + paraPrefix + para; // keep the list tight
        else if (!para.isEmpty())
            blocks << paraPrefix + para;
        if (!para.isEmpty())
            lastWasItem = item;
        para.clear();
        paraPrefix.clear();
    };
    auto flushCode = [&] {
        if (!code.isEmpty())
            lastWasItem = false;
        if (!code.isEmpty())
            blocks << QStringLiteral("```\n") + code.join(QLatin1Char('\n')) +
                          QStringLiteral("\n```");
        code.clear();
    };
    QList<QStringList> table; // rows of the table being built
    auto flushTable = [&] {
        if (table.isEmpty())
            return;
        auto row = [](const QStringList &cells) {
            QStringList escaped;
            for (const QString &c : cells)
                escaped
                    << escapeInline(c.trimmed()).replace(QLatin1Char('|'), QStringLiteral("\\|"));
            return QStringLiteral("| ") + escaped.join(QStringLiteral(" | ")) +
                   QStringLiteral(" |");
        };
        QStringList out{row(table.first())};
        out << QStringLiteral("|") + QStringLiteral("---|").repeated(table.first().size());
        for (qsizetype r = 1; r < table.size(); ++r)
            out << row(table[r]);
        blocks << out.join(QLatin1Char('\n'));
        lastWasItem = false;
        table.clear();
    };
    auto appendText = [&](const QString &t) {
        if (para.isEmpty()) {
            para = t;
        } else if (para.endsWith(QLatin1Char('-')) && para.size() > 1 &&
                   para.at(para.size() - 2).isLetter() && !t.isEmpty() && t.at(0).isLower()) {
            para.chop(1); // rejoin a word hyphenated at the line end
            para += t;
        } else {
            para += QLatin1Char(' ') + t;
        }
    };

    double codeX = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line &l = lines[i];
        if (l.image) {
            flushTable();
            flushCode();
            flushPara();
            lastWasItem = false;
            blocks << QStringLiteral("![](<%1>)").arg(l.text);
            continue; // the text around it flows on as if it were not there
        }
        const QString text = l.text.trimmed();
        const bool newPage = prev && prev->page != l.page;
        const double gap = prev && !newPage ? l.top - prev->bottom : 1e9;
        const bool bigGap = gap > std::max(l.size, prev ? prev->size : 0.0) * 0.55;

        if (l.cells.size() >= 2 && !newPage &&
            (table.isEmpty() || table.last().size() == l.cells.size())) {
            flushPara();
            flushCode();
            table << l.cells;
            prev = &l;
            continue;
        }
        if (l.cells.size() >= 2 && newPage && !table.isEmpty() &&
            table.last().size() == l.cells.size()) {
            table << l.cells; // a table running over a page break
            prev = &l;
            continue;
        }
        flushTable();
        if (l.cells.size() >= 2) {
            flushPara();
            flushCode();
            table << l.cells;
            prev = &l;
            continue;
        }

        if (l.mono && !l.bold) {
            flushPara();
            if (code.isEmpty())
                codeX = l.x;
            const int indent = std::max(0, int(std::lround((l.x - codeX) / (l.size * 0.6))));
            code << QString(indent, QLatin1Char(' ')) + l.text;
            prev = &l;
            continue;
        }
        flushCode();

        int level = headingLevel(l);
        const bool nextIsSeparate = i + 1 >= lines.size() || lines[i + 1].page != l.page ||
                                    lines[i + 1].top - l.bottom > l.size * 0.55 ||
                                    !lines[i + 1].bold;
        if (!level && l.bold && text.size() < 100 && !text.endsWith(QLatin1Char('.')) &&
            l.size >= body * 0.95 && bigGap && nextIsSeparate && l.widestGap < 1.5)
            level = int(headingSizes.size()) + 1;
        if (level) {
            const bool continues = prev && !newPage && !bigGap && headingLevel(*prev) == level &&
                                   paraPrefix.startsWith(QLatin1Char('#'));
            if (continues) {
                para += QLatin1Char(' ') + escapeInline(text);
            } else {
                flushPara();
                paraPrefix = QString(std::min(level, 6), QLatin1Char('#')) + QLatin1Char(' ');
                para = escapeInline(text);
            }
            prev = &l;
            continue;
        }

        const auto b = bullet.match(text);
        const auto n = numbered.match(text);
        if (b.hasMatch() || n.hasMatch()) {
            flushPara();
            paraPrefix = b.hasMatch() ? QStringLiteral("- ") : n.captured(1) + QStringLiteral(". ");
            para = escapeInline(b.hasMatch() ? b.captured(1) : n.captured(2));
            paraX = l.x;
            prev = &l;
            continue;
        }

        const bool inHeading = paraPrefix.startsWith(QLatin1Char('#'));
        const bool inList = !paraPrefix.isEmpty() && !inHeading;
        // A paragraph runs on over a page break unless its sentence had ended.
        static const QRegularExpression sentenceEnd(QStringLiteral("[.!?:;。！？]$"));
        const bool pageBreaksIt =
            newPage && (sentenceEnd.match(para).hasMatch() || std::abs(l.x - paraX) > l.size);
        bool startNew = para.isEmpty() || inHeading || pageBreaksIt || (!newPage && bigGap);
        if (inList && !startNew && l.x < paraX + l.size * 0.5)
            startNew = true; // back at the list's margin: the list has ended
        if (!startNew && prev && !inList && l.x > paraX + l.size * 1.5)
            startNew = true; // first-line indent of a new paragraph
        if (startNew) {
            flushPara();
            para = escapeInline(text);
            paraX = l.x;
        } else {
            appendText(escapeInline(text));
        }
        prev = &l;
    }
    flushTable();
    flushCode();
    flushPara();
    return blocks.join(QStringLiteral("\n\n")) + QLatin1Char('\n');
}

namespace {

bool isCjk(char32_t c) {
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x2FFFF);
}

std::unordered_map<QString, qsizetype> wordCounts(const QString &text) {
    std::unordered_map<QString, qsizetype> counts;
    QString word;
    auto flush = [&] {
        if (!word.isEmpty())
            ++counts[word];
        word.clear();
    };
    for (const char32_t c : text.toUcs4()) {
        if (QChar::isSpace(c)) {
            flush();
        } else if (isCjk(c)) {
            flush();
            word = QString::fromUcs4(&c, 1);
            flush();
        } else {
            word += QString::fromUcs4(&c, 1);
        }
    }
    flush();
    return counts;
}

} // namespace

double wordRecall(const QString &expected, const QString &actual) {
    const auto want = wordCounts(expected);
    const auto have = wordCounts(actual);
    qsizetype total = 0, found = 0;
    for (const auto &[word, n] : want) {
        total += n;
        const auto it = have.find(word);
        if (it != have.end())
            found += std::min(n, it->second);
    }
    return total == 0 ? 1.0 : double(found) / double(total);
}

} // namespace quorvel::server
