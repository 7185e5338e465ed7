#include "support/SimTest.h"

#include "sim/BitstreamBuilder.h"

// A controller that stops answering usually still listens: giving up must still release it.

struct LinkLossTest : SimTest {
    LinkLossTest() { timeScale = 0.001; }
};

TEST_F(LinkLossTest, TheLinkIsGivenUpInBoundedTimeAndTheControllerReleased) {
    const struct {
        const char* what;
        const char* button;
        int silentAfter;     // commands answered, -1: all
        int closeAfter = -1; // bytes before the link closes; nothing can be released then
        QString lost = "";   // the state named
    } cases[] = {
        // Answered up to "drive_prog 0"; "drive_mode 7" of state 3 never was.
        {"FPGA, transmitter dies after the reset", "btnCfgFPGA", 4, -1,
         "No ACK from state 3\r\nThe controller stopped answering: bytes were probably lost on the "
         "line, or the board lost power or its cable."},
        {"SPI ID, transmitter dies before the transaction", "btnIDecho_0", 5},
        {"SPI erase, transmitter dies in the unprotect", "btnBulkErase_0", 8},
        {"SPI read, transmitter dies between chunks", "btnRead_0", 12},
        // A silent line is waited on for a second in all, not a second for each of 500 polls.
        {"SPI program, transmitter dies in a status poll", "btnProgram_0", 16},
        {"SPI program, the link closes", "btnProgram_0", -1, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool fpga = QString(c.button) == "btnCfgFPGA";
        board(fpga ? Mode::Fpga : Mode::Spi,
              {.silentAfterCommands = c.silentAfter, .closeAfterBytes = c.closeAfter});
        sim->choose(fpga ? "design.bit" : "data.bin",
                    fpga ? buildBitFile(buildConfigPayload({.size = 4096})) : randomBytes(700, 1));
        sim->control(c.button).click();
        const std::int64_t start = sim->clock.nowUs();
        sim->h->runTimer(20000);
        ASSERT_FALSE(sim->h->timer.isActive()) << "still going after 20000 ticks";
        // A failure ends within 10 s of its fault.
        EXPECT_LT(sim->clock.nowUs() - start, 10'000'000);
        ASSERT_TRUE(prompter().titles().contains("Communication with PSoC lost"))
            << sim->console().toStdString();
        EXPECT_TRUE(c.lost.isEmpty() ||
                    sim->lastMessage() == "Communication with PSoC lost: " + c.lost)
            << sim->lastMessage().toStdString();
        const QStringList seen = sim->board.commandsSeen();
        if (c.closeAfter < 0) {
            EXPECT_GT(seen.lastIndexOf("load_config 0"), seen.lastIndexOf("load_config 1"))
                << seen.join(", ").toStdString();
        }
        // The answers to the release, if any, are not shown as received text.
        EXPECT_FALSE(sim->console().contains("ack")) << sim->console().toStdString();
        EXPECT_EQ(sim->port.bytesWaiting(), 0);
        EXPECT_EQ(leftBehind(fpga ? Mode::Fpga : Mode::Spi), QStringList());
    }
}
