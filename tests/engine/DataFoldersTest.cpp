#include "support/SimHarness.h"

#include "engine/DataFolders.h"

#include <QDir>
#include <gtest/gtest.h>

TEST(DataFolders, TheFirstFolderThatHasANameWinsAndEachNameIsListedOnce) {
    QTemporaryDir program, installed, user;
    QDir(installed.path()).mkpath("Skins");
    for (const QString& file :
         {program.filePath("B.sfh"), installed.filePath("A.sfh"), installed.filePath("B.sfh"),
          installed.filePath("bpi_server_v036.bit"), installed.filePath("Skins/belv.urf"),
          user.filePath("C.sfh"), user.filePath("A.sfh")})
        writeFile(QFileInfo(file).path(), QFileInfo(file).fileName(), "x");
    const DataFolders folders(QStringList{program.path(), installed.path(), user.path()});

    EXPECT_EQ(folders.descriptionFiles(),
              (QStringList{installed.filePath("A.sfh"), program.filePath("B.sfh"),
                           user.filePath("C.sfh")}));
    EXPECT_EQ(folders.serverBitstreams(), QStringList{installed.filePath("bpi_server_v036.bit")});
    // A name no folder has is read from the program's own; a folder is no data file.
    const QString A = installed.filePath("A.sfh"), skin = installed.filePath("Skins/belv.urf");
    for (const auto& [name, found] : {std::pair{"A.sfh", A},
                                      {"Skins/belv.urf", skin},
                                      {"Z.sfh", QString()},
                                      {"Skins", QString()}}) {
        EXPECT_EQ(folders.findDataFile(name), found) << name;
        EXPECT_EQ(folders.pathFor(name), found.isEmpty() ? program.filePath(name) : found) << name;
    }
}

// A description file the user added lists its device, and the operation reads that file.
TEST(DataFolders, ADeviceDescribedOnlyInTheUsersFolderWorksTheBoard) {
    SimHarness sim;
    QTemporaryDir user;
    QFile::copy(sim.path("M25P16.sfh"), user.filePath("MyChip.sfh"));
    sim.h->model.session.dataFolders = DataFolders(QStringList{sim.dir.path(), user.path()});
    sim.startAndConnect();
    sim.h->ui.mnuSPI.click();
    ASSERT_EQ(sim.h->ui.cbFlash.items().count("MyChip"), 1);
    sim.h->ui.cbFlash.setSelectedIndex(int(sim.h->ui.cbFlash.items().indexOf("MyChip")));
    sim.press(sim.h->ui.btnIDecho[0]);
    EXPECT_EQ(sim.console(), "20 20 15 \r\n");
}
