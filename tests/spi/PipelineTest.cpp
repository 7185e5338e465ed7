#include "support/SimHarness.h"

#include <gtest/gtest.h>

// Pipelined transfers change when bytes are sent, never which bytes or in what order: each
// operation runs step by step and pipelined on boards alike, behind a USB bridge, and the
// two must leave the same bytes on the wire, the same flash and the same file.

namespace {

struct RunResult {
    QByteArray wire, memory, file;
    QString console;
    std::int64_t us = 0;
    int extraPolls = 0; // status polls beyond one a page
};

struct Operation {
    const char* what;
    const char* button;
    bool flashSteps;
    QString offset;
    int bytes;
};

RunResult runOnce(const Operation& op, bool pipelined, int baud, std::int64_t latencyUs,
                  bool typicalTime = true) {
    SimHarness sim({.baud = baud, .replyLatencyUs = latencyUs});
    if (!typicalTime) {
        const QByteArray description = readFile(sim.path("M25P16.sfh"));
        writeFile(sim.dir.path(), "M25P16.sfh", description.left(description.indexOf("PPTY")));
    }
    sim.board.spi().memory() = randomBytes(2 * 1024 * 1024, 3);
    sim.startAndConnect();
    if (baud == 921600)
        sim.port.setSettings("921600,N,8,1");
    auto& ui = sim.h->ui;
    ui.mnuSPI.click();
    ui.cbFlash.setSelectedIndex(int(ui.cbFlash.items().indexOf("M25P16")));
    ui.chkPipeline.setChecked(pipelined);
    ui.chkFlashSteps.setChecked(op.flashSteps);
    const QByteArray data = randomBytes(op.bytes, 5);
    const int at = op.offset.toInt(nullptr, 16);
    if (QString(op.button) == "btnVerify_0")
        sim.board.spi().memory().replace(at, data.size(), data);
    else if (QString(op.button) == "btnProgram_0" && !op.flashSteps)
        sim.board.spi().memory().replace(at, data.size(), QByteArray(data.size(), char(0xFF)));
    const QString path = sim.choose("data.bin", QString(op.button) == "btnRead_0" ? "" : data);
    ui.txtOffset.setText(op.offset);
    ui.txtPrgBytes.setText(QString::number(op.bytes));
    const qsizetype mark = sim.board.hostBytes().size();
    const std::int64_t start = sim.clock.nowUs();
    sim.press(sim.control(op.button));
    int polls = 0;
    for (const QByteArray& t : sim.board.spiTransactions())
        polls += (t.size() == 2 && t[0] == '\x05') - (t[0] == '\x02');
    return {sim.board.hostBytes().mid(mark),
            sim.board.spi().memory(),
            readFile(path),
            sim.console(),
            sim.clock.nowUs() - start,
            polls};
}

} // namespace

TEST(Pipeline, SendsTheSameBytesInLessTimeAndLeavesTheSameFlashAndFile) {
    const Operation ops[] = {
        {"program across pages", "btnProgram_0", false, "F0", 3000},
        {"read", "btnRead_0", false, "1003", 3000},
        {"verify", "btnVerify_0", false, "20010", 3000},
        {"one-step flash over data", "btnProgram_0", true, "10F0", 3000},
    };
    // Unpaced, whole writes reach the controller at once: only its receive buffer bounds them,
    // and a poll that travels behind its page may find the part still busy and go again.
    const struct {
        int baud;
        std::int64_t latencyUs;
        bool sameWire;
    } lines[] = {{115200, 200, true}, {115200, 1000, true}, {0, 200, false}};
    for (const auto& line : lines) {
        for (const Operation& op : ops) {
            SCOPED_TRACE(std::string(op.what) + ", " + std::to_string(line.baud) +
                         " baud, latency " + std::to_string(line.latencyUs));
            const RunResult plain = runOnce(op, false, line.baud, line.latencyUs);
            const RunResult piped = runOnce(op, true, line.baud, line.latencyUs);
            EXPECT_FALSE(plain.console.contains("Timed out")) << plain.console.toStdString();
            EXPECT_EQ(piped.console, plain.console);
            EXPECT_TRUE(!line.sameWire || piped.wire == plain.wire)
                << piped.wire.size() << " bytes against " << plain.wire.size();
            EXPECT_TRUE(piped.memory == plain.memory);
            EXPECT_TRUE(piped.file == plain.file);
            EXPECT_LT(double(piped.us), 0.8 * double(plain.us))
                << piped.us << " us against " << plain.us;
        }
    }
}

// The first poll of a pipelined page is held back by the part's typical page time less the
// poll's own time on the line: one poll then finds the page done, where without it a second
// follows. On a fast line (921600 baud) the poll would otherwise arrive long before.
TEST(Pipeline, TheFirstPollWaitsForTheTypicalPageTime) {
    const Operation op{"program", "btnProgram_0", false, "0", 3000};
    const RunResult held = runOnce(op, true, 921600, 200);
    const RunResult unheld = runOnce(op, true, 921600, 200, false);
    EXPECT_EQ(held.memory.left(3000), randomBytes(3000, 5));
    // Without the hold nearly every page needs a second poll; with it the firmware's own
    // latency, which the program does not know, still costs a few.
    EXPECT_LT(held.extraPolls, 20) << held.extraPolls << " " << unheld.extraPolls;
    EXPECT_GT(unheld.extraPolls, 55);
    EXPECT_LT(held.us, unheld.us);
}
