#include "support/SimHarness.h"

#include <gtest/gtest.h>

// Each flash mode shows its own offset and byte count, the first time as the form has them:
// a parallel flash Program after SPI work writes at its own offset, also after the server
// load's detour through the FPGA mode.
TEST(Layout, EachFlashModeKeepsItsOwnOffsetAndCount) {
    SimHarness sim;
    sim.startAndConnect();
    auto& ui = sim.h->ui;
    const auto range = [&] { return ui.txtOffset.text() + " " + ui.txtPrgBytes.text(); };
    // The mode chosen, the offset and count it shows, then those typed in it (if any).
    const struct {
        Control* mode;
        QString shown, typedOffset, typedBytes;
    } steps[] = {{&ui.mnuSPI, "0 0", "F0", "256"},
                 {&ui.mnuBPI, "0 0", "1000", "64"},
                 {&ui.mnuFPGA, "", "", ""},
                 {&ui.mnuSPI, "F0 256", "20", "16"},
                 {&ui.mnuBPI, "1000 64", "", ""}};
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << "step " << &step - steps);
        step.mode->click();
        if (step.mode == &ui.mnuFPGA)
            continue; // no range in this mode
        EXPECT_EQ(range(), step.shown);
        if (!step.typedOffset.isEmpty()) {
            ui.txtOffset.setText(step.typedOffset);
            ui.txtPrgBytes.setText(step.typedBytes);
        }
    }
    sim.press(ui.btnLoad);
    ASSERT_TRUE(sim.h->model.session.BpiServerRunning);
    EXPECT_EQ(range(), "1000 64");
    const QByteArray image = randomBytes(100, 4);
    sim.choose("image.bin", image);
    EXPECT_EQ(ui.txtPrgBytes.text(), "100");
    sim.press(ui.btnProgram[1]);
    EXPECT_EQ(sim.board.bpiFlash().memory().mid(0x1000, 100), image);
    EXPECT_EQ(sim.board.bpiFlash().memory().mid(0x20, 100), QByteArray(100, char(0xFF)));
    ui.mnuSPI.click();
    EXPECT_EQ(range(), "20 16");
}
