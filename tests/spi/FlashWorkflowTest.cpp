#include "support/SimTest.h"

#include "sim/BitstreamBuilder.h"

namespace {

constexpr int KiB = 1024;

struct FlashWorkflowTest : SimTest {
    FlashWorkflowTest() { timeScale = 0.01; }
    QByteArray& memory() { return spiFlash(); }
    void board(const QString& chip, BoardConfig config = {}, const QString& device = {}) {
        config.spiChip = chip;
        SimTest::board(Mode::Spi, config, device);
    }
    // The addresses of the erases with this opcode.
    QList<int> erasedAt(int opcode) {
        QList<int> out;
        for (const QByteArray& t : sim->board.spiTransactions())
            if (quint8(t[0]) == opcode && t.size() == 4)
                out << ((quint8(t[1]) << 16) | (quint8(t[2]) << 8) | quint8(t[3]));
        return out;
    }
    bool bulkErased() {
        for (const QByteArray& t : sim->board.spiTransactions())
            if (t.size() == 1 && (quint8(t[0]) == 0xC7 || quint8(t[0]) == 0x60))
                return true;
        return false;
    }
    QString message() { return outcome().message; }
    bool succeeded() { return outcome().succeeded(); }
};

} // namespace

TEST_F(FlashWorkflowTest, FlashErasesOnlyTheSectorsItTouchesAndKeepsTheirOtherBytes) {
    const struct {
        QString chip;
        int sector, opcode;
    } cases[] = {{"W25Q32", 4 * KiB, 0x20}, {"M25P16", 64 * KiB, 0xD8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chip.toStdString());
        board(c.chip, {.spiPowerUpProtected = true});
        const QByteArray before = randomBytes(int(memory().size()), 3);
        memory() = before;
        const QByteArray image = randomBytes(c.sector + 100, 4);
        const int offset = 2 * c.sector + 0x123;
        sim->choose("image.bin", image);
        ui().txtOffset.setText(QString::number(offset, 16));
        ui().chkFlashSteps.setChecked(true);
        sim->press(ui().btnProgram[0]);
        EXPECT_TRUE(succeeded()) << message().toStdString();
        EXPECT_EQ(sim->h->prompter.shown.size(), 0) << "nothing to vouch for";
        QByteArray expected = before;
        expected.replace(offset, image.size(), image);
        EXPECT_TRUE(memory() == expected) << "only the image changed";
        EXPECT_EQ(erasedAt(c.opcode), (QList<int>{2 * c.sector, 3 * c.sector}));
        EXPECT_FALSE(bulkErased());
        EXPECT_EQ(sim->console(), "SPI flash programmed and validated: 0x" +
                                      QString::number(2 * c.sector, 16).toUpper() + " to 0x" +
                                      QString::number(4 * c.sector - 1, 16).toUpper() + " \r\n");
    }
}

// A flash that fails once it has erased loses nothing: the sectors' bytes are saved.
TEST_F(FlashWorkflowTest, AFlashThatStopsAfterItsEraseSavesWhatTheSectorsHeld) {
    board("W25Q32", {.spiStuckBusy = StuckBusy::ProgramOnly});
    const QByteArray before = randomBytes(8 * KiB, 9), image = randomBytes(100, 10);
    memory().replace(0, before.size(), before);
    sim->choose("image.bin", image);
    ui().txtOffset.setText("1010");
    ui().chkFlashSteps.setChecked(true);
    sim->press(ui().btnProgram[0]);
    EXPECT_FALSE(succeeded());
    const QString saved = sim->path("image-sectors-0x1000.bin");
    EXPECT_TRUE(sim->console().endsWith(
        "The flash stopped after erasing 0x1000 to 0x1FFF. What those sectors held, with the "
        "image, is saved in " +
        saved + ": flash it at offset 0x1000.\r\n"))
        << sim->console().toStdString();
    EXPECT_EQ(readFile(saved), before.mid(0x1000, 0x10).append(image).append(before.mid(0x1074)));
}

TEST_F(FlashWorkflowTest, HexAndBitImagesPutTheirOwnBytesWhereTheyBelong) {
    board("M25P16");
    const QByteArray old = randomBytes(0x30000, 5);
    memory().replace(0, old.size(), old);
    // A gap between two records at 0x10000 and 0x10800 (through an extended linear address)
    // stays as the flash held it.
    const QByteArray a = randomBytes(32, 6), b = randomBytes(16, 7);
    const QByteArray hex = hexRecord(4, 0, QByteArray::fromHex("0001")) + hexRecord(0, 0, a) +
                           hexRecord(0, 0x800, b) + hexRecord(1, 0, {});
    sim->choose("image.mcs", hex);
    EXPECT_EQ(ui().txtPrgBytes.text(), QString::number(0x10810));
    ui().chkFlashSteps.setChecked(true);
    sim->press(ui().btnProgram[0]);
    EXPECT_TRUE(succeeded()) << message().toStdString();
    QByteArray expected = old;
    expected.replace(0x10000, 32, a).replace(0x10800, 16, b);
    EXPECT_TRUE(memory().left(0x30000) == expected);
    EXPECT_EQ(erasedAt(0xD8), QList<int>{0x10000});

    // Without the option, Program skips what the file leaves open and Verify ignores it.
    memory() = QByteArray(memory().size(), char(0xFF));
    ui().chkFlashSteps.setChecked(false);
    sim->press(ui().btnProgram[0]);
    EXPECT_EQ(memory().mid(0x10000, 32), a);
    EXPECT_EQ(memory().mid(0x10020, 0x7E0), QByteArray(0x7E0, char(0xFF)));
    memory()[0x10100] = 0;
    sim->press(ui().btnVerify[0]);
    EXPECT_TRUE(succeeded());
    memory()[0x10805] = char(~b[5]);
    sim->press(ui().btnVerify[0]);
    const auto hex2 = [](char v) {
        return QString::number(quint8(v), 16).toUpper().rightJustified(2, '0');
    };
    EXPECT_EQ(sim->lastMessage(), "ERROR: SPI verification failed after byte 67584 - Aborting\r\n"
                                  "First difference at 0x10805: flash " +
                                      hex2(~b[5]) + ", file " + hex2(b[5]));

    // A bitstream: its configuration data, not its header, goes to flash.
    const QByteArray payload = buildConfigPayload({.size = 3000});
    sim->choose("design.bit", buildBitFile(payload));
    EXPECT_EQ(ui().txtPrgBytes.text(), QString::number(payload.size()));
    memory() = QByteArray(memory().size(), char(0xFF));
    sim->press(ui().btnProgram[0]);
    EXPECT_EQ(memory().left(payload.size()), payload);
    EXPECT_TRUE(sim->console().endsWith("Bitstream top.ncd for 3s200pq208, 3000 bytes\r\nSPI "
                                        "programming successful: 0x0 to 0xBB7 \r\n"));
}

TEST_F(FlashWorkflowTest, FilesThatCannotBeImagesAreRefusedBeforeAnythingIsSent) {
    const struct {
        QByteArray file;
        QString message;
    } cases[] = {
        {":0400000601020304EC\r\n", "Intel HEX line 1: record type 06 is not known"},
        {":02000004FFFF\r\n", "Intel HEX line 1: its length says 2 data bytes, it holds 1"},
        {":00000001FF\r\n", "The file holds no data to program."},
        {":020000040001F9\r\n:01000000CC33\r\n:00000001FF\r\n",
         "The file gives no byte within the 16 bytes asked for; its data starts at 0x10000."},
    };
    for (const auto& c : cases) {
        board("M25P16");
        sim->choose("bad.hex", c.file);
        ui().txtPrgBytes.setText("16");
        const int mark = sim->mark();
        sim->press(ui().btnProgram[0]);
        EXPECT_EQ(sim->lastMessage().toStdString(),
                  ("SPI Program Error: " + c.message + "\r\nNothing was sent to the board.")
                      .toStdString());
        EXPECT_TRUE(sim->commandsSince(mark).isEmpty());
        EXPECT_EQ(sim->h->model.session.outcome.kind, Outcome::Kind::Refused);
    }
}

TEST_F(FlashWorkflowTest, ARangedEraseClearsTheSectorsItTouchesAndAWholeReadTakesTheChip) {
    board("MX25L3206E");
    memory() = randomBytes(int(memory().size()), 8);
    const QByteArray before = memory();
    const auto erase = [&] {
        launch(OperationRequest::Kind::SpiSectorErase, {}, 0x1FFF, 2, "MX25L3206E");
    };
    erase();
    EXPECT_EQ(sim->h->prompter.texts().last(),
              "The erase takes whole sectors: it erases 0x1000 to 0x2FFF, 8190 bytes beyond the "
              "range asked. Erase them?");
    EXPECT_EQ(sim->console(), "Sector Erase confirmed: 0x1000 to 0x2FFF \r\n");
    QByteArray expected = before;
    expected.replace(0x1000, 0x2000, QByteArray(0x2000, char(0xFF)));
    EXPECT_TRUE(memory() == expected);

    // A description without a sector erase refuses the range.
    QByteArray sfh = readFile(sim->path("MX25L3206E.sfh"));
    sfh.replace("SECE      20", "SECE      00");
    writeFile(sim->dir.path(), "MX25L3206E.sfh", sfh);
    erase();
    EXPECT_EQ(sim->lastMessage(),
              "SPI Erase Error: The description MX25L3206E.sfh gives no sector erase (SECE and "
              "SECS): this part can only be erased whole (Bulk Erase).");

    // A Read without a count reads to the end of the chip the description gives.
    sfh.replace("BPRD      000000400000", "BPRD      000000000800");
    writeFile(sim->dir.path(), "MX25L3206E.sfh", sfh);
    const QString out = sim->choose("whole.bin", {});
    ui().txtOffset.setText("200");
    ui().txtPrgBytes.setText("");
    sim->press(ui().btnRead[0]);
    EXPECT_EQ(readFile(out), memory().mid(0x200, 0x600));
}
