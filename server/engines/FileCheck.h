#pragma once

#include <QString>

namespace quorvel::server {

// What an uploaded file really is, decided from its name and its bytes.
struct FileCheck {
    enum class Verdict {
        Ok,
        Unsupported, // unknown kind, or the bytes are not what the name says (415)
        Unreadable,  // right kind but damaged, or an archive that expands too far (422)
    };
    Verdict verdict = Verdict::Unsupported;
    QString typ;    // "pdf", "docx", "doc", "pptx", "ppt", "markdown", "txt", "png", "jpeg", …
    QString reason; // for the error answer
    int pages = 0;  // PDF page count; 0 when unknown before conversion
    bool encrypted = false;
};

struct ArchiveLimits {
    quint64 maxExpandedBytes = quint64(512) * 1024 * 1024;
    quint64 maxRatio = 200; // per entry, beyond a few MiB of output
    int maxEntries = 20000;
};

FileCheck checkUpload(const QString &path, const QString &fileName,
                      const ArchiveLimits &limits = {});

} // namespace quorvel::server
