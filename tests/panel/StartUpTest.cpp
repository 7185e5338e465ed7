#include "support/FakePort.h"
#include "support/PanelFixture.h"

#include <gtest/gtest.h>

namespace {

struct StartUpTest : ::testing::Test {
    VirtualClock clock;
    FakePort port{clock};
    QTemporaryDir dir;
    std::unique_ptr<PanelHarness> h;

    void start() {
        port.addPort(1, FakePort::controller());
        h = std::make_unique<PanelHarness>(port, clock, dir.path());
        h->model.startUp();
    }
};

} // namespace

TEST_F(StartUpTest, ListsDescriptionFilesAndServersWithoutExtensionsAndSelectsTheSpokenServer) {
    writeFile(dir.path(), "A.sfh", "");
    writeFile(dir.path(), "B.sfh", "");
    writeFile(dir.path(), "bpi_server_v035.bit", "x");
    writeFile(dir.path(), "bpi_server_v036.bit", "x");
    writeFile(dir.path(), "other.bit", "x");
    start();
    EXPECT_EQ(h->ui.cbFlash.items(), (QStringList{"A", "B"}));
    EXPECT_EQ(h->ui.cbFlash.selectedIndex(), -1);
    EXPECT_EQ(h->ui.cbBpi.items(), (QStringList{"bpi_server_v035", "bpi_server_v036"}));
    EXPECT_EQ(h->ui.cbBpi.selectedItem(), "bpi_server_v036");
    EXPECT_EQ(h->ui.MainPanel.text(), "Zelto Board Programming Utility v3.4.1");
}

TEST_F(StartUpTest, StartsDisconnectedInTheFpgaLayoutWithAsciiAndBlockMode) {
    start();
    const auto& ui = h->ui;
    EXPECT_TRUE(ui.btnConnect.visible());
    EXPECT_EQ(h->model.session.opState.State(), 0);
    EXPECT_TRUE(ui.btnCfgFPGA.visible());
    EXPECT_FALSE(ui.cbFlash.visible());
    EXPECT_FALSE(ui.btnIDecho[0].visible());
    EXPECT_TRUE(ui.rbTransmitMode[1].checked());
    EXPECT_TRUE(ui.rbRecvMode[0].checked());
    EXPECT_EQ(h->timer.interval(), 15);
    EXPECT_FALSE(h->timer.isActive());
}

TEST_F(StartUpTest, WithoutASkinFileWarnsAndDisablesTheSkinEntry) {
    start();
    ASSERT_FALSE(h->prompter.shown.isEmpty());
    EXPECT_EQ(h->prompter.shown[0].text, "Skinning disabled, no skin files present.");
    EXPECT_EQ(h->prompter.shown[0].title, "Warning");
    EXPECT_FALSE(h->ui.mnuSkin.enabled());
}

TEST_F(StartUpTest, ANonNumericTimerFieldIsReportedAndLoadingGoesOn) {
    port.addPort(1, FakePort::controller());
    h = std::make_unique<PanelHarness>(port, clock, dir.path());
    h->ui.txtTimeout.setText("fast");
    h->model.startUp();
    EXPECT_TRUE(h->prompter.texts().contains("Error: 13\r\nType mismatch"));
    EXPECT_EQ(h->timer.interval(), 15);
    EXPECT_EQ(h->ui.btnConnect.text(), "Connect to COM1");
}
