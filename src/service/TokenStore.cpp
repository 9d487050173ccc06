#include "service/TokenStore.h"

#include "service/LogCategories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

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

bool isWellFormed(const QString &token) {
    return std::none_of(token.begin(), token.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

std::optional<QString> read() {
    const QVariant value = settings().value(kKey);
    if (!value.isValid() || value.userType() != QMetaType::QString)
        return std::nullopt;
    const QString token = value.toString();
    if (!isWellFormed(token)) {
        Log::write(lcAuth(),
                   QStringLiteral("⚠️ The stored token holds control characters: signed out"));
        remove();
        return std::nullopt;
    }
    return token;
}

bool write(const QString &token) {
    if (!isWellFormed(token))
        return false;
    QSettings s = settings();
    ensurePrivateFile(s.fileName());
    s.setValue(kKey, token);
    s.sync();
    QFile::setPermissions(s.fileName(), kOwnerOnly);
    return true;
}

void remove() {
    QSettings s = settings();
    s.remove(kKey);
    s.sync();
}

} // namespace quorvel::TokenStore
