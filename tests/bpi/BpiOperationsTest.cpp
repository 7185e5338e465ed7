#include "support/SimTest.h"

#include "sim/BitstreamBuilder.h"

namespace {

struct BpiOperationsTest : SimTest {
    QByteArray flash(qint64 at, qint64 size) { return bpiFlash().mid(at, size); }
    // What the host sent after the last occurrence of the command.
    QByteArray sentAfter(const QByteArray& command) {
        const QByteArray all = sim->board.hostBytes();
        return all.mid(all.lastIndexOf(command) + command.size());
    }
    void expectIdle() {
        EXPECT_EQ(leftBehind(Mode::Bpi), QStringList());
        for (auto* b : {&ui().btnProgram[1], &ui().btnRead[1], &ui().btnVerify[1], &ui().btnLoad})
            EXPECT_TRUE(b->enabled()) << b->name().toStdString();
    }
};

} // namespace

TEST_F(BpiOperationsTest, LoadsTheServerAndComesBackToParallelFlashWithTheOperatorsFileKept) {
    board(Mode::Fpga);
    const QString own = sim->choose("mine.bit", buildBitFile(buildConfigPayload({.size = 5000})));
    const QStringList fpgaFields = {"mine.bit", ui().txtDevice.text(), ui().txtFilelen.text()};
    ui().mnuBPI.click();
    sim->press(ui().btnLoad);
    ASSERT_EQ(prompter().shown.size(), 1) << prompter().texts().join("|").toStdString();
    EXPECT_EQ(sim->lastMessage(),
              "Device to Program: Bitfile is for a 3s1600efg320 device.  Is this correct?");
    EXPECT_EQ(sim->board.fpga().received(), readFile(sim->path("bpi_server_v036.bit")));
    EXPECT_TRUE(ui().mnuBPI.checked());
    EXPECT_TRUE(ui().btnIDecho[1].enabled() && ui().btnBulkErase[1].enabled());
    EXPECT_EQ(QStringList({ui().txtBitFile.text(), ui().txtDevice.text(), ui().txtFilelen.text()}),
              fpgaFields);
    EXPECT_EQ(session().fpgaPath, own);
    EXPECT_FALSE(session().BpiServerLoading);
}

// A load refused, by the operator or for the server's version, must not turn the next
// configuration into a load.
TEST_F(BpiOperationsTest, ALoadRefusedOrOfAnotherServerVersionLeavesNoLoadPending) {
    board(Mode::Fpga);
    ui().mnuBPI.click();
    prompter().answers << Prompter::Answer::No;
    ui().btnLoad.click();
    EXPECT_FALSE(session().BpiServerLoading);

    sim = std::make_unique<SimHarness>();
    writeFile(sim->dir.path(), "bpi_server_v035.bit", "x");
    sim->startAndConnect();
    ui().mnuBPI.click();
    ui().cbBpi.setSelectedIndex(int(ui().cbBpi.items().indexOf("bpi_server_v035")));
    const int mark = sim->mark();
    ui().btnLoad.click();
    ASSERT_EQ(prompter().shown.size(), 1);
    EXPECT_EQ(
        sim->lastMessage(),
        "Warning: Zelto Board Programming Utility v3.4.1 requires that BPI server version 036 be "
        "designated\r\nfor download to the FPGA, prior to performing additional BPI "
        "operations.\r\n\r\nThe Comm port parameters must also be set to 115200,n,8,1.\r\n"
        "Software files can be downloaded from the Zelto Vexa:\r\n\r\n"
        "           https://vexa.zelto.example/downloads");
    EXPECT_TRUE(sim->commandsSince(mark).isEmpty());
    EXPECT_FALSE(session().BpiServerLoading);
}

// A burst or offset the server would refuse is refused before anything is sent.
TEST_F(BpiOperationsTest, SendsTheHeaderAndBurstsPadsAnOddBurstAndRefusesWhatTheServerWould) {
    const QString burst = "The BPI burst size is 127; it must be an even number of bytes from 2 "
                          "to 65536.",
                  odd = "The BPI offset 0x201 is odd; the parallel flash is programmed in 16-bit "
                        "words, from an even offset.";
    const struct {
        QString offset;
        int count;
        QByteArray header;
        int sent;
        QString burst = {}, refusal = {}; // the burst field when not left as it is
    } cases[] = {
        {"0", 5, QByteArray::fromHex("000000000000000500000080"), 6},
        {"1a0", 300, QByteArray::fromHex("000001a00000012c00000080"), 300},
        {"0", 300, {}, 0, "127", burst},
        {"201", 300, {}, 0, "128", odd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset.toStdString() + " " + c.burst.toStdString());
        board(Mode::Bpi);
        const QByteArray image = randomBytes(c.count, 3);
        sim->choose("image.bin", image);
        if (!c.burst.isEmpty())
            ui().txtBpiBurstSize.setText(c.burst);
        ui().txtOffset.setText(c.offset);
        const qsizetype before = sim->board.hostBytes().size();
        sim->press(ui().btnProgram[1]);
        expectIdle();
        if (!c.refusal.isEmpty()) {
            EXPECT_EQ(sim->board.hostBytes().size(), before);
            EXPECT_EQ(prompter().shown.last().text,
                      c.refusal + "\r\nNothing was sent to the board.");
            continue;
        }
        const QByteArray sent = sentAfter("w\r");
        EXPECT_EQ(sent.left(12), c.header);
        // What was written is read back over the same range.
        EXPECT_EQ(sent.mid(12 + c.sent), "v\r" + c.header.left(8));
        EXPECT_EQ(sent.mid(12, c.count), image);
        // The pad byte of an odd last burst does not reach the flash.
        EXPECT_EQ(flash(c.header.left(4).toHex().toLongLong(nullptr, 16), c.count + 1),
                  image + char(0xFF));
    }
}

TEST_F(BpiOperationsTest, ProgramsReadsAndVerifiesAMebibyteAtAnOffset) {
    board(Mode::Bpi);
    const QByteArray image = randomBytes(1024 * 1024, 21);
    sim->choose("image.bin", image);
    ui().txtOffset.setText("30000");
    sim->press(ui().btnProgram[1]);
    EXPECT_EQ(flash(0x30000, image.size()), image);
    EXPECT_EQ(flash(0, 0x30000), QByteArray(0x30000, char(0xFF)));
    expectIdle();

    sim->choose("back.bin", QByteArray());
    ui().txtPrgBytes.setText(QString::number(image.size()));
    sim->press(ui().btnRead[1]);
    EXPECT_EQ(readFile(sim->path("back.bin")), image);
    EXPECT_TRUE(sim->console().endsWith("BPI Read complete!\r\n"));
    expectIdle();

    // Verify names only the first difference, and says nothing else.
    for (const QList<int>& changed : {QList<int>{}, {700, 900}, {0}}) {
        QByteArray file = image;
        for (int at : changed)
            file[at] = char(~file[at]);
        sim->choose("check.bin", file);
        if (!changed.isEmpty())
            ui().txtPrgBytes.setText("1000");
        const qsizetype before = sim->console().size();
        sim->press(ui().btnVerify[1]);
        EXPECT_EQ(sim->console().mid(before),
                  changed.isEmpty() ? QString("BPI validated!\r\n")
                                    : QString("BPI compare failed at byte %1\r\n").arg(changed[0]));
        EXPECT_EQ(outcome().succeeded(), changed.isEmpty());
        expectIdle();
    }
}

// An identification nobody answers is no success either: the connection's probes were answered.
TEST_F(BpiOperationsTest, ASilentServerEndsTheOperationWithinTheBoundAndGivesTheControlsBack) {
    const struct {
        const char* button;
        std::int64_t silentAfter;
    } cases[] = {{"btnRead_1", 5}, {"btnVerify_1", 7}, {"btnProgram_1", 600}, {"btnIDecho_1", 4}};
    for (const auto& c : cases) {
        board(Mode::Bpi, {.serverSilentAfterBytes = c.silentAfter});
        sim->choose("data.bin", randomBytes(4096, 2));
        const std::int64_t start = sim->clock.nowUs();
        sim->press(sim->control(c.button));
        EXPECT_LT(sim->clock.nowUs() - start, 10'000'000) << c.button;
        EXPECT_EQ(sim->lastMessage(),
                  "Unexpected Error: The BPI server stopped answering (no reply for 5 seconds): "
                  "bytes were probably lost on the line, or the server hung. Load the server "
                  "again before the next parallel flash operation.");
        // Nothing more goes to a server whose state is unknown.
        EXPECT_FALSE(session().BpiServerRunning);
        for (auto* b : {&ui().btnIDecho[1], &ui().btnProgram[1], &ui().btnRead[1]})
            EXPECT_FALSE(b->enabled()) << b->name().toStdString();
        EXPECT_TRUE(ui().btnLoad.enabled());
        EXPECT_EQ(session().opState.State(), 5);
    }
}

TEST_F(BpiOperationsTest, AnotherAnswerThanAIsReportedAndTheProgrammingGoesOn) {
    board(Mode::Bpi);
    const QByteArray image = randomBytes(600, 8);
    sim->choose("image.bin", image);
    int answers = 0;
    sim->port.onRead = [&](QByteArray& bytes) {
        if (bytes == "A" && ++answers == 2)
            bytes = "B";
    };
    sim->press(ui().btnProgram[1]);
    EXPECT_EQ(sim->console().count("Unexpected character during BPI Program sequence\r\n"), 1);
    EXPECT_EQ(answers, 5) << "every burst was sent and answered";
    EXPECT_EQ(flash(0, image.size()), image);
    expectIdle();
}
