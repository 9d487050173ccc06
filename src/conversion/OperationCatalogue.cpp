#include "conversion/OperationCatalogue.h"

#include <QMimeDatabase>

namespace quorvel::OperationCatalogue {
namespace {

const QStringList kPdfOnly = {QStringLiteral("PDF to DOC"), QStringLiteral("PDF to PPTX"),
                              QStringLiteral("PDF to IMG"), QStringLiteral("PDF to MD"),
                              QStringLiteral("Compress"),   QStringLiteral("Protect"),
                              QStringLiteral("Unlock")};
const QString kAnyContent = QStringLiteral("application/octet-stream");

bool isPdfOnly(const QString &name) {
    return kPdfOnly.contains(name);
}
bool isWordFamily(const QString &name) {
    return name == u"DOCX to PDF" || name == u"DOC to PDF";
}
bool isSlidesFamily(const QString &name) {
    return name == u"PPTX to PDF" || name == u"PPT to PDF";
}

QString mimeForExtension(const QString &extension) {
    static const QMimeDatabase db;
    const QMimeType type =
        db.mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
    // A type the platform cannot form from the extension is left out.
    return type.isDefault() ? QString() : type.name();
}

} // namespace

const QList<ToolGroup> &toolGroups() {
    static const QList<ToolGroup> groups = {
        {QStringLiteral("Convert"),
         {{QStringLiteral("PDF to DOC"), QStringLiteral("doc.text.fill")},
          {QStringLiteral("PDF to PPTX"), QStringLiteral("rectangle.3.group.fill")},
          {QStringLiteral("PDF to IMG"), QStringLiteral("photo.fill")},
          {QStringLiteral("PDF to MD"), QStringLiteral("doc.plaintext.fill")}}},
        {QStringLiteral("Reverse Convert"),
         {{QStringLiteral("DOCX to PDF"), QStringLiteral("doc.text.fill")},
          {QStringLiteral("PPTX to PDF"), QStringLiteral("rectangle.3.group.fill")},
          {QStringLiteral("MD to PDF"), QStringLiteral("doc.plaintext.fill")}}},
        {QStringLiteral("Modify"),
         {{QStringLiteral("Compress"), QStringLiteral("arrow.down.circle.fill")}}},
    };
    return groups;
}

QStringList offeredOperations() {
    QStringList names;
    for (const ToolGroup &group : toolGroups())
        for (const ToolRow &row : group.rows)
            names << row.operationName;
    return names;
}

bool isExtensionAccepted(const QString &name, const QString &ext) {
    if (isPdfOnly(name))
        return ext == u"pdf";
    if (isWordFamily(name))
        return ext == u"docx" || ext == u"doc";
    if (isSlidesFamily(name))
        return ext == u"pptx" || ext == u"ppt";
    if (name == u"IMG to PDF") {
        static const QStringList images = {QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                           QStringLiteral("png"), QStringLiteral("gif"),
                                           QStringLiteral("bmp"), QStringLiteral("tiff")};
        return images.contains(ext);
    }
    if (name == u"MD to PDF")
        return ext == u"md" || ext == u"markdown" || ext == u"txt";
    return true;
}

QString acceptedFormatDescription(const QString &name) {
    if (isPdfOnly(name))
        return QStringLiteral("PDF");
    if (isWordFamily(name))
        return QStringLiteral("DOCX/DOC");
    if (isSlidesFamily(name))
        return QStringLiteral("PPTX/PPT");
    if (name == u"IMG to PDF")
        return QStringLiteral("JPG/PNG/GIF等图片");
    if (name == u"MD to PDF")
        return QStringLiteral("MD/TXT等文本");
    return QStringLiteral("未知");
}

QStringList allowedContentTypes(const QString &name) {
    QStringList types;
    const auto addFor = [&types](const QString &ext) {
        const QString mime = mimeForExtension(ext);
        if (!mime.isEmpty() && !types.contains(mime))
            types << mime;
    };
    if (name == u"DOCX to PDF") {
        addFor(QStringLiteral("docx"));
        addFor(QStringLiteral("doc"));
    } else if (name == u"PPTX to PDF") {
        addFor(QStringLiteral("pptx"));
        addFor(QStringLiteral("ppt"));
    } else if (name == u"IMG to PDF") {
        types << QStringLiteral("image/jpeg") << QStringLiteral("image/png")
              << QStringLiteral("image/tiff") << QStringLiteral("image/gif")
              << QStringLiteral("image/bmp") << QStringLiteral("image/webp");
    } else if (name == u"MD to PDF") {
        addFor(QStringLiteral("md"));
        // Generic and plain text are one MIME family: every text/* type inherits text/plain.
        types << QStringLiteral("text/plain");
    } else if (isPdfOnly(name)) {
        types << QStringLiteral("application/pdf");
    } else {
        types << kAnyContent;
    }
    return types;
}

QStringList fileDialogNameFilters(const QString &name) {
    const QStringList types = allowedContentTypes(name);
    if (types == QStringList{kAnyContent})
        return {QStringLiteral("All files (*)")};
    static const QMimeDatabase db;
    QStringList filters;
    QStringList allPatterns;
    for (const QString &typeName : types) {
        const QMimeType type = db.mimeTypeForName(typeName);
        if (!type.isValid() || type.globPatterns().isEmpty())
            continue;
        filters << QStringLiteral("%1 (%2)").arg(type.comment(), type.globPatterns().join(u' '));
        allPatterns << type.globPatterns();
    }
    if (filters.size() > 1)
        filters.prepend(QStringLiteral("Supported files (%1)").arg(allPatterns.join(u' ')));
    return filters;
}

bool isContentTypeAllowed(const QString &name, const QString &fileName) {
    const QStringList types = allowedContentTypes(name);
    if (types.contains(kAnyContent))
        return true;
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    for (const QString &allowed : types)
        if (type.inherits(allowed))
            return true;
    return false;
}

QString conversionTypeCode(const QString &name) {
    if (name == u"MD to PDF")
        return QStringLiteral("MD2PDF");
    if (name.contains(QLatin1String("to PDF"))) {
        const QStringList words = name.split(u' ', Qt::SkipEmptyParts);
        return (words.isEmpty() ? QString() : words.first()) + QStringLiteral("2PDF");
    }
    QString code = name;
    code.replace(QLatin1String("PDF to "), QLatin1String("PDF2"));
    code.remove(u' ');
    return code.toUpper();
}

bool needsConversion(const QString &name) {
    return name.contains(QLatin1String("PDF to")) || name.contains(QLatin1String(" to PDF")) ||
           name == u"Compress" || name == u"Protect" || name == u"Unlock";
}

QString resultExtension(const QString &typeCode) {
    const QString code = typeCode.toUpper();
    if (code == u"PDF2DOC" || code == u"PDF2DOCX")
        return QStringLiteral(".docx");
    if (code == u"PDF2MD")
        return QStringLiteral(".md");
    if (code == u"PDF2IMG")
        return QStringLiteral(".zip");
    if (code == u"PDF2PPTX")
        return QStringLiteral(".pptx");
    static const QStringList toPdf = {QStringLiteral("COMPRESS"), QStringLiteral("PROTECT"),
                                      QStringLiteral("UNLOCK"),   QStringLiteral("DOCX2PDF"),
                                      QStringLiteral("PPTX2PDF"), QStringLiteral("IMG2PDF"),
                                      QStringLiteral("MD2PDF")};
    if (toPdf.contains(code))
        return QStringLiteral(".pdf");
    return QStringLiteral(".docx");
}

QString fileExtension(const QString &fileName) {
    const qsizetype slash = fileName.lastIndexOf(u'/');
    const QString last = fileName.mid(slash + 1);
    const qsizetype dot = last.lastIndexOf(u'.');
    return dot < 0 ? QString() : last.mid(dot + 1).toLower();
}

QString validationAlertText(const QString &name, const QString &ext) {
    return QStringLiteral("Attention please，'") + name + QStringLiteral("'Functional need") +
           acceptedFormatDescription(name) + QStringLiteral("Format the file, but you chose") +
           ext + QStringLiteral("Format。\n\nPlease re-select the appropriate file.");
}

} // namespace quorvel::OperationCatalogue
