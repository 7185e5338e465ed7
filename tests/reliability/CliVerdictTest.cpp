#include "e2e/BoardSimProcess.h"
#include "sim/BitstreamBuilder.h"
#include "support/PanelFixture.h"

#include <gtest/gtest.h>

// The command line's exit status is all a script sees: a parallel flash operation whose answer
// never came, or whose data came with more bytes than asked for, must not end as a success.

TEST(CliVerdict, ParallelFlashOperationsFailWhenTheServerSaysNothingOrTooMuch) {
    const struct {
        const char* what;
        QStringList board;
        QStringList args;
        int code;
        QString message;
    } cases[] = {
        // The connection probes the server twice (two bytes each) before the operation.
        {"an identification nobody answers",
         {"--server-silent-after", "4"},
         {"bpi", "id"},
         1,
         "The BPI server stopped answering"},
        {"an identification that is answered", {}, {"bpi", "id"}, 0, ""},
        {"a read with noise on the line",
         {"--garbage", "0.02", "--seed", "1"},
         {"bpi", "read", "out.bin", "--bytes", "4096"},
         1,
         "more bytes than were asked for"},
        {"a read on a quiet line", {}, {"bpi", "read", "out.bin", "--bytes", "4096"}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoardSimProcess board(QStringList{"--server-running"} + c.board);
        ASSERT_TRUE(board.started());
        QStringList args;
        for (const QString& a : c.args)
            args << (a == "out.bin" ? board.folder() + "/out.bin" : a);
        const auto r = board.cli(QStringList{"--yes"} + args);
        EXPECT_EQ(r.exitCode, c.code) << r.err.toStdString();
        if (!c.message.isEmpty()) {
            EXPECT_TRUE((r.out + r.err).contains(c.message)) << r.err.toStdString();
            EXPECT_FALSE(r.out.contains("complete")) << "a success line over wrong data";
        }
    }
}

// The verdict is the operation's recorded outcome: a link lost before the identification
// fails the run whatever the message says.
TEST(CliVerdict, AnSpiIdentificationNeverAnsweredFails) {
    BoardSimProcess board({"--silent-after", "3"});
    ASSERT_TRUE(board.started());
    const auto r = board.cli({"--yes", "spi", "M25P16", "id"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Communication with PSoC lost")) << r.err.toStdString();
}

// Ctrl-C in the middle of a transfer ends the run through the operation's end path, soon,
// with the controller released: the next run finds the board answering. (A transfer stopped
// halfway is completed with filler first, as the controller and the server know no other
// way out of one: the transfers here are short enough for that to fit the bound.)
TEST(CliVerdict, AnInterruptedTransferEndsSoonAndLeavesTheBoardAnswering) {
    const struct {
        const char* what;
        QStringList board, args, next;
    } cases[] = {
        {"SPI program",
         {"--baud", "115200"},
         {"spi", "M25P16", "program", "image.bin"},
         {"spi", "M25P16", "id"}},
        {"FPGA configuration", {"--baud", "115200"}, {"fpga", "design.bit"}, {"connect"}},
        {"BPI program",
         {"--baud", "115200", "--server-running"},
         {"bpi", "program", "image.bin"},
         {"connect"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoardSimProcess board(c.board);
        ASSERT_TRUE(board.started());
        writeFile(board.folder(), "image.bin", randomBytes(32 * 1024, 3));
        writeFile(board.folder(), "design.bit", buildBitFile(buildConfigPayload({.size = 30000})));
        QStringList args{"--yes"};
        for (const QString& a : c.args)
            args << (a.contains('.') ? board.folder() + "/" + a : a);
        const auto r = board.cliInterrupted(args, "?", 1500);
        EXPECT_EQ(r.exitCode, 130) << r.err.toStdString();
        EXPECT_LT(r.msAfterSignal, 5000);
        EXPECT_TRUE(r.out.contains("Operation abandoned: interrupted.")) << r.out.toStdString();
        const auto next = board.cli(QStringList{"--yes"} + c.next);
        EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
    }
}
