#include "FileActions.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>

namespace quorvel {

bool FileActions::open(const QUrl &file) {
    return QDesktopServices::openUrl(file);
}

void FileActions::copyPath(const QUrl &file) {
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(localPath(file));
}

QString FileActions::localPath(const QUrl &file) {
    return file.isLocalFile() ? file.toLocalFile() : file.toString();
}

bool FileActions::isPdf(const QUrl &file) {
    return file.isLocalFile() && QFileInfo(file.toLocalFile())
                                         .suffix()
                                         .compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
}

} // namespace quorvel
