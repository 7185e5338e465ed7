#include "fpga/BitfileHeader.h"
#include "sim/BitstreamBuilder.h"
#include "support/FailureOf.h"
#include "support/FakeBoardTest.h"
#include "support/SimTest.h"

namespace {

struct FpgaConfigurationTest : SimTest {
    // Chooses the file as the operator does and confirms the device.
    void configure(const QByteArray& bytes, const QString& name = "design.bit", bool run = true) {
        ui().mnuFPGA.click();
        sim->choose(name, bytes);
        ui().btnCfgFPGA.click();
        if (run)
            sim->h->runTimer();
    }
};

// A .bit file as the vendor's tools write it: preamble, fields a to d, then e and the data.
QByteArray bitFile(const QByteArray& design, const QByteArray& part) {
    QByteArray f = QByteArray::fromHex("00090ff00ff00ff00ff0000001");
    for (const auto& [key, text] : {std::pair<char, QByteArray>{'a', design},
                                    {'b', part},
                                    {'c', "2011/03/14"},
                                    {'d', "10:22:05"}})
        f += key + QByteArray(1, '\0') + char(text.size() + 1) + text + '\0';
    return f + QByteArray::fromHex("6500001000") + QByteArray(4096, '\xFF');
}

} // namespace

TEST(BitfileHeader, ThePartNameRunsFromTheFirstFamilyCodeToTheNextNulWithinSixtyFourBytes) {
    const struct {
        const char *what, *device;
        QByteArray file;
    } cases[] = {
        {"3s inside the design name", "3s.ncd", bitFile("uart3s.ncd", "5vfx70tff1136")},
        {"long design name pushes the part past byte 64", "Not recognized",
         bitFile("design_1_wrapper;UserID=0XFFFFFFFF;Version=2017.4.1", "5vfx70tff1136")},
        {"part name ends after byte 64", "",
         bitFile("top;UserID=0XFFFFFFFF;Version=2017.4.1", "3s200pq208")},
        {"3s wins over an earlier 4v", "3sB", QByteArray("4vA\0003sB\0", 8)},
        {"4v wins over an earlier 5v", "4vB", QByteArray("5vA\0004vB\0", 8)},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const BitfileInfo info = readBitfileHeader(writeFile(dir.path(), c.what, c.file));
        EXPECT_EQ(info.device.toStdString(), c.device);
        EXPECT_EQ(info.length.toStdString(), std::to_string(c.file.size()));
    }
}

// Fast acknowledgement sends the same bytes sooner.
TEST_F(FpgaConfigurationTest, ANormalRunSendsTheCommandsInOrderAndTheWholeFile) {
    const QByteArray bit = buildBitFile(buildConfigPayload({.size = 20000}));
    for (const bool fast : {false, true}) {
        board(Mode::Fpga);
        ui().chkFastAck.setChecked(fast);
        ui().chkFastAck.click();
        const int mark = sim->mark();
        const std::int64_t start = sim->clock.nowUs();
        configure(bit);
        EXPECT_EQ(sim->lastMessage(),
                  "Device to Program: Bitfile is for a 3s200pq208 device.  Is this correct?");
        EXPECT_EQ(sim->commandsSince(mark),
                  (QStringList{"load_config 1", "drive_prog 0", "drive_mode 7", "spi_mode 1",
                               "drive_prog 1", "read_init", "drive_mode 8", "fpga_rst 1",
                               QString("ss_program %1").arg(bit.size()), "read_init", "read_done",
                               "spi_mode 0", "load_config 0", "fpga_rst 0"}));
        EXPECT_EQ(sim->board.fpga().received(), bit);
        EXPECT_TRUE(sim->board.fpga().done());
        EXPECT_EQ(sim->console(), "FPGA programmed successfully! \r\n");
        EXPECT_EQ(leftBehind(Mode::Fpga), QStringList());
        // Fourteen acknowledged steps at 15 ms each take 210 ms.
        EXPECT_EQ(sim->clock.nowUs() - start < 100'000, fast) << fast;
    }
}

TEST_F(FpgaConfigurationTest, SendsChunksOfSixtyFourWithTheProgressOfEach) {
    board(Mode::Fpga);
    QList<double> progress;
    ui().hscProgress.watch([&] {
        const double v = ui().hscProgress.value();
        if (ui().hscProgress.visible() && (progress.isEmpty() || progress.last() != v))
            progress << v;
    });
    configure(QByteArray(130, char(0xFF)), "tiny.bin");
    EXPECT_EQ(sim->board.fpga().received(), QByteArray(130, char(0xFF)));
    EXPECT_EQ(progress, (QList<double>{0, 49, 98, 100}));
}

// What the FPGA makes of each stream, as its pins tell the program.
TEST_F(FpgaConfigurationTest, ReportsEachOutcomeOfThePins) {
    const auto payload = [](SyncWord sync, bool busWidth = false, quint32 idcode = 0) {
        return buildConfigPayload(
            {.size = 4096, .busWidthPattern = busWidth, .sync = sync, .idcode = idcode});
    };
    const QByteArray bit32 = buildBitFile(payload(SyncWord::Word32));
    const quint32 own = FpgaOptions().idcode;
    const QString done = "FPGA programmed successfully! \r\n",
                  failed = "FPGA programming failed! \r\nThe bitstream does not suit this FPGA, or "
                           "bytes were lost on the line: check the file and configure again.\r\n",
                  notDone = "Programming succeeded, but done did not go high.  Make sure start "
                            "clock is CCLK. \r\nIf it is, bytes were probably lost on the line: "
                            "configure again.\r\n";
    const struct {
        const char* what;
        QByteArray file;
        QString console;
        bool initStuckLow = false, initReadAgain = false; // while it stays low after PROG
        std::int64_t clearUs = FpgaOptions().clearUs;
    } cases[] = {
        {"a .bin file", payload(SyncWord::Word32), done},
        {"the bus-width pattern before the sync word", payload(SyncWord::Word32, true), done},
        {"its IDCODE of another revision", payload(SyncWord::Half16, false, own ^ 0x30000000),
         done},
        {"a stream cut short", bit32.left(bit32.size() - 40), notDone},
        {"no sync word", buildBitFile(payload(SyncWord::None)), failed},
        {"INIT stuck low", bit32, "Init value is not high.\r\n" + failed, true, true},
        {"the IDCODE of another part", payload(SyncWord::Word32, false, 0x01C2E093), failed},
        // INIT is read again until the memory clear ends: no byte goes out before.
        {"a memory clear of 40 ms", bit32, done, false, true, 40'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board(Mode::Fpga, {.initClearUs = c.clearUs, .initStuckLow = c.initStuckLow});
        configure(c.file, "x.bin");
        EXPECT_EQ(sim->console(), c.console);
        EXPECT_EQ(sim->board.fpga().received(), c.file);
        const QStringList seen = sim->commandsSince(0);
        EXPECT_TRUE(seen.endsWith("fpga_rst 0"));
        EXPECT_EQ(seen.count("read_init") > 2, c.initReadAgain);
        EXPECT_EQ(leftBehind(Mode::Fpga), QStringList());
    }
}

// The simulated FPGA takes nothing while its memory clears, so the wait above is needed.
TEST(SimFpga, AStreamSentWhileTheMemoryClearsIsLost) {
    for (const std::int64_t sentUs : {200, 1000}) {
        Fpga fpga({.clearUs = 1000});
        fpga.setProg(false, 0);
        fpga.setProg(true, 0);
        EXPECT_FALSE(fpga.init(999));
        const QByteArray bit = buildBitFile(buildConfigPayload({.size = 2048}));
        for (char c : bit)
            fpga.receive(quint8(c), sentUs);
        fpga.endOfStream(2000);
        EXPECT_EQ(fpga.init(2000), sentUs == 1000) << sentUs;
        EXPECT_EQ(fpga.done(), sentUs == 1000) << sentUs;
        EXPECT_EQ(fpga.received(), bit);
    }
}

// The command goes again only once its reply is overdue: a late reply must not meet a second
// copy of its command.
TEST_F(FpgaConfigurationTest, RetriesAMissingAcknowledgementWithTheSameCommandAfterTheDeadline) {
    board(Mode::Fpga);
    auto& h = *sim->h;
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
    EXPECT_EQ(sim->commandsSince(mark).mid(0, 3),
              (QStringList{"load_config 1", "load_config 1", "drive_prog 0"}));
    EXPECT_TRUE(h.prompter.titles().filter("Communication").isEmpty());
    EXPECT_TRUE(sim->board.fpga().done());
}

// A board that never answers, connected without the board check: the fifth missed
// acknowledgement of the first command ends the run.
TEST_F(FpgaConfigurationTest, ASilentBoardEndsTheRunAtTheFifthMissedAcknowledgement) {
    board(Mode::Fpga, {.silent = true});
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
    board(Mode::Fpga);
    sim->setReadingTime(2000);
    QFile::remove(sim->choose("gone.bit", buildBitFile(buildConfigPayload())));
    const int mark = sim->mark();
    sim->press(ui().btnCfgFPGA);
    EXPECT_TRUE(sim->lastMessage().startsWith("Application Error: Error: 53\r\nFile not found"));
    EXPECT_TRUE(sim->commandsSince(mark).isEmpty());
    EXPECT_EQ(outcome().kind, Outcome::Kind::Refused);
    EXPECT_EQ(leftBehind(Mode::Fpga), QStringList());
}

TEST_F(FpgaConfigurationTest, DisconnectBetweenStepsAbandonsTheRunWithoutTouchingThePort) {
    board(Mode::Fpga);
    configure(buildConfigPayload(), "design.bit", false);
    sim->h->timer.fire();
    ui().btnDisconnect.click();
    EXPECT_FALSE(sim->h->timer.isActive());
    EXPECT_EQ(sim->h->model.cfg.State(), 0);
    EXPECT_EQ(session().opState.State(), 1);
    EXPECT_TRUE(sim->console().endsWith("Operation abandoned: the port was closed.\r\n"));
}

// This controller acknowledges every command but never sends a pin level.
TEST_F(FakeBoardTest, AConfigurationWithoutPinValuesReportsThemAndStillFinishes) {
    start(true);
    h->ui.txtBitFile.setText("x.bin");
    h->ui.txtPath.setText(writeFile(dir.path(), "x.bin", QByteArray(128, char(0xFF))));
    h->ui.btnCfgFPGA.click();
    h->runTimer();
    EXPECT_EQ(
        h->prompter.texts(),
        (QStringList{"Bitfile is for a Not recognized device.  Is this correct?",
                     "No value for Init pin (State: WAIT_FOR_INIT)", "No value for Done pin"}));
    EXPECT_EQ(h->ui.txtRecvView.text(), "Init value is not high.\r\n");
    const QByteArray sent = port.written(1);
    const int at = int(sent.indexOf(QByteArray("ss_program 128\0", 15)));
    ASSERT_GE(at, 0);
    EXPECT_EQ(sent.mid(at + 15, 128), QByteArray(128, char(0xFF)));
    EXPECT_TRUE(sent.endsWith(QByteArray("load_config 0\0fpga_rst 0\0", 25)));
    EXPECT_EQ(h->model.cfg.State(), 0);
}
