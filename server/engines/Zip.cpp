#include "Zip.h"

#include <QFile>

#include <zip.h>

namespace quorvel::server {

std::optional<ZipSummary> inspectZip(const QString &path, QString *error) {
    int err = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &err);
    if (!za) {
        if (error) {
            zip_error_t ze;
            zip_error_init_with_code(&ze, err);
            *error = QString::fromUtf8(zip_error_strerror(&ze));
            zip_error_fini(&ze);
        }
        return std::nullopt;
    }
    ZipSummary s;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0)
            continue;
        if (st.valid & ZIP_STAT_NAME)
            s.names << QString::fromUtf8(st.name);
        if (st.valid & ZIP_STAT_SIZE)
            s.totalUncompressed += st.size;
        if (st.valid & ZIP_STAT_COMP_SIZE)
            s.totalCompressed += st.comp_size;
        if ((st.valid & ZIP_STAT_SIZE) && (st.valid & ZIP_STAT_COMP_SIZE)) {
            const std::uint64_t ratio = st.size / std::max<std::uint64_t>(st.comp_size, 1);
            s.largestRatio = std::max(s.largestRatio, ratio);
        }
    }
    zip_discard(za);
    return s;
}

bool writeZip(const QString &zipPath, const QStringList &files, const QStringList &entryNames,
              QString *error) {
    int err = 0;
    QFile::remove(zipPath);
    zip_t *za = zip_open(QFile::encodeName(zipPath).constData(), ZIP_CREATE | ZIP_EXCL, &err);
    if (!za) {
        if (error)
            *error = QStringLiteral("cannot create archive");
        return false;
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        zip_source_t *src = zip_source_file(za, QFile::encodeName(files[i]).constData(), 0, -1);
        if (!src) {
            if (error)
                *error = QString::fromUtf8(zip_strerror(za));
            zip_discard(za);
            QFile::remove(zipPath);
            return false;
        }
        const zip_int64_t idx =
            zip_file_add(za, entryNames[i].toUtf8().constData(), src, ZIP_FL_ENC_UTF_8);
        if (idx < 0) {
            zip_source_free(src);
            if (error)
                *error = QString::fromUtf8(zip_strerror(za));
            zip_discard(za);
            QFile::remove(zipPath);
            return false;
        }
        zip_set_file_compression(za, zip_uint64_t(idx), ZIP_CM_STORE, 0);
    }
    if (zip_close(za) != 0) {
        if (error)
            *error = QString::fromUtf8(zip_strerror(za));
        zip_discard(za);
        QFile::remove(zipPath);
        return false;
    }
    return true;
}

} // namespace quorvel::server
