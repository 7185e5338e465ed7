#include "support/SimHarness.h"

#include "sim/BitstreamBuilder.h"

#include <gtest/gtest.h>

// A controller that stops answering in the middle of an operation usually still listens (its
// transmit line died, or its acknowledgements are being lost). When the program gives the link
// up it must still let the controller go, or the board stays in configuration mode; and it must
// give up in bounded time whatever the way the answers go wrong.

namespace {

QByteArray data(int size) {
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char(i * 13 + 1);
    return out;
}

} // namespace

TEST(LinkLossTest, TheLinkIsGivenUpInBoundedTimeAndTheControllerReleased) {
    enum class Op { Fpga, SpiId, SpiErase, SpiProgram, SpiRead };
    const struct {
        const char* what;
        Op op;
        BoardConfig config;
        QByteArray description = {}; // of the device "CUT" used instead of M25P16
        bool portGone = false;       // nothing can be released on a closed link
        QString offset = "0", count = "700";
        // A failure ends within 10 s of its fault; runs with many faults recover from each
        // until too many come in a row.
        std::int64_t seconds = 10;
    } cases[] = {
        {"FPGA, transmitter dies after the reset", Op::Fpga, {.silentAfterCommands = 4}},
        {"FPGA, transmitter dies after the download", Op::Fpga, {.silentAfterCommands = 11}},
        {"SPI ID, transmitter dies before the transaction", Op::SpiId, {.silentAfterCommands = 5}},
        {"SPI erase, transmitter dies in the unprotect", Op::SpiErase, {.silentAfterCommands = 8}},
        {"SPI program, transmitter dies between pages",
         Op::SpiProgram,
         {.silentAfterCommands = 20}},
        {"SPI read, transmitter dies between chunks", Op::SpiRead, {.silentAfterCommands = 12}},
        // Each echo of the poll used to wait its full time: 500 polls of a second each. Now a
        // silent line is waited on for a second in all.
        {"SPI program, transmitter dies in a status poll",
         Op::SpiProgram,
         {.silentAfterCommands = 16}},
        {"SPI program, the link closes", Op::SpiProgram, {.closeAfterBytes = 200}, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoardConfig config = c.config;
        config.timeScale = 0.001;
        SimHarness sim(config);
        auto& ui = sim.h->ui;
        if (!c.description.isEmpty())
            writeFile(sim.dir.path(), "CUT.sfh", c.description);
        sim.startAndConnect();
        if (c.op == Op::Fpga) {
            ui.mnuFPGA.click();
            sim.choose("design.bit", buildBitFile(buildConfigPayload({.size = 4096})));
            ui.btnCfgFPGA.click();
        } else {
            ui.mnuSPI.click();
            const QString device = c.description.isEmpty() ? "M25P16" : "CUT";
            ui.cbFlash.setSelectedIndex(int(ui.cbFlash.items().indexOf(device)));
            sim.choose("data.bin", data(700));
            ui.txtOffset.setText(c.offset);
            ui.txtPrgBytes.setText(c.count);
            Control* buttons[] = {nullptr, &ui.btnIDecho[0], &ui.btnBulkErase[0], &ui.btnProgram[0],
                                  &ui.btnRead[0]};
            buttons[int(c.op)]->click();
        }
        const std::int64_t start = sim.clock.nowUs();
        sim.h->runTimer(20000);
        ASSERT_FALSE(sim.h->timer.isActive()) << "still going after 20000 ticks";
        EXPECT_LT(sim.clock.nowUs() - start, c.seconds * 1'000'000);
        ASSERT_TRUE(sim.h->prompter.titles().contains("Communication with PSoC lost"))
            << sim.console().toStdString();
        const QStringList seen = sim.board.commandsSeen();
        if (!c.portGone) {
            EXPECT_GT(seen.lastIndexOf("load_config 0"), seen.lastIndexOf("load_config 1"))
                << seen.join(", ").toStdString();
        }
        // The answers to the release, if any, are not shown as received text.
        EXPECT_FALSE(sim.console().contains("ack")) << sim.console().toStdString();
        EXPECT_EQ(sim.port.bytesWaiting(), 0);
        EXPECT_EQ(sim.h->model.session.opState.State(),
                  c.op == Op::Fpga ? OpStateObj::Start : OpStateObj::SpiIdle);
    }
}
