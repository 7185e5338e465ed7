#include "e2e/BoardSimProcess.h"
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
         "zbpu-cli: no answer from the BPI server"},
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
            EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        }
    }
}
