#include "support/SimHarness.h"

#include "engine/DataFolders.h"

#include <QDir>
#include <QStandardPaths>
#include <gtest/gtest.h>

TEST(DataFolders, TheFirstFolderThatHasANameWinsAndEachNameIsListedOnce) {
    QTemporaryDir program, installed, user;
    writeFile(program.path(), "B.sfh", "program");
    writeFile(installed.path(), "A.sfh", "installed");
    writeFile(installed.path(), "B.sfh", "installed");
    writeFile(installed.path(), "bpi_server_v036.bit", "server");
    writeFile(user.path(), "C.sfh", "user");
    writeFile(user.path(), "A.sfh", "user");
    QDir(installed.path()).mkpath("Skins");
    writeFile(installed.path() + "/Skins", "belv.urf", "skin");
    const DataFolders folders(QStringList{program.path(), installed.path(), user.path()});

    EXPECT_EQ(folders.descriptionFiles(),
              (QStringList{installed.filePath("A.sfh"), program.filePath("B.sfh"),
                           user.filePath("C.sfh")}));
    EXPECT_EQ(folders.serverBitstreams(), QStringList{installed.filePath("bpi_server_v036.bit")});
    const struct {
        QString name, found, readFrom;
    } cases[] = {
        {"A.sfh", installed.filePath("A.sfh"), installed.filePath("A.sfh")},
        {"Skins/belv.urf", installed.filePath("Skins/belv.urf"),
         installed.filePath("Skins/belv.urf")},
        {"Z.sfh", "", program.filePath("Z.sfh")},
        {"Skins", "", program.filePath("Skins")}, // a folder is no data file
    };
    for (const auto& c : cases) {
        EXPECT_EQ(folders.findDataFile(c.name), c.found) << c.name.toStdString();
        EXPECT_EQ(folders.pathFor(c.name), c.readFrom) << c.name.toStdString();
    }
}

TEST(DataFolders, AProgramLooksBesideItselfThenInTheInstalledFolderThenInTheUsersOwn) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/home/u/.local/share");
    // The suite keeps away from the real user's folders; here the real rule is the point.
    QStandardPaths::setTestModeEnabled(false);
    const QStringList folders = DataFolders::forProgram("/opt/x/bin").folders();
    QStandardPaths::setTestModeEnabled(true);
    saved.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(folders,
              (QStringList{"/opt/x/bin", "/opt/x/share/zbpu", "/home/u/.local/share/zbpu"}));
}

// A description file the user added lists its device, and the operation reads that file.
TEST(DataFolders, ADeviceDescribedOnlyInTheUsersFolderWorksTheBoard) {
    SimHarness sim;
    QTemporaryDir user;
    QFile::copy(sim.path("M25P16.sfh"), user.filePath("MyChip.sfh"));
    sim.h->model.session.dataFolders = DataFolders(QStringList{sim.dir.path(), user.path()});
    sim.startAndConnect();
    auto& ui = sim.h->ui;
    ui.mnuSPI.click();
    ASSERT_EQ(ui.cbFlash.items().count("MyChip"), 1);
    ui.cbFlash.setSelectedIndex(int(ui.cbFlash.items().indexOf("MyChip")));
    sim.press(ui.btnIDecho[0]);
    EXPECT_EQ(sim.console(), "20 20 15 \r\n");
}
