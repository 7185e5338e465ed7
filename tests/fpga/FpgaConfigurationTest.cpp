#include "support/SimTest.h"

#include "sim/BitstreamBuilder.h"

namespace {

const QStringList NormalRun = {"load_config 1", "drive_prog 0", "drive_mode 7", "spi_mode 1",
                               "drive_prog 1",  "read_init",    "drive_mode 8", "fpga_rst 1"};
const QStringList NormalEnd = {"read_init", "read_done", "spi_mode 0", "load_config 0",
                               "fpga_rst 0"};

struct FpgaConfigurationTest : SimTest {
    void board(BoardConfig config = {}) { SimTest::board(Mode::Fpga, config); }
    // Chooses the file as the operator does and confirms the device.
    void configure(const QByteArray& bytes, const QString& name = "design.bit", bool run = true) {
        sim->h->ui.mnuFPGA.click();
        sim->choose(name, bytes);
        sim->h->ui.btnCfgFPGA.click();
        if (run)
            sim->h->runTimer();
    }
};

} // namespace

// Fast acknowledgement sends the same bytes sooner.
TEST_F(FpgaConfigurationTest, ANormalRunSendsTheCommandsInOrderAndTheWholeFile) {
    for (const bool fast : {false, true}) {
        board();
        sim->h->ui.chkFastAck.setChecked(fast);
        sim->h->ui.chkFastAck.click();
        const int mark = sim->mark();
        const std::int64_t start = sim->clock.nowUs();
        const QByteArray bit = buildBitFile(buildConfigPayload({.size = 20000}));
        configure(bit);
        EXPECT_EQ(sim->h->ui.txtFilelen.text(), QString::number(bit.size()));
        EXPECT_EQ(sim->h->ui.txtDevice.text(), "3s200pq208");
        EXPECT_EQ(sim->lastMessage(),
                  "Device to Program: Bitfile is for a 3s200pq208 device.  Is this correct?");
        EXPECT_EQ(sim->commandsSince(mark),
                  NormalRun + QStringList{QString("ss_program %1").arg(bit.size())} + NormalEnd);
        EXPECT_EQ(sim->board.fpga().received(), bit);
        EXPECT_TRUE(sim->board.fpga().done());
        EXPECT_EQ(sim->console(), "FPGA programmed successfully! \r\n");
        EXPECT_EQ(sim->h->model.cfg.State(), 0);
        EXPECT_EQ(sim->h->model.session.opState.State(), 0);
        EXPECT_TRUE(sim->h->ui.btnCfgFPGA.enabled());
        EXPECT_FALSE(sim->h->ui.hscProgress.visible());
        EXPECT_EQ(sim->h->model.session.port.receiveThreshold(), 1);
        // Fourteen acknowledged steps at 15 ms each take 210 ms.
        EXPECT_EQ(sim->clock.nowUs() - start < 100'000, fast) << fast;
    }
}

TEST_F(FpgaConfigurationTest, SendsChunksOfSixtyFourWithTheProgressOfEach) {
    board();
    const QByteArray bytes(130, char(0xFF));
    QList<double> progress;
    sim->h->ui.hscProgress.watch([&] {
        const double v = sim->h->ui.hscProgress.value();
        if (sim->h->ui.hscProgress.visible() && (progress.isEmpty() || progress.last() != v))
            progress << v;
    });
    configure(bytes, "tiny.bin");
    EXPECT_EQ(sim->board.fpga().received(), bytes);
    EXPECT_EQ(progress, (QList<double>{0, 49, 98, 100}));
}

TEST_F(FpgaConfigurationTest, ReportsEachOutcomeOfThePins) {
    const QByteArray good = buildConfigPayload({.size = 4096});
    const QString failed = "FPGA programming failed! \r\nThe bitstream does not suit this FPGA, or "
                           "bytes were lost on the line: check the file and configure again.\r\n";
    const struct {
        const char* what;
        QByteArray file;
        QString console;
        bool initStuckLow = false, initReadAgain = false; // while it stays low after PROG
        std::int64_t clearUs = FpgaOptions().clearUs;
    } cases[] = {
        {"truncated stream", buildConfigPayload({.size = 8192}).left(4000),
         "Programming succeeded, but done did not go high.  Make sure start clock is CCLK. \r\n"
         "If it is, bytes were probably lost on the line: configure again.\r\n"},
        {"no sync word", buildConfigPayload({.size = 4096, .sync = SyncWord::None}), failed},
        {"INIT stuck low", good, "Init value is not high.\r\n" + failed, true, true},
        {"a bitstream for another part", buildConfigPayload({.size = 4096, .idcode = 0x01C2E093}),
         failed},
        // INIT is read again until the memory clear ends: no byte goes out before.
        {"a memory clear of 40 ms", good, "FPGA programmed successfully! \r\n", false, true,
         40'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board({.initClearUs = c.clearUs, .initStuckLow = c.initStuckLow});
        configure(c.file, "x.bin");
        EXPECT_EQ(sim->console(), c.console);
        const QStringList seen = sim->commandsSince(0);
        EXPECT_TRUE(seen.endsWith("fpga_rst 0"));
        EXPECT_EQ(seen.count("read_init") > 2, c.initReadAgain);
        EXPECT_EQ(leftBehind(Mode::Fpga), QStringList());
    }
}

// The command goes again only once its reply is overdue: a late reply must not meet a second
// copy of its command.
TEST_F(FpgaConfigurationTest, RetriesAMissingAcknowledgementWithTheSameCommandAfterTheDeadline) {
    board();
    auto& h = *sim->h;
    h.ui.mnuFPGA.click();
    sim->choose("design.bit", buildConfigPayload());
    // Three ticks pass with the board's answers gone, then it answers again.
    sim->port.close();
    sim->port.open();
    const int mark = sim->mark();
    int ticks = 0;
    h.timer.onTick = [&, tick = h.timer.onTick] {
        if (++ticks <= 3)
            sim->port.setReadLength(0), sim->port.read(), sim->port.setReadLength(1);
        tick();
    };
    h.ui.btnCfgFPGA.click();
    h.runTimer();
    const QStringList seen = sim->commandsSince(mark);
    EXPECT_EQ(seen.mid(0, 3), (QStringList{"load_config 1", "load_config 1", "drive_prog 0"}));
    EXPECT_TRUE(h.prompter.titles().filter("Communication").isEmpty());
    EXPECT_TRUE(sim->board.fpga().done());
}

// A board that never answers, connected without the board check: the fifth missed
// acknowledgement of the first command ends the run.
TEST_F(FpgaConfigurationTest, ASilentBoardEndsTheRunAtTheFifthMissedAcknowledgement) {
    board({.silent = true});
    ui().mnuBoardCheck.click();
    ui().btnConnect.click();
    ASSERT_TRUE(ui().btnDisconnect.visible());
    configure(buildConfigPayload());
    EXPECT_EQ(sim->lastMessage(), "Communication with PSoC lost: Please verify your Com port "
                                  "setting.\n\r(Disconnect, then Options | Comm)");
    EXPECT_EQ(sim->commandsSince(0).count("load_config 1"), 5);
    EXPECT_EQ(leftBehind(Mode::Fpga), QStringList());
}

TEST_F(FpgaConfigurationTest, AFileThatCannotBeOpenedIsReportedBeforeAnythingIsSent) {
    board();
    sim->setReadingTime(2000);
    ui().mnuFPGA.click();
    QFile::remove(sim->choose("gone.bit", buildBitFile(buildConfigPayload())));
    const int mark = sim->mark();
    sim->press(ui().btnCfgFPGA);
    EXPECT_TRUE(sim->lastMessage().startsWith("Application Error: Error: 53\r\nFile not found"));
    EXPECT_TRUE(sim->commandsSince(mark).isEmpty());
    EXPECT_EQ(outcome().kind, Outcome::Kind::Refused);
    EXPECT_EQ(leftBehind(Mode::Fpga), QStringList());
    EXPECT_TRUE(ui().btnCfgFPGA.enabled());
}

TEST_F(FpgaConfigurationTest, DisconnectBetweenStepsAbandonsTheRunWithoutTouchingThePort) {
    board();
    auto& h = *sim->h;
    configure(buildConfigPayload(), "design.bit", false);
    h.timer.fire();
    h.ui.btnDisconnect.click();
    EXPECT_FALSE(h.timer.isActive());
    EXPECT_EQ(h.model.cfg.State(), 0);
    EXPECT_EQ(h.model.session.opState.State(), 1);
    EXPECT_TRUE(sim->console().endsWith("Operation abandoned: the port was closed.\r\n"));
    EXPECT_TRUE(h.ui.mnuSPI.enabled());
}
