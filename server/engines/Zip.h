#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quorvel::server {

struct ZipSummary {
    QStringList names;
    std::uint64_t totalUncompressed = 0;
    std::uint64_t totalCompressed = 0;
    std::uint64_t largestRatio = 0; // uncompressed / compressed of the worst entry
};

// Reads the central directory without extracting anything; nothing when the
// file is not a readable ZIP archive.
std::optional<ZipSummary> inspectZip(const QString &path, QString *error = nullptr);

// Writes `files` (stored, not recompressed: the PNGs are compressed already)
// under the given entry names. Returns false and removes the partial archive on failure.
bool writeZip(const QString &zipPath, const QStringList &files, const QStringList &entryNames,
              QString *error = nullptr);

} // namespace quorvel::server
