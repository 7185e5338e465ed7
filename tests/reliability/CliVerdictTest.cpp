#include "e2e/BoardSimProcess.h"
#include "sim/BitstreamBuilder.h"
#include "support/PanelFixture.h"

#include <gtest/gtest.h>

// The exit status is all a script sees: a missing answer or surplus data is no success.

static QStringList words(const QString& line) {
    return line.split(' ', Qt::SkipEmptyParts);
}

TEST(CliVerdict, OperationsFailWhenTheBoardSaysNothingOrTooMuch) {
    const struct {
        const char* what;
        QString board, args;
        int code;
        QString message;
    } cases[] = {
        {"a read with noise on the line", "--server-running --garbage 0.02 --seed 1",
         "bpi read out.bin --bytes 4096", 1, "more bytes than were asked for"},
        {"a read on a quiet line", "--server-running", "bpi read out.bin --bytes 4096", 0, ""},
        // The verdict is the recorded outcome, whatever the message says.
        {"an SPI identification never answered", "--silent-after 3", "spi M25P16 id", 1,
         "Communication with PSoC lost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoardSimProcess board(words(c.board));
        ASSERT_TRUE(board.started());
        const auto r = board.cli(
            words("--yes " + QString(c.args).replace("out.bin", board.folder() + "/out.bin")));
        EXPECT_EQ(r.exitCode, c.code) << r.err.toStdString();
        if (!c.message.isEmpty()) {
            EXPECT_TRUE((r.out + r.err).contains(c.message)) << r.err.toStdString();
            EXPECT_FALSE(r.out.contains("complete")) << "a success line over wrong data";
        }
    }
}

// Ctrl-C finishes a transfer under way with filler, its time left on standard error; a second
// one leaves at once and names the power cycle, and the next run finishes the transfer.
TEST(CliVerdict, AnInterruptedTransferIsFinishedOrNamedAndTheNextRunFindsTheBoard) {
    const QString finishing = "Stopping: finishing the BPI server's transfer, ";
    const struct {
        const char* what;
        QString board, args, next;
        int designBytes, delayMs, withinMs;
        QString again = "", left = "", nextSays = "";
    } cases[] = {
        {"SPI program", "", "spi M25P16 program image.bin", "spi M25P16 id", 30000, 1500, 5000},
        // The interrupt may find the download over: the next run finds the board either way.
        {"FPGA configuration", "", "fpga design.bit", "connect", 200000, 1500, 20000},
        {"1 MiB parallel flash program, 4 s in", "--server-running", "bpi program big.bin",
         "bpi id", 30000, 4000, 5000, "", finishing},
        {"1 MiB parallel flash program, Ctrl-C twice", "--server-running", "bpi program big.bin",
         "bpi id", 30000, 4000, 2000, finishing, "The BPI server still expects ",
         "The unfinished transfer was completed: the BPI server reads commands again."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoardSimProcess board(words("--baud 115200 " + c.board));
        ASSERT_TRUE(board.started());
        writeFile(board.folder(), "image.bin", randomBytes(32 * 1024, 3));
        writeFile(board.folder(), "big.bin", randomBytes(1024 * 1024, 4));
        writeFile(board.folder(), "design.bit",
                  buildBitFile(buildConfigPayload({.size = c.designBytes})));
        QStringList args{"--yes"};
        for (const QString& a : words(c.args))
            args << (a.contains('.') ? board.folder() + "/" + a : a);
        const auto r = board.cliInterrupted(args, "?", c.delayMs, c.again);
        EXPECT_EQ(r.exitCode, 130) << r.err.toStdString();
        EXPECT_LT(r.msAfterSignal, c.withinMs);
        EXPECT_TRUE(r.out.contains("Operation abandoned: interrupted.")) << r.out.toStdString();
        EXPECT_TRUE((r.out + r.err).contains(c.left)) << (r.out + r.err).toStdString();
        const auto next = board.cli(words("--yes " + c.next));
        EXPECT_EQ(next.exitCode, 0) << (next.out + next.err).toStdString();
        EXPECT_TRUE((next.out + next.err).contains(c.nextSays)) << next.out.toStdString();
    }
}
