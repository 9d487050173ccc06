#include "service/Operations.h"

#include <array>

namespace quorvel::Operations {
namespace {

using enum CodeRule;

constexpr QStringView kConvert = u"Convert";
constexpr QStringView kReverse = u"Reverse Convert";
constexpr QStringView kModify = u"Modify";
constexpr std::array<QStringView, 3> kGroups{kConvert, kReverse, kModify};

constexpr QStringView kPdf = u"application/pdf";

// name, group, tool icon, extensions, format text, content types, code, code rule,
// needs a job, result extension, type icon
constexpr std::array<Operation, 13> kOperations{{
    {u"PDF to DOC", kConvert, u"doc.text.fill", u"pdf", u"PDF", kPdf, u"PDF2DOC", Forward, true,
     u".docx", u"doc.fill"},
    {u"PDF to PPTX", kConvert, u"rectangle.3.group.fill", u"pdf", u"PDF", kPdf, u"PDF2PPTX",
     Forward, true, u".pptx", u"rectangle.stack.fill"},
    {u"PDF to IMG", kConvert, u"photo.fill", u"pdf", u"PDF", kPdf, u"PDF2IMG", Forward, true,
     u".zip", u"photo.fill"},
    {u"PDF to MD", kConvert, u"doc.plaintext.fill", u"pdf", u"PDF", kPdf, u"PDF2MD", Forward, true,
     u".md", u"text.alignleft"},
    {u"DOCX to PDF", kReverse, u"doc.text.fill", u"docx doc", u"DOCX/DOC", u".docx .doc",
     u"DOCX2PDF", Reverse, true, u".pdf", u"doc.richtext.fill"},
    {u"PPTX to PDF", kReverse, u"rectangle.3.group.fill", u"pptx ppt", u"PPTX/PPT", u".pptx .ppt",
     u"PPTX2PDF", Reverse, true, u".pdf", u"doc.richtext.fill"},
    // Generic and plain text are one MIME family: every text/* type inherits text/plain.
    {u"MD to PDF", kReverse, u"doc.plaintext.fill", u"md markdown txt", u"MD/TXT等文本",
     u".md text/plain", u"MD2PDF", Fixed, true, u".pdf", u"doc.richtext.fill"},
    {u"Compress", kModify, u"arrow.down.circle.fill", u"pdf", u"PDF", kPdf, u"COMPRESS", Forward,
     true, u".pdf", u"arrow.down.right.and.arrow.up.left"},
    // Known to every rule, offered by no tool row.
    {u"IMG to PDF",
     {},
     {},
     u"jpg jpeg png gif bmp tiff",
     u"JPG/PNG/GIF等图片",
     u"image/jpeg image/png image/tiff image/gif image/bmp image/webp",
     u"IMG2PDF",
     Reverse,
     true,
     u".pdf",
     u"doc.richtext.fill"},
    {u"Protect", {}, {}, u"pdf", u"PDF", kPdf, u"PROTECT", Forward, true, u".pdf", u"doc.fill"},
    {u"Unlock", {}, {}, u"pdf", u"PDF", kPdf, u"UNLOCK", Forward, true, u".pdf", u"doc.fill"},
    // Older names: their codes have no result of their own, so results are named ".docx".
    {u"DOC to PDF",
     {},
     {},
     u"docx doc",
     u"DOCX/DOC",
     {},
     u"DOC2PDF",
     Reverse,
     true,
     u".docx",
     u"doc.richtext.fill"},
    {u"PPT to PDF",
     {},
     {},
     u"pptx ppt",
     u"PPTX/PPT",
     {},
     u"PPT2PDF",
     Reverse,
     true,
     u".docx",
     u"doc.richtext.fill"},
}};

// Codes the history may list that no operation here produces any more.
struct ListedCode {
    QStringView code; // lower case, as listed
    QStringView typeIcon;
};
constexpr std::array<ListedCode, 5> kListedOnly{{
    {u"pdf2txt", u"text.alignleft"},
    {u"pdf2ppt", u"rectangle.stack.fill"},
    {u"pdf2excel", u"tablecells.fill"},
    {u"excel2pdf", u"doc.richtext.fill"},
    {u"txt2pdf", u"doc.richtext.fill"},
}};

const Operation *byCode(const QString &upperCode) {
    for (const Operation &op : kOperations)
        if (op.typeCode == upperCode)
            return &op;
    return nullptr;
}

} // namespace

std::span<const Operation> all() {
    return kOperations;
}

const Operation *find(QStringView name) {
    for (const Operation &op : kOperations)
        if (op.name == name)
            return &op;
    return nullptr;
}

std::span<const QStringView> groups() {
    return kGroups;
}

QString resultExtension(const QString &typeCode) {
    const Operation *op = byCode(typeCode.toUpper());
    return op ? op->resultExtension.toString() : QStringLiteral(".docx");
}

bool isIntoPdf(const QString &typeCode) {
    return typeCode.toUpper().contains(QLatin1String("2PDF"));
}

QString resultFileType(const QString &typeCode) {
    return isIntoPdf(typeCode) ? QStringLiteral("pdf") : QStringLiteral("docx");
}

QString typeIcon(const QString &typ) {
    if (typ == typ.toLower()) {
        if (const Operation *op = byCode(typ.toUpper()))
            return op->typeIcon.toString();
        for (const ListedCode &listed : kListedOnly)
            if (listed.code == typ)
                return listed.typeIcon.toString();
    }
    return QStringLiteral("doc.fill");
}

} // namespace quorvel::Operations
