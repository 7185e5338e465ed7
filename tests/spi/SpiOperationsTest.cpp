#include "support/SimTest.h"

#include "sim/BitstreamBuilder.h"
#include "spi/SpiText.h"

namespace {

constexpr int KiB = 1024;
const QStringList Closing = {"drive_prog 1", "load_config 0"};

// Every case runs paced by the acknowledgement timer, with fast acknowledgement, and
// pipelined: the bytes on the wire are the same in all three.
enum class Pace { Paced, Fast, Pipelined };

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
    // The transactions of an instruction: the address each gives and the bytes after it.
    QList<std::pair<int, int>> sent(int opcode) {
        QList<std::pair<int, int>> out;
        for (const QByteArray& t : sim->board.spiTransactions())
            if (quint8(t[0]) == opcode)
                out.append(
                    {t.size() < 4 ? -1 : (quint8(t[1]) << 16) | (quint8(t[2]) << 8) | quint8(t[3]),
                     int(t.size()) - 4});
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
        {"btnIDecho_0", "W25Q32", "M25P32", "EF 40 16 \r\n", other, "M25P32", M::Chip, A::No},
        {"btnIDecho_0", "W25Q32", "M25P32", "EF 40 16 \r\n", other, "W25Q32"},
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
        EXPECT_EQ(sim->commandsSince(mark),
                  QStringList({"load_config 1", "drive_prog 0", "spi_mode 0", "sf_transfer 4"}) +
                      Closing);
        EXPECT_EQ(sim->board.spiTransactions().last(), QByteArray::fromHex("9F000000"));
        EXPECT_EQ(outcome().succeeded(), c.boxes.isEmpty());
        // The device found is selected; nothing else changes the selection.
        EXPECT_EQ(ui().cbFlash.selectedItem(), c.selected);
        expectCleanRun();
    }
    // A malformed description is reported and the operation goes on.
    board("M25P16");
    writeFile(sim->dir.path(), "M25P16.sfh",
              readFile(sim->path("M25P16.sfh")).append("RDSR      0x05\r\n"));
    sim->press(ui().btnIDecho[0]);
    EXPECT_EQ(prompter().texts(),
              QStringList{"Error: 13\r\nType mismatch\r\n\r\n"
                          "This error has most likely been caused by an incorrect .sfh file.\r\n"
                          "Please verify the file format."});
    EXPECT_EQ(sim->console(), "20 20 15 \r\n");
    // A chip without a description is named by its identification only.
    QFile::remove(sim->path("M25P16.sfh"));
    sim->press(ui().btnDetect);
    EXPECT_EQ(sim->lastMessage(),
              "ERROR: No description file matches the identification 20 20 15.");
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
        {"MX25L6406E", true, 1, "000000000100", 100 * 1024 + 7, 0xF0, {16, 60, 60}},
        {"M25P16", false, 1, "000000000010", 100, 7, {9, 16}},
        // 13 ms per page: several status polls each. Five chunks for each of the seven full
        // pages (60, 60, 60, 60, 16), four for the rest.
        {"M25P16", false, 20, "000000000100", 2000, 0, {60, 60, 60, 60, 16, 60}, 39},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chip.toStdString() + " page " + c.pageSize.toStdString());
        board(c.chip, {.timeScale = c.timeScale, .spiPowerUpProtected = c.protectedAtPowerUp});
        writeFile(sim->dir.path(), c.chip + ".sfh",
                  readFile(sim->path(c.chip + ".sfh"))
                      .replace("MBPP      000000000100", "MBPP      " + c.pageSize));
        const qint64 size = spiFlash().size(), page = c.pageSize.toInt(nullptr, 16);
        const QByteArray image = randomBytes(c.size, 42);
        sim->choose("image.bin", image);
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
        for (const auto& [at, length] : sent(0x02)) {
            EXPECT_EQ(at, address);
            EXPECT_EQ(at / page, (at + length - 1) / page) << at;
            lengths << length;
            address += length;
        }
        EXPECT_EQ(address, end);
        EXPECT_EQ(lengths.mid(0, c.chunks.size()), c.chunks);
        EXPECT_TRUE(c.count == 0 || lengths.size() == c.count) << lengths.size();
        EXPECT_GT(transfers(mark).size(), 3 * (image.size() / 60));
        EXPECT_TRUE(c.count == 0 || ui().txtMaxSpiPoll.text().toInt() > 1);
        expectCleanRun();
    }
}

// The parts come out of power-up protected: a bulk erase must unprotect them first.
TEST_P(SpiOperationsTest, ReadVerifyAndBulkEraseTakeExactlyTheirRange) {
    board("W25Q32", {.spiPowerUpProtected = true});
    spiFlash().replace(0x1000, 100, randomBytes(100, 11));
    sim->choose("out.bin", QByteArray(300, char(0xAA)));
    ui().txtPrgBytes.setText("100");
    ui().txtOffset.setText("1000");
    QStringList captions;
    ui().lblProgress.watch([&] { captions << ui().lblProgress.text(); });
    const int mark = sim->mark();
    sim->press(ui().btnRead[0]);
    // No stale tail: a later Program of the file writes only what came from the flash.
    EXPECT_EQ(readFile(sim->path("out.bin")), flash(0x1000, 100));
    // The range is read twice: the second read must agree with the first.
    EXPECT_EQ(transfers(mark), (QList<int>{4, 64, 44, 64, 44}));
    EXPECT_TRUE(captions.contains("Checking what was read 100% done"));
    EXPECT_EQ(sim->console(), "SPI data read successfully \r\n");
    expectCleanRun();

    // Verify passes on the same data and names the chunk of the first difference.
    ui().txtPrgBytes.setText("");
    ui().txtOffset.setText("0");
    const QByteArray image = randomBytes(500, 13);
    spiFlash().replace(0, image.size(), image);
    for (const bool same : {true, false}) {
        QByteArray file = image;
        file[69] = same ? file[69] : char(~file[69]);
        sim->choose("image.bin", file);
        sim->press(ui().btnVerify[0]);
        EXPECT_EQ(sim->h->model.spi.MyError, !same);
        expectCleanRun();
    }
    EXPECT_TRUE(sim->console().endsWith("SPI data read successfully \r\nSPI data validated \r\n"));
    EXPECT_EQ(sim->lastMessage(), "ERROR: SPI verification failed after byte 60 - Aborting\r\n"
                                  "First difference at 0x45: flash F1, file 0E");

    spiFlash() = randomBytes(int(spiFlash().size()), 7);
    sim->press(ui().btnBulkErase[0]);
    EXPECT_EQ(spiFlash(), QByteArray(spiFlash().size(), char(0xFF)));
    EXPECT_TRUE(sim->console().endsWith("validated \r\nBulk Erase confirmed \r\n"));
    expectCleanRun();
}

// Whatever fails, the controller is released and the flash holds only what the board took.
TEST_P(SpiOperationsTest, EveryFailureOrRefusalLeavesTheControllerReleased) {
    using K = Outcome::Kind;
    const auto gives = [](const QString& what) {
        return "Application Error: The description gives " + what +
               "\r\nPlease verify the file M25P16.sfh.";
    };
    const auto refused = [](const QString& why) {
        return "SPI Program Error: " + why + "\r\nNothing was sent to the board.";
    };
    const struct {
        const char* what;
        const char* button;
        K outcome;
        QString console, message;
        QByteArray file = ""; // a HEX image, 16 bytes of it asked for
        StuckBusy stuck = StuckBusy::Never;
        QByteArray from = "", to = ""; // a change to the description
        QString offset = "", count = "";
        QString chip = "M25P16", device = "M25P16";
    } cases[] = {
        {"ID mismatch", "btnProgram_0", K::Failed, "",
         "ERROR: ID code byte read does not match expected value: 20 20 16 \r\nRead: EF 40 16\r\n"
         "That is the identification of W25Q32.",
         "", StuckBusy::Never, "", "", "", "", "W25Q32", "M25P32"},
        {"erase never completes", "btnBulkErase_0", K::Failed, "Bulk Erase failed \r\n", "", "",
         StuckBusy::EraseOnly},
        {"status write never completes", "btnProgram_0", K::Failed, "SPI Unprotect failed! \r\n",
         "", "", StuckBusy::EveryCycle},
        {"page program never completes", "btnProgram_0", K::Failed, "SPI programming failed \r\n",
         "", "", StuckBusy::ProgramOnly},
        {"ABSZ zero", "btnProgram_0", K::Refused, "",
         gives("ABSZ = 0; it must be 1 to 4 (address bytes)."), "", StuckBusy::Never,
         "ABSZ      03", "ABSZ      00"},
        {"NIDB too large", "btnProgram_0", K::Refused, "",
         gives("NIDB = 62; it must be 1 to 61 (identification bytes)."), "", StuckBusy::Never,
         "NIDB      03", "NIDB      3E"},
        {"PPTY one past its limit", "btnProgram_0", K::Refused, "",
         gives("PPTY = 10001; it must be 0 to 10000 (microseconds a page takes, typically)."), "",
         StuckBusy::Never, "PPTY      000000000280", "PPTY      000000002711"},
        // A value the reader already refused is said once, by the reader, and fails the run.
        {"MBPP zero", "btnProgram_0", K::Failed, "", "", "", StuckBusy::Never,
         "MBPP      000000000100", "MBPP      000000000000"},
        {"a range one past the part", "btnProgram_0", K::Refused, "",
         "SPI Program Error: File is too large to program from offset 0x1FFFF0\r\n17 bytes from "
         "offset 0x1FFFF0 end at 0x200000, past the end of M25P16 (2097152 bytes, the last "
         "address 0x1FFFFF).",
         "", StuckBusy::Never, "", "", "1FFFF0", "17"},
        {"an unknown record", "btnProgram_0", K::Refused, "",
         refused("Intel HEX line 1: record type 06 is not known"), ":0400000601020304EC\r\n"},
        {"a record cut short", "btnProgram_0", K::Refused, "",
         refused("Intel HEX line 1: its length says 2 data bytes, it holds 1"),
         ":02000004FFFF\r\n"},
        {"no data", "btnProgram_0", K::Refused, "", refused("The file holds no data to program."),
         ":00000001FF\r\n"},
        {"no data in the range", "btnProgram_0", K::Refused, "",
         refused("The file gives no byte within the 16 bytes asked for; its data starts at "
                 "0x10000."),
         ":020000040001F9\r\n:01000000CC33\r\n:00000001FF\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board(c.chip, {.spiStuckBusy = c.stuck}, c.device);
        if (!c.from.isEmpty())
            writeFile(sim->dir.path(), "M25P16.sfh",
                      readFile(sim->path("M25P16.sfh")).replace(c.from, c.to));
        sim->choose(c.file.isEmpty() ? "image.bin" : "image.hex",
                    c.file.isEmpty() ? randomBytes(1000, 17) : c.file);
        ui().txtOffset.setText(c.offset.isEmpty() ? "0" : c.offset);
        if (!c.count.isEmpty() || !c.file.isEmpty())
            ui().txtPrgBytes.setText(c.file.isEmpty() ? c.count : "16");
        const int mark = sim->mark();
        sim->press(sim->control(c.button));
        EXPECT_EQ(outcome().kind, c.outcome);
        EXPECT_EQ(sim->console(), c.console);
        EXPECT_TRUE(c.message.isEmpty() || sim->lastMessage() == c.message)
            << sim->lastMessage().toStdString();
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
}

TEST_P(SpiOperationsTest, FlashErasesOnlyTheSectorsItTouchesAndKeepsTheirOtherBytes) {
    timeScale = 0.01;
    const struct {
        QString chip;
        int sector, opcode;
    } cases[] = {{"W25Q32", 4 * KiB, 0x20}, {"M25P16", 64 * KiB, 0xD8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chip.toStdString());
        board(c.chip, {.spiPowerUpProtected = true});
        const QByteArray before = randomBytes(int(spiFlash().size()), 3);
        spiFlash() = before;
        const QByteArray image = randomBytes(c.sector + 100, 4);
        const int offset = 2 * c.sector + 0x123;
        sim->choose("image.bin", image);
        ui().txtOffset.setText(QString::number(offset, 16));
        ui().chkFlashSteps.setChecked(true);
        sim->press(ui().btnProgram[0]);
        EXPECT_TRUE(outcome().succeeded()) << outcome().message.toStdString();
        EXPECT_EQ(prompter().shown.size(), 0) << "nothing to vouch for";
        QByteArray expected = before;
        expected.replace(offset, image.size(), image);
        EXPECT_TRUE(spiFlash() == expected) << "only the image changed";
        EXPECT_EQ(sent(c.opcode),
                  (QList<std::pair<int, int>>{{2 * c.sector, 0}, {3 * c.sector, 0}}));
        EXPECT_TRUE(sent(0xC7).isEmpty() && sent(0x60).isEmpty()) << "no bulk erase";
        EXPECT_EQ(sim->console(), "SPI flash programmed and validated: 0x" +
                                      QString::number(2 * c.sector, 16).toUpper() + " to 0x" +
                                      QString::number(4 * c.sector - 1, 16).toUpper() + " \r\n");
    }
}

// A flash that fails once it has erased loses nothing: the sectors' bytes are saved.
TEST_P(SpiOperationsTest, AFlashThatStopsAfterItsEraseSavesWhatTheSectorsHeld) {
    timeScale = 0.01;
    board("W25Q32", {.spiStuckBusy = StuckBusy::ProgramOnly});
    const QByteArray before = randomBytes(8 * KiB, 9), image = randomBytes(100, 10);
    spiFlash().replace(0, before.size(), before);
    sim->choose("image.bin", image);
    ui().txtOffset.setText("1010");
    ui().chkFlashSteps.setChecked(true);
    sim->press(ui().btnProgram[0]);
    EXPECT_FALSE(outcome().succeeded());
    const QString saved = sim->path("image-sectors-0x1000.bin");
    EXPECT_TRUE(sim->console().endsWith(
        "The flash stopped after erasing 0x1000 to 0x1FFF. What those sectors held, with the "
        "image, is saved in " +
        saved + ": flash it at offset 0x1000.\r\n"))
        << sim->console().toStdString();
    EXPECT_EQ(readFile(saved), before.mid(0x1000, 0x10).append(image).append(before.mid(0x1074)));
}

TEST_P(SpiOperationsTest, HexAndBitImagesPutTheirOwnBytesWhereTheyBelong) {
    timeScale = 0.01;
    board("M25P16");
    const QByteArray old = randomBytes(0x30000, 5);
    spiFlash().replace(0, old.size(), old);
    // A gap between two records at 0x10000 and 0x10800 (through an extended linear address)
    // stays as the flash held it.
    const QByteArray a = randomBytes(32, 6), b = randomBytes(16, 7);
    sim->choose("image.mcs", hexRecord(4, 0, QByteArray::fromHex("0001")) + hexRecord(0, 0, a) +
                                 hexRecord(0, 0x800, b) + hexRecord(1, 0, {}));
    EXPECT_EQ(ui().txtPrgBytes.text(), QString::number(0x10810));
    ui().chkFlashSteps.setChecked(true);
    sim->press(ui().btnProgram[0]);
    EXPECT_TRUE(outcome().succeeded()) << outcome().message.toStdString();
    QByteArray expected = old;
    expected.replace(0x10000, 32, a).replace(0x10800, 16, b);
    EXPECT_TRUE(spiFlash().left(0x30000) == expected);
    EXPECT_EQ(sent(0xD8), (QList<std::pair<int, int>>{{0x10000, 0}}));

    // Without the option, Program skips what the file leaves open and Verify ignores it.
    spiFlash().fill(char(0xFF));
    ui().chkFlashSteps.setChecked(false);
    sim->press(ui().btnProgram[0]);
    EXPECT_EQ(flash(0x10000, 32), a);
    EXPECT_EQ(flash(0x10020, 0x7E0), QByteArray(0x7E0, char(0xFF)));
    spiFlash()[0x10100] = 0;
    sim->press(ui().btnVerify[0]);
    EXPECT_TRUE(outcome().succeeded());
    spiFlash()[0x10805] = char(~b[5]);
    sim->press(ui().btnVerify[0]);
    EXPECT_EQ(sim->lastMessage(), "ERROR: SPI verification failed after byte 67584 - Aborting\r\n"
                                  "First difference at 0x10805: flash " +
                                      spitext::hex2(quint8(~b[5])) + ", file " +
                                      spitext::hex2(quint8(b[5])));

    // A bitstream: its configuration data, not its header, goes to flash.
    const QByteArray payload = buildConfigPayload({.size = 3000});
    sim->choose("design.bit", buildBitFile(payload));
    spiFlash().fill(char(0xFF));
    sim->press(ui().btnProgram[0]);
    EXPECT_EQ(flash(0, payload.size()), payload);
    EXPECT_TRUE(sim->console().endsWith("Bitstream top.ncd for 3s200pq208, 3000 bytes\r\nSPI "
                                        "programming successful: 0x0 to 0xBB7 \r\n"));
}

TEST_P(SpiOperationsTest, ARangedEraseClearsTheSectorsItTouchesOrIsRefusedWithoutASectorErase) {
    timeScale = 0.01;
    board("MX25L3206E");
    spiFlash() = randomBytes(int(spiFlash().size()), 8);
    const QByteArray before = spiFlash();
    const auto erase = [&] {
        launch(OperationRequest::Kind::SpiSectorErase, {}, 0x1FFF, 2, "MX25L3206E");
    };
    erase();
    EXPECT_EQ(sim->console(), "Sector Erase confirmed: 0x1000 to 0x2FFF \r\n");
    QByteArray expected = before;
    expected.replace(0x1000, 0x2000, QByteArray(0x2000, char(0xFF)));
    EXPECT_TRUE(spiFlash() == expected);

    // A description without a sector erase refuses the range.
    QByteArray sfh = readFile(sim->path("MX25L3206E.sfh"));
    sfh.replace("SECE      20", "SECE      00");
    writeFile(sim->dir.path(), "MX25L3206E.sfh", sfh);
    erase();
    EXPECT_EQ(sim->lastMessage(),
              "SPI Erase Error: The description MX25L3206E.sfh gives no sector erase (SECE and "
              "SECS): this part can only be erased whole (Bulk Erase).");
}

INSTANTIATE_TEST_SUITE_P(Acknowledgement, SpiOperationsTest,
                         ::testing::Values(Pace::Paced, Pace::Fast, Pace::Pipelined),
                         [](const auto& info) {
                             return std::string(info.param == Pace::Paced  ? "Default"
                                                : info.param == Pace::Fast ? "Fast"
                                                                           : "Pipelined");
                         });
