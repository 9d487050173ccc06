#include "conversion/ResultName.h"

#include "conversion/OperationCatalogue.h"

#include <QTextBoundaryFinder>

namespace quorvel::ResultName {

namespace {

QString sourceExtension(const QString &sourceFileTyp) {
    const QString typ = sourceFileTyp.toLower();
    if (typ == QLatin1String("markdown"))
        return QStringLiteral(".md");
    if (typ == QLatin1String("docx"))
        return QStringLiteral(".docx");
    if (typ == QLatin1String("pptx"))
        return QStringLiteral(".pptx");
    return {};
}

// Every occurrence of `from` (any case) replaced, or `to` appended when the name
// does not end with `from`.
QString swapExtension(const QString &fileName, const QString &from, const QString &to) {
    if (!from.isEmpty() && fileName.toLower().endsWith(from)) {
        QString out = fileName;
        return out.replace(from, to, Qt::CaseInsensitive);
    }
    return fileName + to;
}

// Embeddings, overrides and isolates reorder what follows them:
// "cod.exe\u202Efdp.docx" would show as if it ended in ".docx".
bool isBidiControl(QChar c) {
    switch (c.direction()) {
    case QChar::DirLRE:
    case QChar::DirLRO:
    case QChar::DirRLE:
    case QChar::DirRLO:
    case QChar::DirPDF:
    case QChar::DirLRI:
    case QChar::DirRLI:
    case QChar::DirFSI:
    case QChar::DirPDI:
        return true;
    default:
        return false;
    }
}

} // namespace

QString forTask(const ConversionTask &task) {
    const QString code = task.typ.toUpper();
    const QString extension = OperationCatalogue::resultExtension(code);
    if (Operations::isIntoPdf(code))
        return swapExtension(task.fileName, sourceExtension(task.sourceFileTyp), extension);
    return swapExtension(task.fileName, QStringLiteral(".pdf"), extension);
}

QString safe(const QString &name) {
    QString last = name.mid(name.lastIndexOf(u'/') + 1);
    for (QChar &c : last)
        if (c == u'\\' || c.category() == QChar::Other_Control || isBidiControl(c))
            c = u'_';
    if (last.isEmpty() || last == QLatin1String(".") || last == QLatin1String(".."))
        return QStringLiteral("download");
    return last;
}

namespace {

// Where the extension begins (the size when there is none). An extension is a short tail
// after the last dot; a long one is part of the name.
qsizetype extensionStart(const QString &name) {
    constexpr int kLongestExtension = 16;
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 && name.size() - dot <= kLongestExtension ? dot : name.size();
}

} // namespace

QString fitted(const QString &name, int maxBytes) {
    if (name.toUtf8().size() <= maxBytes)
        return name;
    const QString extension = name.mid(extensionStart(name));
    const QString stem = name.left(name.size() - extension.size());
    const qsizetype budget = qMax<qsizetype>(0, maxBytes - extension.toUtf8().size());
    // The longest run of whole characters from the start that fits.
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, stem);
    qsizetype cut = 0;
    qsizetype bytes = 0;
    for (qsizetype at = characters.toNextBoundary(); at > 0; at = characters.toNextBoundary()) {
        const qsizetype more = stem.mid(cut, at - cut).toUtf8().size();
        if (bytes + more > budget)
            break;
        bytes += more;
        cut = at;
    }
    return stem.left(cut) + extension;
}

QString numbered(const QString &name, int copy, int maxBytes) {
    if (copy <= 1)
        return fitted(name, maxBytes);
    const QString counter = QStringLiteral(" (%1)").arg(copy);
    const QString shortened = fitted(name, maxBytes - int(counter.toUtf8().size()));
    const qsizetype at = extensionStart(shortened);
    return shortened.left(at) + counter + shortened.mid(at);
}

} // namespace quorvel::ResultName
