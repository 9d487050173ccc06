#include "conversion/OperationCatalogue.h"

#include <QCoreApplication>
#include <QMimeDatabase>

namespace quorvel::OperationCatalogue {
namespace {

const QString kAnyContent = QStringLiteral("application/octet-stream");

QString mimeForExtension(QStringView extension) {
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(QStringLiteral("x.") + extension.toString(),
                                              QMimeDatabase::MatchExtension);
    // A type the platform cannot form from the extension is left out.
    return type.isDefault() ? QString() : type.name();
}

} // namespace

const QList<ToolGroup> &toolGroups() {
    static const QList<ToolGroup> groups = [] {
        QList<ToolGroup> out;
        for (QStringView title : Operations::groups()) {
            ToolGroup group{title.toString(), {}};
            for (const Operations::Operation &op : Operations::all())
                if (op.group == title)
                    group.rows.append({op.name.toString(), op.toolIcon.toString()});
            out.append(group);
        }
        return out;
    }();
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
    const Operations::Operation *op = Operations::find(name);
    if (!op)
        return true;
    for (QStringView accepted : op->extensions.tokenize(u' '))
        if (accepted == ext)
            return true;
    return false;
}

QString acceptedFormatDescription(const QString &name) {
    const Operations::Operation *op = Operations::find(name);
    return op ? op->formatText.toString()
              : QCoreApplication::translate("OperationCatalogue", "未知");
}

QStringList allowedContentTypes(const QString &name) {
    const Operations::Operation *op = Operations::find(name);
    if (!op || op->contentTypes.isEmpty())
        return {kAnyContent};
    QStringList types;
    for (QStringView entry : op->contentTypes.tokenize(u' ')) {
        const QString mime =
            entry.startsWith(u'.') ? mimeForExtension(entry.mid(1)) : entry.toString();
        if (!mime.isEmpty() && !types.contains(mime))
            types << mime;
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

Operations::CodeRule codeRule(const QString &name) {
    if (const Operations::Operation *op = Operations::find(name))
        return op->codeRule;
    return name.contains(QLatin1String("to PDF")) ? Operations::CodeRule::Reverse
                                                  : Operations::CodeRule::Forward;
}

QString conversionTypeCode(const QString &name) {
    if (const Operations::Operation *op = Operations::find(name))
        return op->typeCode.toString();
    // A name no row has: the code is formed the way the rows' codes were.
    if (codeRule(name) == Operations::CodeRule::Reverse) {
        const QStringList words = name.split(u' ', Qt::SkipEmptyParts);
        return (words.isEmpty() ? QString() : words.first()) + QStringLiteral("2PDF");
    }
    QString code = name;
    code.replace(QLatin1String("PDF to "), QLatin1String("PDF2"));
    code.remove(u' ');
    return code.toUpper();
}

bool needsConversion(const QString &name) {
    if (const Operations::Operation *op = Operations::find(name))
        return op->needsJob;
    return name.contains(QLatin1String("PDF to")) || name.contains(QLatin1String(" to PDF"));
}

QString resultExtension(const QString &typeCode) {
    return Operations::resultExtension(typeCode);
}

QString fileExtension(const QString &fileName) {
    const qsizetype slash = fileName.lastIndexOf(u'/');
    const QString last = fileName.mid(slash + 1);
    const qsizetype dot = last.lastIndexOf(u'.');
    return dot < 0 ? QString() : last.mid(dot + 1).toLower();
}

QString validationAlertText(const QString &name, const QString &ext) {
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("OperationCatalogue", text);
    };
    // Extensions are spoken letter by letter: "an MD file", "a PDF file".
    const auto withArticle = [](const QString &letters) {
        const bool vowelSound =
            !letters.isEmpty() && QStringLiteral("AEFHILMNORSX").contains(letters.front());
        return (vowelSound ? QStringLiteral("an ") : QStringLiteral("a ")) + letters;
    };
    QStringList needed;
    if (const Operations::Operation *op = Operations::find(name))
        for (QStringView accepted : op->extensions.tokenize(u' '))
            needed << accepted.toString().toUpper();
    QString formats = needed.value(0);
    if (needed.size() > 1)
        formats = needed.mid(0, needed.size() - 1).join(QStringLiteral(", ")) + tr(" or ") +
                  needed.last();
    const QString chosen = ext.isEmpty() ? tr("a file without an extension")
                                         : tr("%1 file").arg(withArticle(ext.toUpper()));
    // One pass of arg(): a name or extension holding "%1" stays as it is.
    return tr("“%1” needs %2 file, but you chose %3.\n\nPlease re-select the appropriate file.")
        .arg(name, withArticle(formats), chosen);
}

} // namespace quorvel::OperationCatalogue
