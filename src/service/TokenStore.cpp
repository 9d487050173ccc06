#include "service/TokenStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace quorvel::TokenStore {
namespace {

const QString kKey = QStringLiteral("authToken");

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quorvel"),
                     QStringLiteral("Quorvel"));
}

constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// QSettings replaces its file through a save file that keeps the permissions of the
// file it replaces, so creating it 0600 first means the token is never world-readable.
void ensurePrivateFile(const QString &path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly))
            file.close();
    }
    QFile::setPermissions(path, kOwnerOnly);
}

} // namespace

QString filePath() {
    return settings().fileName();
}

std::optional<QString> read() {
    const QVariant value = settings().value(kKey);
    if (!value.isValid() || value.userType() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

void write(const QString &token) {
    QSettings s = settings();
    ensurePrivateFile(s.fileName());
    s.setValue(kKey, token);
    s.sync();
    QFile::setPermissions(s.fileName(), kOwnerOnly);
}

void remove() {
    QSettings s = settings();
    s.remove(kKey);
    s.sync();
}

} // namespace quorvel::TokenStore
