#pragma once

#include <QString>
#include <QStringList>

// Where the program's data lives (description files, server bitstreams, skins), in the order
// they are looked in: the program's folder, the installed data folder, the user's data folder
// (~/.local/share/zbpu, where a user adds description files). Never the working folder.
class DataFolders {
public:
    DataFolders() = default;
    explicit DataFolders(QStringList folders)
        : folders_(std::move(folders)) {}
    // The usual three for a program whose executable lies in programFolder.
    static DataFolders forProgram(const QString& programFolder);
    // The installed data folder of a program in programFolder (bin/../share/zbpu), so that an
    // installed copy finds its data whatever the prefix.
    static QString installedFolder(const QString& programFolder);
    static QString userFolder();

    const QStringList& folders() const { return folders_; }

    // Full path of name (which may hold a subfolder, "Skins/belv.urf") in the first folder that
    // has it; empty when none has.
    QString findDataFile(const QString& name) const;
    // Where name is read from: as findDataFile, else the program's folder, so that a missing
    // file fails as "File not found" with a path the operator can check.
    QString pathFor(const QString& name) const;
    // Full paths of the files matching pattern in every folder, sorted by file name; a name in
    // several folders is listed once, from the first.
    QStringList listDataFiles(const QString& pattern) const;
    // The flash description files (*.sfh) and the server bitstreams (bpi_server_*.bit).
    QStringList descriptionFiles() const { return listDataFiles("*.sfh"); }
    QStringList serverBitstreams() const { return listDataFiles("bpi_server_*.bit"); }

private:
    QStringList folders_;
};
