#pragma once

#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

// What the share menu and the Preview buttons do with a local file.
class FileActions : public QObject {
    Q_OBJECT
    QML_ELEMENT

public:
    using QObject::QObject;

    // Opens the file in the desktop's default application.
    Q_INVOKABLE static bool open(const QUrl &file);
    // Puts the file's local path on the clipboard.
    Q_INVOKABLE static void copyPath(const QUrl &file);
    Q_INVOKABLE static QString localPath(const QUrl &file);
    // Whether the app's own reader shows the file (by its extension, as the catalogue decides).
    Q_INVOKABLE static bool isPdf(const QUrl &file);
};

} // namespace quorvel
