#include "FileCheck.h"

#include "PdfText.h"
#include "Zip.h"

#include <QFile>
#include <QFileInfo>

namespace quorvel::server {

namespace {

QString sniff(const QByteArray &head) {
    if (head.left(1024).contains("%PDF-"))
        return QStringLiteral("pdf");
    if (head.startsWith("PK\x03\x04"))
        return QStringLiteral("zip");
    if (head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return QStringLiteral("ole");
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral("png");
    if (head.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("jpeg");
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return QStringLiteral("gif");
    if (head.startsWith("BM") && head.size() >= 26)
        return QStringLiteral("bmp");
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return QStringLiteral("tiff");
    return {};
}

// UTF-8 without NUL bytes, validated across chunk boundaries.
bool looksLikeText(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    int pending = 0; // continuation bytes still expected
    while (!f.atEnd()) {
        const QByteArray chunk = f.read(64 * 1024);
        for (const char ch : chunk) {
            const auto c = static_cast<unsigned char>(ch);
            if (pending > 0) {
                if ((c & 0xC0) != 0x80)
                    return false;
                --pending;
            } else if (c == 0) {
                return false;
            } else if (c < 0x80) {
                continue;
            } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
                pending = 1;
            } else if ((c & 0xF0) == 0xE0) {
                pending = 2;
            } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
                pending = 3;
            } else {
                return false;
            }
        }
    }
    return pending == 0;
}

FileCheck result(FileCheck::Verdict v, QString typ, QString reason) {
    FileCheck c;
    c.verdict = v;
    c.typ = std::move(typ);
    c.reason = std::move(reason);
    return c;
}

FileCheck checkOfficeArchive(const QString &path, const QString &typ, const ArchiveLimits &limits) {
    QString err;
    const auto zip = inspectZip(path, &err);
    if (!zip)
        return result(
            FileCheck::Verdict::Unreadable, typ,
            QStringLiteral("the %1 file is not a readable archive: %2").arg(typ.toUpper(), err));
    const QString marker =
        typ == QLatin1String("docx") ? QStringLiteral("word/") : QStringLiteral("ppt/");
    bool hasTypes = false, hasMain = false;
    for (const QString &n : zip->names) {
        hasTypes = hasTypes || n == QLatin1String("[Content_Types].xml");
        hasMain = hasMain || n.startsWith(marker);
    }
    if (!hasTypes || !hasMain)
        return result(
            FileCheck::Verdict::Unsupported, typ,
            QStringLiteral("the file is a ZIP archive but not a %1 document").arg(typ.toUpper()));
    const bool tooBig = zip->totalUncompressed > limits.maxExpandedBytes;
    const bool tooDense =
        zip->largestRatio > limits.maxRatio && zip->totalUncompressed > quint64(8) * 1024 * 1024;
    if (tooBig || tooDense || zip->names.size() > limits.maxEntries)
        return result(FileCheck::Verdict::Unreadable, typ,
                      QStringLiteral(
                          "the %1 archive expands to %2 MiB in %3 entries, beyond what is accepted")
                          .arg(typ.toUpper())
                          .arg(zip->totalUncompressed / (1024 * 1024))
                          .arg(zip->names.size()));
    return result(FileCheck::Verdict::Ok, typ, {});
}

} // namespace

FileCheck checkUpload(const QString &path, const QString &fileName, const ArchiveLimits &limits) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return result(FileCheck::Verdict::Unreadable, {},
                      QStringLiteral("the upload could not be stored"));
    const QByteArray head = f.read(4096);
    f.close();
    const QString kind = sniff(head);
    const QString ext = QFileInfo(fileName).suffix().toLower();

    // The type the name claims, and which sniffed kind backs it.
    struct Claim {
        const char *ext;
        const char *typ;
        const char *kind;
    };
    static const Claim claims[] = {
        {"pdf", "pdf", "pdf"},      {"docx", "docx", "zip"},
        {"pptx", "pptx", "zip"},    {"doc", "doc", "ole"},
        {"ppt", "ppt", "ole"},      {"png", "png", "png"},
        {"jpg", "jpeg", "jpeg"},    {"jpeg", "jpeg", "jpeg"},
        {"gif", "gif", "gif"},      {"bmp", "bmp", "bmp"},
        {"tif", "tiff", "tiff"},    {"tiff", "tiff", "tiff"},
        {"md", "markdown", "text"}, {"markdown", "markdown", "text"},
        {"txt", "txt", "text"},
    };
    const Claim *claim = nullptr;
    for (const Claim &c : claims)
        if (ext == QLatin1String(c.ext))
            claim = &c;

    QString typ;
    if (claim) {
        typ = QString::fromLatin1(claim->typ);
        const QString wanted = QString::fromLatin1(claim->kind);
        const bool matches = wanted == QLatin1String("text") ? kind.isEmpty() && looksLikeText(path)
                                                             : kind == wanted;
        if (!matches)
            return result(FileCheck::Verdict::Unsupported, typ,
                          QStringLiteral("the file is named .%1 but its content is %2")
                              .arg(ext, kind.isEmpty()
                                            ? QStringLiteral("not a %1 file").arg(typ.toUpper())
                                            : QStringLiteral("%1 data").arg(kind.toUpper())));
    } else {
        // No known extension: go by content where it is unambiguous.
        if (kind == QLatin1String("pdf") || kind == QLatin1String("png") ||
            kind == QLatin1String("jpeg") || kind == QLatin1String("gif") ||
            kind == QLatin1String("bmp") || kind == QLatin1String("tiff"))
            typ = kind;
        else
            return result(FileCheck::Verdict::Unsupported, {},
                          QStringLiteral("unsupported file type%1")
                              .arg(ext.isEmpty() ? QString() : QStringLiteral(" .") + ext));
    }

    if (typ == QLatin1String("docx") || typ == QLatin1String("pptx"))
        return checkOfficeArchive(path, typ, limits);
    if (typ == QLatin1String("pdf")) {
        const PdfInfo info = pdfInfo(path);
        if (!info.readable)
            return result(FileCheck::Verdict::Unreadable, typ,
                          QStringLiteral("the PDF is damaged and cannot be read"));
        FileCheck c = result(FileCheck::Verdict::Ok, typ, {});
        c.encrypted = info.encrypted;
        c.pages = info.pages;
        if (!info.encrypted && info.pages <= 0)
            return result(FileCheck::Verdict::Unreadable, typ,
                          QStringLiteral("the PDF has no pages"));
        return c;
    }
    return result(FileCheck::Verdict::Ok, typ, {});
}

} // namespace quorvel::server
