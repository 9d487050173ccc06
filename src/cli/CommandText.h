#pragma once

#include "service/ServiceError.h"

#include <QFileInfo>
#include <QString>

#include <exception>
#include <optional>

// Texts the commands share.
namespace quorvel::cli {

inline QString plural(qsizetype n, const QString &one, const QString &many) {
    return QString::number(n) + u' ' + (n == 1 ? one : many);
}

// What the user reads for a failure of any kind.
inline QString errorText(const std::exception &e) {
    if (const auto *service = dynamic_cast<const ServiceError *>(&e))
        return service->description();
    return QString::fromLocal8Bit(e.what());
}

// Why a file cannot be uploaded, checked before anything is sent so nothing is lost.
inline std::optional<QString> unreadableFile(const QString &path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("cannot read '%1': no such file").arg(path);
    if (info.isDir())
        return QStringLiteral("cannot read '%1': it is a directory").arg(path);
    if (!info.isReadable())
        return QStringLiteral("cannot read '%1': permission denied").arg(path);
    return std::nullopt;
}

} // namespace quorvel::cli
