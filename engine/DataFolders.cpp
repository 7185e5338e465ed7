#include "engine/DataFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <map>

#ifndef ZBPU_DATA_FROM_BIN
#define ZBPU_DATA_FROM_BIN "../share/zbpu"
#endif

DataFolders DataFolders::forProgram(const QString& programFolder) {
    QStringList folders{programFolder, installedFolder(programFolder), userFolder()};
    folders.removeDuplicates();
    return DataFolders(folders);
}

QString DataFolders::installedFolder(const QString& programFolder) {
    return QDir::cleanPath(programFolder + "/" + ZBPU_DATA_FROM_BIN);
}

QString DataFolders::userFolder() {
    // ~/.local/share unless XDG_DATA_HOME says otherwise.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/zbpu";
}

QString DataFolders::findDataFile(const QString& name) const {
    for (const QString& folder : folders_) {
        const QFileInfo info(QDir(folder), name);
        if (info.isFile())
            return info.absoluteFilePath();
    }
    return {};
}

QString DataFolders::pathFor(const QString& name) const {
    const QString found = findDataFile(name);
    if (!found.isEmpty() || folders_.isEmpty())
        return found;
    return QFileInfo(QDir(folders_.first()), name).absoluteFilePath();
}

QStringList DataFolders::listDataFiles(const QString& pattern) const {
    std::map<QString, QString> byName;
    for (const QString& folder : folders_) {
        const QDir dir(folder);
        for (const QFileInfo& f : dir.entryInfoList({pattern}, QDir::Files, QDir::Name))
            byName.try_emplace(f.fileName(), f.absoluteFilePath());
    }
    QStringList paths;
    for (const auto& [name, path] : byName)
        paths << path;
    return paths;
}
