#include "support/SimHarness.h"

#include "sim/BitstreamBuilder.h"

#include <gtest/gtest.h>

// A controller that stops answering in the middle of an operation usually still listens (its
// transmit line died, or its acknowledgements are being lost). When the program gives the link
// up it must still let the controller go, or the board stays in configuration mode.

namespace {

struct LinkLossTest : ::testing::Test {
    std::unique_ptr<SimHarness> sim;

    MainPanelControls& ui() { return sim->h->ui; }
    void board(BoardConfig config) {
        config.timeScale = 0.001;
        sim = std::make_unique<SimHarness>(config);
        sim->startAndConnect();
    }
    bool released() const {
        const QStringList seen = sim->board.commandsSeen();
        return seen.lastIndexOf("load_config 0") > seen.lastIndexOf("load_config 1");
    }
};

QByteArray data(int size) {
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char(i * 13 + 1);
    return out;
}

} // namespace

TEST_F(LinkLossTest, TheControllerIsReleasedWhenTheLinkIsGivenUpMidOperation) {
    enum class Op { Fpga, SpiId, SpiErase, SpiProgram, SpiRead };
    const struct {
        const char* what;
        Op op;
        BoardConfig config;
    } cases[] = {
        {"FPGA, transmitter dies after the reset", Op::Fpga, {.silentAfterCommands = 4}},
        {"FPGA, transmitter dies after the download", Op::Fpga, {.silentAfterCommands = 11}},
        {"SPI ID, transmitter dies before the transaction", Op::SpiId, {.silentAfterCommands = 5}},
        {"SPI erase, transmitter dies in the unprotect", Op::SpiErase, {.silentAfterCommands = 8}},
        {"SPI program, transmitter dies between pages",
         Op::SpiProgram,
         {.silentAfterCommands = 20}},
        {"SPI program, every other acknowledgement lost",
         Op::SpiProgram,
         {.seed = 3, .dropAckRate = 0.5}},
        {"SPI read, transmitter dies between chunks", Op::SpiRead, {.silentAfterCommands = 12}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board(c.config);
        auto& h = *sim->h;
        ASSERT_TRUE(ui().btnDisconnect.visible());
        if (c.op == Op::Fpga) {
            h.picker.paths << writeFile(sim->dir.path(), "design.bit",
                                        buildBitFile(buildConfigPayload({.size = 4096})));
            ui().mnuFPGA.click();
            ui().mnuOpenFile.click();
            ui().btnCfgFPGA.click();
        } else {
            ui().mnuSPI.click();
            ui().cbFlash.setSelectedIndex(int(ui().cbFlash.items().indexOf("M25P16")));
            h.picker.paths << writeFile(sim->dir.path(), "data.bin", data(700));
            ui().mnuOpenFile.click();
            Control* buttons[] = {nullptr, &ui().btnIDecho[0], &ui().btnBulkErase[0],
                                  &ui().btnProgram[0], &ui().btnRead[0]};
            buttons[int(c.op)]->click();
        }
        h.runTimer(200000);
        ASSERT_FALSE(h.timer.isActive());
        ASSERT_TRUE(h.prompter.titles().contains("Communication with PSoC lost"))
            << sim->console().toStdString();
        EXPECT_TRUE(released()) << sim->board.commandsSeen().join(", ").toStdString();
        // The answers to the release, if any, are not shown as received text.
        EXPECT_FALSE(sim->console().contains("ack")) << sim->console().toStdString();
        EXPECT_EQ(sim->port.bytesWaiting(), 0);
        EXPECT_EQ(h.model.session.opState.State(),
                  c.op == Op::Fpga ? OpStateObj::Start : OpStateObj::SpiIdle);
    }
}

TEST_F(LinkLossTest, AControllerThatIsGoneIsGivenUpWithoutWaitingLong) {
    board({.closeAfterBytes = 200});
    auto& h = *sim->h;
    ui().mnuSPI.click();
    ui().cbFlash.setSelectedIndex(int(ui().cbFlash.items().indexOf("M25P16")));
    h.picker.paths << writeFile(sim->dir.path(), "data.bin", data(700));
    ui().mnuOpenFile.click();
    const std::int64_t start = sim->clock.nowUs();
    ui().btnProgram[0].click();
    h.runTimer(200000);
    EXPECT_TRUE(h.prompter.titles().contains("Communication with PSoC lost"));
    // The closing commands go out unanswered: the release waits a moment, not a poll limit.
    EXPECT_LT(sim->clock.nowUs() - start, 30'000'000);
    EXPECT_EQ(h.model.session.opState.State(), OpStateObj::SpiIdle);
}

// Found by fuzz/fuzz_spi_operation: a description cut short leaves a zero address width, so
// every page sends three bytes more than it announced. The step after the first page then
// fails each time; its retry restarts the transfer from the first page, whose answered steps
// reset the consecutive count, and the operation went round for ever.
TEST_F(LinkLossTest, AStepThatFailsEachTimeItIsRetriedStillEndsTheOperation) {
    sim = std::make_unique<SimHarness>(BoardConfig{.timeScale = 0.001});
    auto& h = *sim->h;
    writeFile(sim->dir.path(), "CUT.sfh",
              "WREN      06\r\nWESR      06\r\nWRDI      04\r\nMBPP      000000000100\r\n"
              "BPRD      000000800000\r\nABSZtatus register\r\n");
    sim->startAndConnect();
    ui().mnuSPI.click();
    ui().cbFlash.setSelectedIndex(int(ui().cbFlash.items().indexOf("CUT")));
    h.picker.paths << writeFile(sim->dir.path(), "data.bin", data(300));
    ui().mnuOpenFile.click();
    ui().txtOffset.setText("146F6E");
    ui().txtPrgBytes.setText("193");
    ui().btnProgram[0].click();
    h.runTimer(3000);
    ASSERT_FALSE(h.timer.isActive()) << "still going after 3000 ticks";
    EXPECT_TRUE(h.prompter.texts().filter("incorrect .sfh file").size() == 1);
    EXPECT_TRUE(h.prompter.titles().contains("Communication with PSoC lost"));
    EXPECT_TRUE(released());
    EXPECT_EQ(h.model.session.opState.State(), OpStateObj::SpiIdle);
    EXPECT_EQ(sim->board.spi().memory().mid(0x146F6E, 193), QByteArray(193, char(0xFF)));
}
