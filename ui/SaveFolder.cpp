#include "SaveFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace kelvara::ui {

namespace {

constexpr char kKey[] = "saveFolder";

QSettings Stored() { return QSettings(QStringLiteral("Kelvara"), QStringLiteral("kelvara")); }

} // namespace

QString SaveFolder() {
    const QString remembered = Stored().value(QLatin1String(kKey)).toString();
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir())
        return remembered;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void RememberSaveFolder(const QString& file) {
    Stored().setValue(QLatin1String(kKey), QFileInfo(file).absolutePath());
}

QString InSaveFolder(const QString& typed) {
    if (typed.isEmpty() || QDir::isAbsolutePath(typed))
        return typed;
    return QDir::cleanPath(QDir(SaveFolder()).filePath(typed));
}

} // namespace kelvara::ui
