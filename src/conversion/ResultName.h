#pragma once

#include "service/WireRecords.h"

#include <QString>

// How a downloaded result is named on disk.
namespace quorvel::ResultName {

// The name derived from the job's source file name and type code, e.g. Report.PDF
// converted by "pdf2doc" becomes Report.docx.
QString forTask(const ConversionTask &task);

// One plain file name that stays inside the directory it is joined to: the last
// path component only, path separators and control characters replaced by "_",
// and "download" for an empty, "." or ".." name.
QString safe(const QString &name);

// The name shortened to at most `maxBytes` of UTF-8, as a file system's name limit counts
// it: the extension kept, whole characters (with their combining marks) dropped from the
// end of the stem. A name that fits is returned as it is.
QString fitted(const QString &name, int maxBytes);

// The `copy`-th name for a file whose plain name is taken: " (copy)" before the extension
// ("report (2).pdf"), the stem shortened so the whole still fits `maxBytes`. Copy 1 is the
// name itself, fitted.
QString numbered(const QString &name, int copy, int maxBytes);

} // namespace quorvel::ResultName
