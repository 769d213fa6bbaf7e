#include "SaveFolder.h"

#include "StoredSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kelvara::ui {

namespace {

constexpr char kKey[] = "saveFolder";

} // namespace

QString SaveFolder() {
    const QString remembered = StoredSettings().value(QLatin1String(kKey)).toString();
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir())
        return remembered;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void RememberSaveFolder(const QString& file) {
    StoredSettings().setValue(QLatin1String(kKey), QFileInfo(file).absolutePath());
}

QString InSaveFolder(const QString& typed) {
    if (typed.isEmpty() || QDir::isAbsolutePath(typed))
        return typed;
    return QDir::cleanPath(QDir(SaveFolder()).filePath(typed));
}

} // namespace kelvara::ui
