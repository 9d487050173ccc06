#pragma once

#include "service/Operations.h"

#include <QString>
#include <QStringList>

// Every rule that depends on an operation name. There is no enumeration: the name
// travels as text from the tool row to the pipeline, and each rule is a pure function
// of it, read from the operations table (service/Operations). Names compare exactly;
// extensions are compared lower-cased.
namespace quorvel::OperationCatalogue {

struct ToolRow {
    QString operationName;
    QString icon;
};

struct ToolGroup {
    QString title;
    QList<ToolRow> rows;
};

// The tool cards of the main window, in order: Convert, Reverse Convert, Modify.
const QList<ToolGroup> &toolGroups();
// Every operation a tool row offers, in tool order.
QStringList offeredOperations();

bool isExtensionAccepted(const QString &operationName, const QString &lowerCasedExtension);
QString acceptedFormatDescription(const QString &operationName);
// MIME type names that the file picker and the drop target offer; "application/octet-stream"
// stands for any file.
QStringList allowedContentTypes(const QString &operationName);
// Name filters for a file dialog, e.g. "PDF document (*.pdf)"; "All files (*)" for any file.
QStringList fileDialogNameFilters(const QString &operationName);
// Whether a file with this name may be picked or dropped for the operation (by its
// content type, from the extension). Validation decides later whether it is accepted.
bool isContentTypeAllowed(const QString &operationName, const QString &fileName);
// How the type code of a name is formed (the pipeline's log lines say which rule).
Operations::CodeRule codeRule(const QString &operationName);
QString conversionTypeCode(const QString &operationName);
bool needsConversion(const QString &operationName);
// Result extension for a job's type code, looked up upper-cased.
QString resultExtension(const QString &typeCode);
// The extension of a file name as validation sees it: after the last dot, lower-cased.
QString fileExtension(const QString &fileName);
// The alert text that refuses a file whose extension the operation does not accept.
QString validationAlertText(const QString &operationName, const QString &lowerCasedExtension);

} // namespace quorvel::OperationCatalogue
