#include "support/SimTest.h"

namespace {

const QStringList Opening = {"load_config 1", "drive_prog 0", "spi_mode 0", "sf_transfer 4"};
const QStringList Closing = {"drive_prog 1", "load_config 0"};

// Every case runs paced by the acknowledgement timer, with fast acknowledgement, and
// pipelined: the bytes on the wire are the same in all three.
enum class Pace { Paced, Fast, Pipelined };

std::string paceName(Pace pace) {
    return pace == Pace::Paced ? "Default" : pace == Pace::Fast ? "Fast" : "Pipelined";
}

struct SpiOperationsTest : SimTest, ::testing::WithParamInterface<Pace> {
    void board(const QString& chip, BoardConfig config = {}, const QString& device = {}) {
        config.spiChip = chip;
        SimTest::board(Mode::Spi, config, device);
        ui().chkFastAck.setChecked(GetParam() != Pace::Paced);
        ui().chkFastAck.click();
        ui().chkPipeline.setChecked(GetParam() == Pace::Pipelined);
    }
    QByteArray flash(qint64 at, qint64 size) { return spiFlash().mid(at, size); }
    // Lengths of the data transactions announced with "sf_transfer", from the mark on.
    QList<int> transfers(int mark) {
        QList<int> out;
        for (const QString& c : sim->commandsSince(mark))
            if (c.startsWith("sf_transfer "))
                out << c.mid(12).toInt();
        return out;
    }
    // Page program transactions: where each goes and how many data bytes it holds.
    QList<std::pair<int, int>> programChunks() {
        QList<std::pair<int, int>> out;
        for (const QByteArray& t : sim->board.spiTransactions())
            if (quint8(t[0]) == 0x02)
                out.append(
                    {(quint8(t[1]) << 16) | (quint8(t[2]) << 8) | quint8(t[3]), int(t.size()) - 4});
        return out;
    }
    void expectCleanRun() {
        EXPECT_FALSE(sim->console().contains("Timed out")) << sim->console().toStdString();
        EXPECT_FALSE(sim->console().contains("Unexpected ack"));
        EXPECT_EQ(sim->commandsSince(sim->mark() - 2), Closing);
        EXPECT_EQ(leftBehind(Mode::Spi), QStringList());
    }
};

} // namespace

TEST_P(SpiOperationsTest, IdCheckAndDetectReadTheIdentificationAndSayWhatItIs) {
    using A = Prompter::Answer;
    using M = BoardConfig::Miso;
    const QString none = "ERROR: No SPI flash answers: the identification reads ",
                  check = "\r\nCheck the board's jumpers or mode switch, that the flash is "
                          "fitted, and the SPI mode of the controller.",
                  other = "ERROR: ID code byte read does not match expected value: 20 20 16 \r\n"
                          "Read: EF 40 16\r\nThat is the identification of W25Q32.|ID Check: The "
                          "flash answers as W25Q32. Select W25Q32 for the next operations?";
    const struct {
        const char* button;
        QString chip, device, console, boxes, selected;
        M miso = M::Chip;
        A answer = A::Yes;
    } cases[] = {
        {"btnIDecho_0", "M25P16", "M25P16", "20 20 15 \r\n", "", "M25P16"},
        {"btnIDecho_0", "W25Q64", "W25Q64", "EF 40 17 \r\n", "", "W25Q64"},
        {"btnIDecho_0", "MX25L3206E", "MX25L3206E", "C2 20 16 \r\n", "", "MX25L3206E"},
        {"btnIDecho_0", "S25FL064P", "S25FL064P", "01 02 16 \r\n", "", "S25FL064P"},
        {"btnIDecho_0", "W25Q32", "M25P32", "EF 40 16 \r\n", other, "M25P32", M::Chip, A::No},
        {"btnIDecho_0", "W25Q32", "M25P32", "EF 40 16 \r\n", other, "W25Q32"},
        {"btnDetect", "W25Q64", "M25P32", "Detected W25Q64 (EF 40 17) \r\n", "", "W25Q64"},
        {"btnDetect", "S25FL032P", "M25P32", "Detected S25FL032P (01 02 15) \r\n", "", "S25FL032P"},
        {"btnDetect", "M25P16", "M25P32", "",
         none + "FF FF FF, as from a floating MISO line." + check, "M25P32", M::Floating},
        {"btnDetect", "M25P16", "M25P32", "",
         none + "00 00 00, as from a MISO line held low." + check, "M25P32", M::Low},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chip.toStdString() + " " + c.button);
        board(c.chip, {.spiMiso = c.miso}, c.device);
        prompter().answers << A::Ok << c.answer;
        const int mark = sim->mark();
        sim->press(sim->control(c.button));
        EXPECT_EQ(sim->console(), c.console);
        EXPECT_EQ(prompter().boxes().join('|'), c.boxes);
        EXPECT_EQ(sim->commandsSince(mark), Opening + Closing);
        EXPECT_EQ(sim->board.spiTransactions().last(), QByteArray::fromHex("9F000000"));
        EXPECT_EQ(outcome().succeeded(), c.boxes.isEmpty());
        // The device found is selected; nothing else changes the selection.
        EXPECT_EQ(ui().cbFlash.selectedItem(), c.selected);
        EXPECT_TRUE(ui().btnIDecho[0].enabled() && ui().btnDetect.enabled());
        EXPECT_EQ(sim->port.receiveThreshold(), 1);
        expectCleanRun();
    }
    // A chip without a description is named by its identification only.
    board("M25P16");
    QFile::remove(sim->path("M25P16.sfh"));
    sim->press(ui().btnDetect);
    EXPECT_EQ(sim->lastMessage(),
              "ERROR: No description file matches the identification 20 20 15.");
}

TEST_P(SpiOperationsTest, BulkEraseLeavesTheWholeFlashErased) {
    board("M25P16", {.spiPowerUpProtected = true});
    spiFlash() = randomBytes(2 * 1024 * 1024, 7);
    QStringList captions;
    ui().lblProgress.watch([&] { captions << ui().lblProgress.text(); });
    sim->press(ui().btnBulkErase[0]);
    EXPECT_EQ(spiFlash(), QByteArray(2 * 1024 * 1024, char(0xFF)));
    EXPECT_EQ(sim->console(), "Bulk Erase confirmed \r\n");
    EXPECT_TRUE(captions.contains("Bulk Erase Poll 3% done"));
    expectCleanRun();
}

// The parts come out of power-up protected: programming must unprotect them first. Chunks stay
// inside their page (the simulated parts have 256-byte pages, so a description's 16-byte pages
// still land where they belong), and a busy page is polled again, never sent twice.
TEST_P(SpiOperationsTest, ProgramsAnImageExactlyInChunksInsideEachPageAndNothingElse) {
    const struct {
        QString chip;
        bool protectedAtPowerUp;
        double timeScale;
        QByteArray pageSize; // MBPP in the description
        int size, offset;
        QList<int> chunks; // the first ones' lengths
        int count = 0;     // of chunks; 0: not counted
    } cases[] = {
        {"M25P16", true, 1, "000000000100", 100 * 1024 + 7, 0xF0, {16, 60, 60}},
        {"W25Q32", true, 1, "000000000100", 100 * 1024 + 7, 0xF0, {16, 60, 60}},
        {"MX25L6406E", true, 1, "000000000100", 100 * 1024 + 7, 0xF0, {16, 60, 60}},
        {"M25P16", false, 1, "000000000010", 100, 7, {9, 16}},
        // 13 ms per page: several status polls each. Five chunks for each of the seven full
        // pages (60, 60, 60, 60, 16), four for the rest.
        {"M25P16", false, 20, "000000000100", 2000, 0, {60, 60, 60, 60, 16, 60}, 39},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chip.toStdString() + " page " + c.pageSize.toStdString());
        board(c.chip, {.timeScale = c.timeScale, .spiPowerUpProtected = c.protectedAtPowerUp});
        const QString sfh = sim->path(c.chip + ".sfh");
        writeFile(sim->dir.path(), c.chip + ".sfh",
                  readFile(sfh).replace("MBPP      000000000100", "MBPP      " + c.pageSize));
        const qint64 size = spiFlash().size(), page = c.pageSize.toInt(nullptr, 16);
        const QByteArray image = randomBytes(c.size, 42);
        sim->choose("image.bin", image);
        EXPECT_EQ(ui().txtPrgBytes.text(), QString::number(image.size()));
        ui().txtOffset.setText(QString::number(c.offset, 16));
        const int mark = sim->mark();
        sim->press(ui().btnProgram[0]);
        const qint64 end = c.offset + image.size();
        EXPECT_TRUE(sim->console().endsWith("SPI programming successful: 0x" +
                                            QString::number(c.offset, 16).toUpper() + " to 0x" +
                                            QString::number(end - 1, 16).toUpper() + " \r\n"))
            << sim->console().toStdString();
        EXPECT_EQ(flash(c.offset, image.size()), image);
        EXPECT_EQ(flash(0, c.offset), QByteArray(c.offset, char(0xFF)));
        EXPECT_EQ(flash(end, size - end), QByteArray(size - end, char(0xFF)));
        qint64 address = c.offset;
        QList<int> lengths;
        for (const auto& [at, length] : programChunks()) {
            EXPECT_EQ(at, address);
            EXPECT_EQ(at / page, (at + length - 1) / page) << at;
            lengths << length;
            address += length;
        }
        EXPECT_EQ(address, end);
        EXPECT_EQ(lengths.mid(0, c.chunks.size()), c.chunks);
        EXPECT_TRUE(c.count == 0 || lengths.size() == c.count) << lengths.size();
        EXPECT_GT(transfers(mark).size(), 3 * (image.size() / 60));
        if (c.count > 0) {
            EXPECT_GT(ui().txtMaxSpiPoll.text().toInt(), 1);
        }
        expectCleanRun();
    }
}

TEST_P(SpiOperationsTest, ReadReplacesTheFileWithExactlyTheRangeRead) {
    board("W25Q32");
    spiFlash().replace(0x1000, 100, randomBytes(100, 11));
    sim->choose("out.bin", QByteArray(300, char(0xAA)));
    ui().txtPrgBytes.setText("100");
    ui().txtOffset.setText("1000");
    QStringList captions;
    ui().lblProgress.watch([&] { captions << ui().lblProgress.text(); });
    const int mark = sim->mark();
    sim->press(ui().btnRead[0]);
    EXPECT_EQ(prompter().shown[0].text, "out.bin will be overwritten!");
    // No stale tail: a later Program of the file writes only what came from the flash.
    EXPECT_EQ(readFile(sim->path("out.bin")), flash(0x1000, 100));
    // The range is read twice: the second read must agree with the first.
    EXPECT_EQ(transfers(mark), (QList<int>{4, 64, 44, 64, 44}));
    EXPECT_TRUE(captions.contains("Read Progress 60% done"));
    EXPECT_TRUE(captions.contains("Checking what was read 100% done"));
    EXPECT_EQ(sim->console(), "SPI data read successfully \r\n");
    expectCleanRun();
}

TEST_P(SpiOperationsTest, VerifyPassesOnTheSameDataAndNamesTheChunkOfTheFirstDifference) {
    board("M25P32");
    const QByteArray image = randomBytes(500, 13);
    spiFlash().replace(0, image.size(), image);
    sim->choose("same.bin", image);
    sim->press(ui().btnVerify[0]);
    EXPECT_EQ(sim->console(), "SPI data validated \r\n");
    EXPECT_FALSE(sim->h->model.spi.MyError);
    expectCleanRun();

    QByteArray changed = image;
    changed[69] = char(~changed[69]);
    sim->choose("changed.bin", changed);
    sim->press(ui().btnVerify[0]);
    EXPECT_EQ(sim->lastMessage(), "ERROR: SPI verification failed after byte 60 - Aborting\r\n"
                                  "First difference at 0x45: flash F1, file 0E");
    EXPECT_TRUE(sim->h->model.spi.MyError);
    expectCleanRun();
}

// Whatever fails, the controller is released and the flash holds only what the board took.
TEST_P(SpiOperationsTest, EveryFailureOrRefusalLeavesTheControllerReleased) {
    using K = Outcome::Kind;
    const QString sfh = "\r\nPlease verify the file M25P16.sfh.";
    const struct {
        const char* what;
        const char* button;
        K outcome;
        QString console, message;
        StuckBusy stuck = StuckBusy::Never;
        QByteArray from = "", to = ""; // a change to the description
        QString offset = "", count = "";
        QString chip = "M25P16", device = "M25P16";
    } cases[] = {
        {"ID mismatch", "btnProgram_0", K::Failed, "",
         "ERROR: ID code byte read does not match expected value: 20 20 16 \r\nRead: EF 40 16\r\n"
         "That is the identification of W25Q32.",
         StuckBusy::Never, "", "", "", "", "W25Q32", "M25P32"},
        {"erase never completes", "btnBulkErase_0", K::Failed, "Bulk Erase failed \r\n", "",
         StuckBusy::EraseOnly},
        {"status write never completes", "btnProgram_0", K::Failed, "SPI Unprotect failed! \r\n",
         "", StuckBusy::EveryCycle},
        {"page program never completes", "btnProgram_0", K::Failed, "SPI programming failed \r\n",
         "", StuckBusy::ProgramOnly},
        {"ABSZ too large", "btnProgram_0", K::Refused, "",
         "Application Error: The description gives ABSZ = 60; it must be 1 to 4 (address "
         "bytes)." +
             sfh,
         StuckBusy::Never, "ABSZ      03", "ABSZ      3C"},
        {"ABSZ zero", "btnProgram_0", K::Refused, "",
         "Application Error: The description gives ABSZ = 0; it must be 1 to 4 (address bytes)." +
             sfh,
         StuckBusy::Never, "ABSZ      03", "ABSZ      00"},
        {"NIDB too large", "btnProgram_0", K::Refused, "",
         "Application Error: The description gives NIDB = 62; it must be 1 to 61 "
         "(identification bytes)." +
             sfh,
         StuckBusy::Never, "NIDB      03", "NIDB      3E"},
        {"PPTY one past its limit", "btnProgram_0", K::Refused, "",
         "Application Error: The description gives PPTY = 10001; it must be 0 to 10000 "
         "(microseconds a page takes, typically)." +
             sfh,
         StuckBusy::Never, "PPTY      000000000280", "PPTY      000000002711"},
        // A value the reader already refused is said once, by the reader, and fails the run.
        {"MBPP zero", "btnProgram_0", K::Failed, "", "", StuckBusy::Never, "MBPP      000000000100",
         "MBPP      000000000000"},
        {"BPRD zero", "btnProgram_0", K::Failed, "", "", StuckBusy::Never, "BPRD      000000200000",
         "BPRD      000000000000"},
        {"a range one past the part", "btnProgram_0", K::Refused, "",
         "SPI Program Error: File is too large to program from offset 0x1FFFF0\r\n17 bytes from "
         "offset 0x1FFFF0 end at 0x200000, past the end of M25P16 (2097152 bytes, the last "
         "address 0x1FFFFF).",
         StuckBusy::Never, "", "", "1FFFF0", "17"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board(c.chip, {.spiStuckBusy = c.stuck}, c.device);
        if (!c.from.isEmpty())
            writeFile(sim->dir.path(), "M25P16.sfh",
                      readFile(sim->path("M25P16.sfh")).replace(c.from, c.to));
        const QByteArray image = randomBytes(1000, 17);
        sim->choose("image.bin", image);
        if (!c.offset.isEmpty()) {
            ui().txtOffset.setText(c.offset);
            ui().txtPrgBytes.setText(c.count);
        }
        const int mark = sim->mark();
        sim->press(sim->control(c.button));
        EXPECT_EQ(outcome().kind, c.outcome);
        EXPECT_EQ(sim->console(), c.console);
        if (!c.message.isEmpty()) {
            EXPECT_EQ(sim->lastMessage(), c.message);
        }
        if (c.outcome == K::Refused || !c.from.isEmpty())
            EXPECT_TRUE(sim->commandsSince(mark).isEmpty())
                << sim->commandsSince(mark).join(",").toStdString();
        else
            EXPECT_EQ(sim->commandsSince(sim->mark() - 2), Closing);
        EXPECT_EQ(leftBehind(Mode::Spi), QStringList());
        // A stuck page program has taken its first chunk; nothing else reaches the flash.
        const int taken = c.console.startsWith("SPI programming failed") ? 60 : 0;
        EXPECT_EQ(flash(taken, 1000 - taken), QByteArray(1000 - taken, char(0xFF)));
    }
    // The last address itself is in range.
    ui().txtPrgBytes.setText("16");
    sim->press(ui().btnProgram[0]);
    EXPECT_TRUE(sim->console().endsWith("SPI programming successful: 0x1FFFF0 to 0x1FFFFF \r\n"));
    EXPECT_EQ(flash(0x1FFFF0, 16), readFile(sim->path("image.bin")).left(16));
}

TEST_P(SpiOperationsTest, AMalformedDescriptionIsReportedAndTheOperationGoesOn) {
    board("M25P16");
    writeFile(sim->dir.path(), "M25P16.sfh",
              readFile(sim->path("M25P16.sfh")).append("RDSR      0x05\r\n"));
    sim->press(ui().btnIDecho[0]);
    EXPECT_EQ(prompter().texts(),
              QStringList{"Error: 13\r\nType mismatch\r\n\r\n"
                          "This error has most likely been caused by an incorrect .sfh file.\r\n"
                          "Please verify the file format."});
    EXPECT_EQ(sim->console(), "20 20 15 \r\n");
}

INSTANTIATE_TEST_SUITE_P(Acknowledgement, SpiOperationsTest,
                         ::testing::Values(Pace::Paced, Pace::Fast, Pace::Pipelined),
                         [](const auto& info) { return paceName(info.param); });
