#include "support/FakeBoardTest.h"

TEST_F(FakePortTest, StartUpListsTheFilesAndStartsDisconnectedInTheFpgaLayout) {
    for (const char* name :
         {"A.sfh", "B.sfh", "bpi_server_v035.bit", "bpi_server_v036.bit", "other.bit"})
        writeFile(dir.path(), name, "x");
    port.addPort(1, FakePort::controller());
    startWindow();
    const auto& ui = h->ui;
    EXPECT_EQ(ui.cbFlash.items(), (QStringList{"A", "B"}));
    EXPECT_EQ(ui.cbFlash.selectedIndex(), -1);
    EXPECT_EQ(ui.cbBpi.items(), (QStringList{"bpi_server_v035", "bpi_server_v036"}));
    EXPECT_EQ(ui.cbBpi.selectedItem(), "bpi_server_v036");
    EXPECT_TRUE(ui.btnCfgFPGA.visible() && !ui.cbFlash.visible());
    EXPECT_EQ(h->model.session.opState.State(), 0);
    EXPECT_EQ(h->prompter.boxes(),
              QStringList{"Warning: Skinning disabled, no skin files present."});
    EXPECT_FALSE(ui.mnuSkin.enabled());
}

TEST_F(FakePortTest, StartUpReportsANonNumericTimerFieldAndGoesOn) {
    port.addPort(1, FakePort::controller());
    h = std::make_unique<PanelHarness>(port, clock, dir.path());
    h->ui.txtTimeout.setText("fast");
    h->model.startUp();
    EXPECT_TRUE(h->prompter.texts().contains("Error: 13\r\nType mismatch"));
    EXPECT_EQ(h->timer.interval(), 15);
    EXPECT_EQ(h->ui.btnConnect.text(), "Connect to COM1");
}
