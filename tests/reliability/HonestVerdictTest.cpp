#include "spi/SpiText.h"
#include "support/SimTest.h"

// A success over wrong data is worse than a failure: nothing is claimed, written to the
// operator's file or sent to the board before it has been checked.

namespace {

enum class Op { Program, Read, Verify };

struct HonestVerdict : SimTest {
    HonestVerdict() { timeScale = 0.001; }

    // The line garbles (or loses) the third byte of the first write that holds `pattern`.
    bool garbled = false;
    void garbleOnce(const QByteArray& pattern, bool lose = false) {
        garbled = false;
        sim->port.onWrite = [this, pattern, lose](QByteArray& bytes) {
            const qsizetype at = bytes.indexOf(pattern);
            if (!garbled && at >= 0) {
                garbled = true;
                if (lose)
                    bytes.remove(at + 2, 1);
                else
                    bytes[at + 2] = char(bytes[at + 2] ^ 0x10);
            }
        };
    }
    // The line garbles the second byte of the first reply `when` picks.
    void garbleReply(
        const std::function<bool(const QByteArray&)>& when,
        const std::function<void()>& then = [] {}) {
        garbled = false;
        sim->port.onRead = [this, when, then](QByteArray& bytes) {
            if (!garbled && when(bytes)) {
                garbled = true;
                bytes[1] = 'x';
                then();
            }
        };
    }
    qsizetype transactions(char instruction) {
        return std::ranges::count_if(sim->board.spiTransactions(), [&](const QByteArray& t) {
            return t.startsWith(instruction);
        });
    }
};

} // namespace

// A transaction's data is used only once its closing acknowledgement is in; a retried first
// command keeps the run's range (a flash once worked it out again and wrote at address 0).
TEST_F(HonestVerdict, ATransactionWhoseReplyIsGarbledOrShortIsDoneAgain) {
    using S = SpiStateObj;
    const QByteArray image = randomBytes(300, 13);
    const QString read = "SPI data read successfully \r\n";
    const struct {
        const char* what;
        const char* button;
        bool flashSteps;
        std::int16_t garbledIn; // the state waiting for the garbled acknowledgement
        int ids, reads;         // identification and read transactions seen (-1: not counted)
        QString console;
    } cases[] = {
        {"the first command of a flash", "btnProgram_0", true, S::CFG_SPI_PROG_LOW, 1, -1,
         "SPI flash programmed and validated: 0x0 to 0xFFFF \r\n"},
        {"the first command of a program", "btnProgram_0", false, S::CFG_SPI_PROG_LOW, 1, 5,
         "SPI programming successful: 0x800 to 0x92B \r\n"},
        {"the first command of a read", "btnRead_0", false, S::CFG_SPI_PROG_LOW, 1, 10, read},
        // A read reads its chunks twice.
        {"the last chunk of a read", "btnRead_0", false, S::CFG_SPI_PROG_HIGH, 1, 11, read},
        {"the identification before a read", "btnRead_0", false, S::CFG_SPI_OPEN_DATA_FILE, 2, 10,
         read},
        {"the identification of ID Check", "btnIDecho_0", false, S::CFG_SPI_PROG_HIGH, 2, 0,
         "20 20 15 \r\n"},
        // A lost byte leaves the controller waiting for one more: the short echo is waited for
        // 200 polls, filler ends the transfer within the line's budget, the chunk is read again.
        {"a host byte of a read lost", "btnRead_0", false, -1, 1, 11,
         "Timed out: no PSoC echo in state 30\r\n" + read},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board(Mode::Spi);
        ui().chkFlashSteps.setChecked(c.flashSteps);
        QByteArray expected = spiFlash();
        expected.replace(0x800, image.size(), image);
        const bool program = QString(c.button) == "btnProgram_0";
        if (!program)
            spiFlash() = expected;
        const QByteArray before = program ? image : QByteArray(300, 'o');
        const QString file = sim->choose("file.bin", before);
        ui().txtOffset.setText("800");
        ui().txtPrgBytes.setText("300");
        QByteArray fileWhenGarbled = before;
        if (c.garbledIn < 0) {
            ui().txtSleep.setText("200");
            garbled = false;
            sim->port.onWrite = [this](QByteArray& bytes) {
                if (!garbled && bytes.size() > 40 && bytes.startsWith('\x03'))
                    garbled = true, bytes.chop(1);
            };
        } else {
            garbleReply(
                [&](const QByteArray& b) {
                    return b.size() == 4 && sim->h->model.spi.State() == c.garbledIn;
                },
                [&] { fileWhenGarbled = readFile(file); });
        }
        const int mark = sim->mark();
        sim->press(sim->control(c.button));
        ASSERT_TRUE(garbled);
        EXPECT_TRUE(outcome().succeeded()) << outcome().message.toStdString();
        EXPECT_EQ(sim->console().toStdString(), c.console.toStdString());
        EXPECT_TRUE(spiFlash() == expected);
        // The operator's file is replaced only once the whole read is in.
        EXPECT_EQ(fileWhenGarbled, before);
        EXPECT_EQ(readFile(file), c.button[3] == 'I' ? before : image);
        EXPECT_EQ(transactions(char(0x9F)), c.ids);
        // What a read transaction carries beside its header: nothing, or filler for a lost byte.
        QList<QByteArray> reads;
        for (const QByteArray& t : sim->board.spiTransactions())
            if (t.startsWith('\x03'))
                reads << t.mid(4).replace('\0', "");
        EXPECT_TRUE(c.reads < 0 || reads.size() == c.reads) << reads.size();
        for (qsizetype i = 0; i < reads.size(); ++i)
            EXPECT_EQ(reads[i], QByteArray(i == 0 && c.garbledIn < 0, char(0xFF))) << i;
        if (c.garbledIn == S::CFG_SPI_PROG_LOW) {
            EXPECT_EQ(sim->commandsSince(mark).mid(0, 3),
                      (QStringList{"load_config 1", "load_config 1", "drive_prog 0"}));
        }
    }
}

// Nothing the board takes is echoed back, so a garbled byte is taken unseen: Program reads back,
// Read reads twice, Verify compares twice (one SPI chunk, or the rest would fail first). A
// pipelined page whose reply is short or out of shape fails there; no later page is sent.
TEST_F(HonestVerdict, AByteGarbledOnItsWayToTheBoardFailsProgramReadAndVerifyNamingTheLine) {
    const QByteArray image = randomBytes(300, 9);
    const QByteArray flash = randomBytes(0x2000, 4);
    const auto hex = [](char c) { return spitext::hex2(quint8(c)); };
    // The first byte where the flash at `wrong` differs from the flash at `right`.
    const auto differ = [&](int right, int wrong) {
        int i = 0;
        while (flash[right + i] == flash[wrong + i])
            ++i;
        return i;
    };
    const int spiAt = differ(0x100, 0x1100), bpiAt = differ(0x1000, 0);
    const QString programFailed =
        "SPI Program Error: SPI programming failed: the flash does not hold what was written."
        "\r\nFirst difference at 0x10A: flash " +
        hex(image[10] ^ 0x10) + ", file " + hex(image[10]) +
        "\r\nA byte was probably garbled on the line: erase the range and program again.";
    const QString readFailed =
        QString("SPI Read Error: SPI read failed: a second read of the flash differs from the "
                "first.\r\nFirst difference at 0x%1: first read %2, second %3\r\nA byte was "
                "probably garbled on the line: read again.")
            .arg(QString::number(0x100 + spiAt, 16).toUpper(), hex(flash[0x1100 + spiAt]),
                 hex(flash[0x100 + spiAt]));
    const QString discarded =
        "The read did not finish: OUT was left as it was, and the partial data discarded.\r\n";
    const QString pageFailed = "ERROR: The controller did not echo the whole transfer: a byte was "
                               "probably lost on the line.\r\nThe page at 0x100 may hold wrong "
                               "data: erase it and program again.";
    const QByteArray spiRead = QByteArray::fromHex("03000100"),
                     bpiHeader = QByteArray::fromHex("00001000");
    const struct {
        const char* what;
        Mode mode;
        Op op;
        bool pipelined;
        QByteArray
            garbled; // looked for in a write: its third byte garbled (or lost); none: a reply
        QString message, console;
        bool lost = false;
    } cases[] = {
        {"SPI program, step by step", Mode::Spi, Op::Program, false, image.mid(8, 8), programFailed,
         ""},
        {"SPI program, pipelined", Mode::Spi, Op::Program, true, image.mid(8, 8), programFailed,
         ""},
        {"parallel flash program", Mode::Bpi, Op::Program, false, image.mid(8, 8), "",
         "BPI programming failed: the flash at 0x100A does not hold what was written.\r\nA "
         "byte was probably garbled on the line: erase the flash and program again.\r\n"},
        {"SPI read, step by step", Mode::Spi, Op::Read, false, spiRead, readFailed, discarded},
        {"SPI read, pipelined", Mode::Spi, Op::Read, true, spiRead, readFailed, discarded},
        {"parallel flash read", Mode::Bpi, Op::Read, false, bpiHeader, "",
         QString("BPI read failed: a second read of the flash differs from the first at 0x%1."
                 "\r\nA byte was probably garbled on the line: read again.\r\n")
                 .arg(QString::number(0x1000 + bpiAt, 16).toUpper()) +
             discarded},
        {"SPI verify", Mode::Spi, Op::Verify, false, spiRead,
         "ERROR: SPI verification failed after byte 0 - Aborting\r\nFirst difference at 0x100: "
         "flash " +
             hex(flash[0x100]) + ", file FF",
         ""},
        {"parallel flash verify", Mode::Bpi, Op::Verify, false, bpiHeader, "",
         "BPI compare failed at byte 0\r\n"},
        {"SPI program, pipelined, a host byte lost", Mode::Spi, Op::Program, true, image.mid(8, 8),
         pageFailed, "", true},
        {"SPI program, pipelined, a page's reply garbled", Mode::Spi, Op::Program, true, "",
         pageFailed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board(c.mode);
        ui().chkPipeline.setChecked(c.pipelined);
        QByteArray& memory = c.mode == Mode::Spi ? spiFlash() : bpiFlash();
        const int at = c.mode == Mode::Spi ? 0x100 : 0x1000, count = c.op == Op::Verify ? 40 : 300;
        memory.replace(0, flash.size(), flash);
        if (c.op != Op::Read)
            memory.fill(char(0xFF));
        if (c.op == Op::Verify)
            memory.replace(at, count, flash.mid(at, count));
        const QByteArray before = c.op == Op::Program ? image
                                  : c.op == Op::Read  ? QByteArray(300, 'o')
                                                      : QByteArray(count, char(0xFF));
        const QString file = sim->choose("file.bin", before);
        ui().txtOffset.setText(QString::number(at, 16));
        ui().txtPrgBytes.setText(QString::number(count));
        if (c.garbled.isEmpty())
            garbleReply([](const QByteArray& bytes) { return bytes.size() >= 90; });
        else
            garbleOnce(c.garbled, c.lost);
        sim->press(c.op == Op::Program ? program(c.mode)
                   : c.op == Op::Read  ? read(c.mode)
                                       : verify(c.mode));
        EXPECT_EQ(outcome().kind, Outcome::Kind::Failed);
        EXPECT_TRUE(c.message.isEmpty() || sim->lastMessage() == c.message)
            << sim->lastMessage().toStdString();
        EXPECT_EQ(sim->console(), QString(c.console).replace("OUT", file));
        EXPECT_EQ(readFile(file), before);
        EXPECT_TRUE(c.message != pageFailed || transactions('\x02') == 1);
    }
}

// A part locked by WP# ignores everything: the status read after the unprotect says so.
TEST_F(HonestVerdict, ALockedChipStopsBeforeEraseOrProgramWithAMessageNamingTheLock) {
    for (const char* button : {"btnBulkErase_0", "btnProgram_0"}) {
        SCOPED_TRACE(button);
        board(Mode::Spi, {.wpLocked = true});
        sim->choose("image.bin", randomBytes(300, 5));
        sim->press(sim->control(button));
        // 9E: protection and lock bits, and the write-enable latch the ignored write left set.
        EXPECT_EQ(sim->lastMessage(),
                  "ERROR: The SPI flash is write-protected: its status register still reads 9E "
                  "after the unprotect (protection bits 9C).\r\nThe lock bit (SRWD) is held by "
                  "the WP# pin: release WP# (the board's write-protect jumper or switch), then "
                  "try again.");
        EXPECT_EQ(sim->console(), "");
        EXPECT_EQ(outcome().kind, Outcome::Kind::Failed);
        for (const QByteArray& t : sim->board.spiTransactions())
            EXPECT_FALSE(quint8(t[0]) == 0x02 || quint8(t[0]) == 0xC7) << t.toHex().toStdString();
    }
}

// Late and split replies slow a run down; lost or garbled ones cost a retry with no command text
// in a transfer; much garbage may fail, never falsely succeed.
TEST_F(HonestVerdict, UnkindLinesSlowOperationsDownAndNeverMakeAFalseSuccess) {
    enum Expect { Clean, Succeeds, NoFalseSuccess };
    const struct {
        const char* what;
        BoardConfig config;
        Expect expect;
    } lines[] = {
        {"closing acknowledgement 20 ms late", {.lateAckUs = 20'000}, Clean},
        {"closing acknowledgement 100 ms late", {.lateAckUs = 100'000}, Clean},
        {"closing acknowledgement 250 ms late", {.lateAckUs = 250'000}, Clean},
        {"replies in pieces, pauses up to 8 ms", {.jitterUs = 8'000}, Clean},
        {"replies in pieces, pauses up to 16 ms", {.seed = 5, .jitterUs = 16'000}, Clean},
        {"one acknowledgement in twenty lost", {.seed = 2, .dropAckRate = 0.05}, Succeeds},
        {"one acknowledgement in twenty lost, seed 9", {.seed = 9, .dropAckRate = 0.05}, Succeeds},
        {"one byte in a hundred garbage", {.seed = 4, .garbageRate = 0.01}, Succeeds},
        {"one byte in twenty garbage", {.seed = 6, .garbageRate = 0.05}, NoFalseSuccess},
        {"one host byte in a thousand lost", {.seed = 3, .hostLossRate = 0.001}, NoFalseSuccess},
        {"one host byte in three hundred lost", {.seed = 8, .hostLossRate = 0.003}, NoFalseSuccess},
    };
    const QByteArray image = randomBytes(700, 11);
    for (const auto& line : lines) {
        for (const char* pace : {"default", "fast", "pipelined"}) {
            SCOPED_TRACE(std::string(line.what) + ", " + pace);
            BoardConfig config = line.config;
            config.spiChip = "W25Q32";
            board(Mode::Spi, config);
            ui().chkFastAck.setChecked(pace[0] != 'd');
            ui().chkFastAck.click();
            ui().chkPipeline.setChecked(pace[0] == 'p');
            const bool mustSucceed = line.expect != NoFalseSuccess;
            // A pipelined page cannot tell a lost acknowledgement from a lost host byte: it fails.
            const bool writeMustSucceed = mustSucceed && (pace[0] != 'p' || line.expect == Clean);
            const auto flash = [&] { return spiFlash().mid(0x1F0, image.size()); };
            // A success holds what it claims; where the line allows it, there is one.
            const auto judge = [&](bool holds, bool mustSucceed) {
                EXPECT_TRUE(!outcome().succeeded() || holds);
                EXPECT_TRUE(!mustSucceed || outcome().succeeded())
                    << outcome().message.toStdString();
            };
            sim->choose("image.bin", image);
            ui().txtOffset.setText("1F0");
            const std::int64_t start = sim->clock.nowUs();
            sim->press(ui().btnProgram[0]);
            judge(flash() == image, writeMustSucceed);
            EXPECT_LT(sim->clock.nowUs() - start, 60'000'000);
            for (const QByteArray& t : sim->board.spiTransactions())
                EXPECT_FALSE(t.contains("sf_transfer") || t.contains("load_config"))
                    << t.toHex().constData();
            const bool programmed = outcome().succeeded();
            sim->press(ui().btnVerify[0]);
            judge(flash() == image, mustSucceed && programmed);
            const QString out = sim->choose("out.bin", {});
            ui().txtPrgBytes.setText(QString::number(image.size()));
            sim->press(ui().btnRead[0]);
            judge(readFile(out) == flash(), mustSucceed);
            // A flash into the same sector keeps the image above, or says it failed.
            QByteArray expected = spiFlash();
            const QByteArray second = randomBytes(300, 12);
            expected.replace(0x800, second.size(), second);
            sim->choose("second.bin", second);
            ui().txtOffset.setText("800");
            ui().chkFlashSteps.setChecked(true);
            sim->press(ui().btnProgram[0]);
            judge(spiFlash() == expected, writeMustSucceed);
            EXPECT_TRUE(line.expect != Clean || !sim->console().contains("Timed out"))
                << sim->console().toStdString();
        }
    }
}

// A chip erase keeps the server silent for its real time: the operation waits for "Erase
// complete", and the next one finds the server at its prompt.
TEST_F(HonestVerdict, AParallelFlashEraseIsWaitedForToTheEnd) {
    timeScale = 1.0;
    board(Mode::Bpi);
    bpiFlash().fill('\0', 4096);
    const std::int64_t start = sim->clock.nowUs();
    sim->press(ui().btnBulkErase[1]);
    EXPECT_GT(sim->clock.nowUs() - start, 5'000'000) << "the erase was not waited for";
    EXPECT_TRUE(outcome().succeeded()) << outcome().message.toStdString();
    EXPECT_TRUE(sim->console().endsWith("Erasing flash...\r\nErase complete\r\n"))
        << sim->console().toStdString();
    EXPECT_EQ(bpiFlash().left(4096), QByteArray(4096, char(0xFF)));
    // Leading zeros keep the header field four bytes; Verify past the file compares with 0xFF.
    const QByteArray image = randomBytes(100, 3);
    sim->choose("image.bin", image);
    ui().txtOffset.setText("0000000200");
    ui().txtPrgBytes.setText("300");
    sim->press(ui().btnProgram[1]);
    EXPECT_TRUE(outcome().succeeded()) << outcome().message.toStdString();
    EXPECT_EQ(bpiFlash().mid(0x200, 100), image);
    EXPECT_EQ(bpiFlash().mid(0x264, 200), QByteArray(200, char(0xFF)));
    const QByteArray sent = sim->board.hostBytes();
    EXPECT_EQ(sent.mid(sent.lastIndexOf("w\r") + 2, 12).toHex(),
              QByteArray("000002000000012c00000080"));
    sim->press(ui().btnVerify[1]);
    EXPECT_TRUE(sim->console().endsWith("BPI validated!\r\n")) << sim->console().toStdString();
    EXPECT_TRUE(outcome().succeeded());

    // A server silent after the connection's probes is given up after 5 s, and not trusted.
    board(Mode::Bpi, {.serverSilentAfterBytes = 4});
    sim->press(ui().btnBulkErase[1]);
    EXPECT_EQ(outcome().kind, Outcome::Kind::Failed);
    EXPECT_EQ(sim->lastMessage(),
              "Unexpected Error: The BPI server did not answer the erase command (nothing for 5 "
              "seconds): a byte was probably lost on the line. Load the server again before the "
              "next parallel flash operation.");
    EXPECT_FALSE(sim->h->model.session.BpiServerRunning);

    // A completion garbled on the line ends the wait at once, without a claim.
    board(Mode::Bpi);
    sim->port.onRead = [](QByteArray& bytes) {
        bytes.replace("Erase complete", "Erase compXlete");
    };
    const std::int64_t garbledStart = sim->clock.nowUs();
    sim->press(ui().btnBulkErase[1]);
    EXPECT_LT(sim->clock.nowUs() - garbledStart, 70'000'000) << "waited for the whole bound";
    EXPECT_EQ(outcome().kind, Outcome::Kind::Failed);
    EXPECT_TRUE(sim->lastMessage().contains("answer to the erase was not understood"));
    EXPECT_FALSE(sim->h->model.session.BpiServerRunning);
}
