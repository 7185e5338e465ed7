#include "support/SimHarness.h"

#include "panel/SavedSettings.h"
#include "sim/BitstreamBuilder.h"

#include <QSettings>
#include <gtest/gtest.h>

// What one run of the window leaves, the next starts with; the store is a file of the test's
// own, never the user's settings.
TEST(SavedSettings, TheNextRunStartsAsTheLastOneEnded) {
    QTemporaryDir home;
    QSettings store(home.filePath("zbpu.ini"), QSettings::IniFormat);
    QString bit, spiFile, bpiFile;
    {
        SimHarness sim;
        sim.startAndConnect();
        auto& ui = sim.h->ui;
        auto& comm = sim.h->model.comm;
        comm.cbBPS.setSelectedIndex(2);
        comm.cbParity.setSelectedIndex(1);
        ui.mnuFPGA.click();
        bit = sim.choose("design.bit", buildBitFile(buildConfigPayload({.size = 3000})));
        ui.mnuBPI.click();
        QDir().mkpath(sim.path("images"));
        bpiFile = sim.choose("images/bpi.bin", randomBytes(64, 1));
        ui.mnuSPI.click();
        ui.cbFlash.setSelectedIndex(int(ui.cbFlash.items().indexOf("W25Q64")));
        spiFile = sim.path("new.bin"); // for Read to create
        sim.h->picker.paths << spiFile;
        ui.mnuOpenFile.click();
        ui.txtOffset.setText("F0");
        ui.txtPrgBytes.setText("256");
        ui.chkFastAck.setChecked(false);
        ui.chkFastAck.click();
        ui.chkFlashSteps.setChecked(true);
        SavedSettings saved(sim.h->model, store);
        saved.saveGeometry = [] { return QByteArray("where the window was"); };
        saved.save();

        SimHarness next;
        next.h->model.startUp();
        auto& ui2 = next.h->ui;
        SavedSettings again(next.h->model, store);
        QByteArray geometry;
        again.restoreGeometry = [&](const QByteArray& g) { geometry = g; };
        again.restore();
        EXPECT_TRUE(ui2.mnuSPI.checked());
        EXPECT_EQ(ui2.cbFlash.selectedItem(), "W25Q64");
        EXPECT_EQ(ui2.txtSpiFile.text(), "new.bin");
        EXPECT_EQ(ui2.txtPath.text(), spiFile);
        EXPECT_EQ(ui2.txtOffset.text(), "F0");
        EXPECT_EQ(ui2.txtPrgBytes.text(), "256");
        EXPECT_FALSE(ui2.chkFastAck.checked());
        EXPECT_FALSE(next.h->model.session.fastAck);
        EXPECT_TRUE(ui2.chkFlashSteps.checked());
        EXPECT_EQ(ui2.txtBitFile.text(), "design.bit");
        EXPECT_EQ(ui2.txtBpiFile.text(), "bpi.bin");
        EXPECT_EQ(next.port.settings(), "57600,O,8,1");
        EXPECT_EQ(geometry, "where the window was");
        // Each mode's dialog opens where its file is.
        ui2.mnuBPI.click();
        EXPECT_EQ(ui2.txtPath.text(), bpiFile);
        ui2.mnuOpenFile.click();
        ui2.mnuFPGA.click();
        EXPECT_EQ(ui2.txtPath.text(), bit);
        ui2.mnuOpenFile.click();
        EXPECT_EQ(next.h->picker.folders, (QStringList{sim.path("images"), sim.dir.path()}));
    }
}

// Nothing stored: the window is as the forms have it.
TEST(SavedSettings, AFirstRunChangesNothing) {
    QTemporaryDir home;
    QSettings store(home.filePath("zbpu.ini"), QSettings::IniFormat);
    SimHarness sim;
    sim.h->model.startUp();
    const auto before = sim.board.commandsSeen();
    SavedSettings(sim.h->model, store).restore();
    const auto& ui = sim.h->ui;
    EXPECT_TRUE(ui.mnuFPGA.checked());
    EXPECT_EQ(sim.h->model.session.opState.State(), 0);
    EXPECT_EQ(ui.cbFlash.selectedIndex(), -1);
    EXPECT_EQ(ui.txtPrgBytes.text(), "0");
    EXPECT_TRUE(ui.chkFastAck.checked());
    EXPECT_EQ(sim.board.commandsSeen(), before);
}
