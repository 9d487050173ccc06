#pragma once

#include <QString>
#include <QStringView>

#include <span>

// The operations the service offers, one row each: everything the client knows about an
// operation is read from here, so a new operation is one new row. The operation name still
// travels as text; rows are found by it, exactly and case-sensitively.
namespace quorvel::Operations {

// How an operation's type code is formed from its name.
enum class CodeRule {
    Fixed,   // a code of its own
    Reverse, // some format into PDF: the name's first word followed by "2PDF"
    Forward, // "PDF to X" becomes "PDF2X", spaces dropped, upper-cased
};

struct Operation {
    QStringView name;
    QStringView group;        // the tool card that offers it; empty when none does
    QStringView toolIcon;     // the tool row's icon
    QStringView extensions;   // accepted file extensions, lower case, space-separated
    QStringView formatText;   // the accepted formats as the refusal alert names them
    QStringView contentTypes; // MIME names offered by picker and drop target, space-separated;
                              // ".ext" is the type declared for that extension, empty any file
    QStringView typeCode;
    CodeRule codeRule;
    bool needsJob;
    QStringView resultExtension; // of the downloaded result
    QStringView typeIcon;        // of a listed job with this (lower-case) code
};

// Every row, the offered ones in tool order first.
std::span<const Operation> all();
// The row of an operation name; nullptr for a name no row has.
const Operation *find(QStringView name);
// The tool groups in the order the window shows them.
std::span<const QStringView> groups();

// The result extension of a job's type code, looked up upper-cased; ".docx" for a code
// that no row produces a result for.
QString resultExtension(const QString &typeCode);
// Whether a type code converts into PDF (the result is then named after the source's type).
bool isIntoPdf(const QString &typeCode);
// The type of a result as the client records it before the service says so.
QString resultFileType(const QString &typeCode);
// A listed job's icon: its code compared exactly, so upper-case codes take the fallback.
QString typeIcon(const QString &typ);

} // namespace quorvel::Operations
