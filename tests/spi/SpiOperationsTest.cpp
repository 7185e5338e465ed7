#include "support/SimHarness.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

const QStringList Opening = {"load_config 1", "drive_prog 0", "spi_mode 0", "sf_transfer 4"};
const QStringList Closing = {"drive_prog 1", "load_config 0"};

// Every case runs paced by the acknowledgement timer, with fast acknowledgement, and
// pipelined: the bytes on the wire are the same in all three.
enum class Pace { Paced, Fast, Pipelined };

std::string paceName(Pace pace) {
    return pace == Pace::Paced ? "Default" : pace == Pace::Fast ? "Fast" : "Pipelined";
}

struct SpiOperationsTest : ::testing::TestWithParam<Pace> {
    std::unique_ptr<SimHarness> sim;

    MainPanelControls& ui() { return sim->h->ui; }
    void board(const QString& chip, BoardConfig config = {}, const QString& device = {}) {
        config.spiChip = chip;
        sim = std::make_unique<SimHarness>(config);
        sim->startAndConnect();
        ui().chkFastAck.setChecked(GetParam() != Pace::Paced);
        ui().chkFastAck.click();
        ui().chkPipeline.setChecked(GetParam() == Pace::Pipelined);
        ui().mnuSPI.click();
        const int at = int(ui().cbFlash.items().indexOf(device.isEmpty() ? chip : device));
        ASSERT_GE(at, 0);
        ui().cbFlash.setSelectedIndex(at);
    }
    QByteArray flash(qint64 at, qint64 size) { return sim->board.spi().memory().mid(at, size); }
    // Lengths of the data transactions announced with "sf_transfer", from the mark on.
    QList<int> transfers(int mark) {
        QList<int> out;
        for (const QString& c : sim->commandsSince(mark))
            if (c.startsWith("sf_transfer "))
                out << c.mid(12).toInt();
        return out;
    }
    // Data lengths of the page program transactions.
    QList<int> programChunks() {
        QList<int> out;
        for (const QByteArray& t : sim->board.spiTransactions())
            if (quint8(t[0]) == 0x02)
                out << int(t.size()) - 4;
        return out;
    }
    void expectCleanRun() {
        EXPECT_FALSE(sim->console().contains("Timed out")) << sim->console().toStdString();
        EXPECT_FALSE(sim->console().contains("Unexpected ack"));
        EXPECT_EQ(sim->commandsSince(sim->mark() - 2), Closing);
        EXPECT_EQ(sim->h->model.session.opState.State(), 3);
        EXPECT_EQ(sim->h->model.spi.State(), 0);
    }
};

} // namespace

TEST_P(SpiOperationsTest, IdCheckShowsTheIdentificationBytesOfEachDevice) {
    const struct {
        QString chip, console;
    } cases[] = {{"M25P16", "20 20 15 \r\n"},
                 {"W25Q64", "EF 40 17 \r\n"},
                 {"MX25L3206E", "C2 20 16 \r\n"},
                 {"S25FL064P", "01 02 16 \r\n"}};
    for (const auto& c : cases) {
        board(c.chip);
        const int mark = sim->mark();
        sim->press(ui().btnIDecho[0]);
        EXPECT_EQ(sim->console(), c.console) << c.chip.toStdString();
        EXPECT_EQ(sim->commandsSince(mark), Opening + Closing);
        EXPECT_TRUE(sim->h->prompter.shown.isEmpty());
        expectCleanRun();
        EXPECT_TRUE(ui().btnIDecho[0].enabled());
        EXPECT_EQ(sim->port.receiveThreshold(), 1);
    }
}

TEST_P(SpiOperationsTest, BulkEraseLeavesTheWholeFlashErased) {
    board("M25P16", {.spiPowerUpProtected = true});
    sim->board.spi().memory() = randomBytes(2 * 1024 * 1024, 7);
    QStringList captions;
    ui().lblProgress.watch([&] {
        if (captions.isEmpty() || captions.last() != ui().lblProgress.text())
            captions << ui().lblProgress.text();
    });
    sim->press(ui().btnBulkErase[0]);
    EXPECT_EQ(sim->board.spi().memory(), QByteArray(2 * 1024 * 1024, char(0xFF)));
    EXPECT_EQ(sim->console(), "Bulk Erase confirmed \r\n");
    EXPECT_TRUE(captions.contains("Bulk Erase Poll 3% done"));
    expectCleanRun();
}

// The parts come out of power-up protected: programming must unprotect them first.
TEST_P(SpiOperationsTest, ProgramsAnUnalignedImageExactlyAndNothingElse) {
    for (const QString chip : {"M25P16", "W25Q32", "MX25L6406E"}) {
        board(chip, {.spiPowerUpProtected = true});
        const qint64 size = sim->board.spi().memory().size();
        const QByteArray image = randomBytes(100 * 1024 + 7, 42);
        sim->choose("image.bin", image);
        EXPECT_EQ(ui().txtPrgBytes.text(), QString::number(image.size()));
        ui().txtOffset.setText("F0");
        const int mark = sim->mark();
        sim->press(ui().btnProgram[0]);
        EXPECT_TRUE(sim->console().endsWith("SPI programming successful: 0xF0 to 0x190F6 \r\n"))
            << chip.toStdString();
        EXPECT_EQ(flash(0xF0, image.size()), image);
        EXPECT_EQ(flash(0, 0xF0), QByteArray(0xF0, char(0xFF)));
        const qint64 end = 0xF0 + image.size();
        EXPECT_EQ(flash(end, size - end), QByteArray(size - end, char(0xFF)));
        // The first chunk ends at the page boundary at 0x100.
        EXPECT_EQ(programChunks().mid(0, 3), (QList<int>{16, 60, 60}));
        EXPECT_GT(transfers(mark).size(), 3 * (image.size() / 60));
        expectCleanRun();
    }
}

TEST_P(SpiOperationsTest, SixteenBytePagesKeepEveryChunkInsideItsPage) {
    board("M25P16");
    QByteArray sfh = readFile(sim->path("M25P16.sfh"));
    sfh.replace("MBPP      000000000100", "MBPP      000000000010");
    writeFile(sim->dir.path(), "M25P16.sfh", sfh);
    const QByteArray image = randomBytes(100, 5);
    sim->choose("data.bin", image);
    ui().txtOffset.setText("7");
    sim->press(ui().btnProgram[0]);
    qint64 address = 7;
    for (const int length : programChunks()) {
        EXPECT_LE(length, 16);
        EXPECT_EQ(address / 16, (address + length - 1) / 16);
        address += length;
    }
    EXPECT_EQ(address, 107);
    // The simulated part has 256-byte pages, so 16-byte chunks land where they belong.
    EXPECT_EQ(flash(7, 100), image);
}

TEST_P(SpiOperationsTest, ABusyPageIsPolledAgainAndNeverSentTwice) {
    BoardConfig slow;
    slow.timeScale = 20; // 13 ms per page: several status polls each
    board("M25P16", slow);
    const QByteArray image = randomBytes(2000, 9);
    sim->choose("data.bin", image);
    sim->press(ui().btnProgram[0]);
    // Five chunks for each of the seven full pages (60, 60, 60, 60, 16), four for the rest.
    const QList<int> chunks = programChunks();
    EXPECT_EQ(chunks.size(), 7 * 5 + 4);
    EXPECT_EQ(chunks.mid(0, 6), (QList<int>{60, 60, 60, 60, 16, 60}));
    EXPECT_EQ(flash(0, image.size()), image);
    EXPECT_GT(ui().txtMaxSpiPoll.text().toInt(), 1);
    expectCleanRun();
}

TEST_P(SpiOperationsTest, ReadReplacesTheFileWithExactlyTheRangeRead) {
    board("W25Q32");
    sim->board.spi().memory().replace(0x1000, 100, randomBytes(100, 11));
    sim->choose("out.bin", QByteArray(300, char(0xAA)));
    ui().txtPrgBytes.setText("100");
    ui().txtOffset.setText("1000");
    QStringList captions;
    ui().lblProgress.watch([&] { captions << ui().lblProgress.text(); });
    const int mark = sim->mark();
    sim->press(ui().btnRead[0]);
    EXPECT_EQ(sim->h->prompter.shown[0].text, "out.bin will be overwritten!");
    const QByteArray out = readFile(sim->path("out.bin"));
    // No stale tail: a later Program of the file writes only what came from the flash.
    EXPECT_EQ(out, flash(0x1000, 100));
    EXPECT_EQ(transfers(mark), (QList<int>{4, 64, 44}));
    EXPECT_TRUE(captions.contains("Read Progress 60% done"));
    EXPECT_TRUE(captions.contains("Read Progress 100% done"));
    EXPECT_EQ(sim->console(), "SPI data read successfully \r\n");
    expectCleanRun();
}

TEST_P(SpiOperationsTest, VerifyPassesOnTheSameDataAndNamesTheChunkOfTheFirstDifference) {
    board("M25P32");
    const QByteArray image = randomBytes(500, 13);
    sim->board.spi().memory().replace(0, image.size(), image);
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

TEST_P(SpiOperationsTest, EveryFailureEndsByReleasingTheController) {
    const QByteArray image = randomBytes(1000, 17);
    const struct {
        const char* what;
        QString chip, device;
        StuckBusy stuck;
        const char* button;
        QString console, message;
    } cases[] = {
        {"ID mismatch", "W25Q32", "M25P32", StuckBusy::Never, "btnProgram_0", "",
         "ERROR: ID code byte read does not match expected value: 20 20 16 \r\nRead: EF 40 16\r\n"
         "That is the identification of W25Q32."},
        {"erase never completes", "M25P16", "M25P16", StuckBusy::EraseOnly, "btnBulkErase_0",
         "Bulk Erase failed \r\n", ""},
        {"status write never completes", "M25P16", "M25P16", StuckBusy::EveryCycle, "btnProgram_0",
         "SPI Unprotect failed! \r\n", ""},
        {"page program never completes", "M25P16", "M25P16", StuckBusy::ProgramOnly, "btnProgram_0",
         "SPI programming failed \r\n", ""},
    };
    for (const auto& c : cases) {
        board(c.chip, {.spiStuckBusy = c.stuck}, c.device);
        sim->choose("image.bin", image);
        sim->press(sim->control(c.button));
        EXPECT_EQ(sim->console(), c.console) << c.what;
        if (!c.message.isEmpty()) {
            EXPECT_EQ(sim->lastMessage(), c.message) << c.what;
        }
        EXPECT_EQ(sim->commandsSince(sim->mark() - 2), Closing) << c.what;
        EXPECT_EQ(sim->h->model.session.opState.State(), 3);
        // A stuck page program has taken its first chunk; nothing else reaches the flash.
        const int taken = c.console.startsWith("SPI programming failed") ? 60 : 0;
        EXPECT_EQ(flash(taken, 1000 - taken), QByteArray(1000 - taken, char(0xFF))) << c.what;
    }
}

// Values the sequence cannot work with would send transactions past the controller's 64 bytes
// or address fields of the wrong width: refused before anything is sent.
TEST_P(SpiOperationsTest, DescriptionValuesOutOfRangeAreRefusedBeforeAnythingIsSent) {
    const struct {
        QByteArray from, to;
        QString message;
    } cases[] = {
        {"ABSZ      03", "ABSZ      3C",
         "The description gives ABSZ = 60; it must be 1 to 4 (address bytes)."},
        {"ABSZ      03", "ABSZ      00",
         "The description gives ABSZ = 0; it must be 1 to 4 (address bytes)."},
        {"NIDB      03", "NIDB      3E",
         "The description gives NIDB = 62; it must be 1 to 61 (identification bytes)."},
        {"MBPP      000000000100", "MBPP      000000000000", ""},
        {"BPRD      000000200000", "BPRD      000000000000", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to.toStdString());
        board("M25P16");
        QByteArray sfh = readFile(sim->path("M25P16.sfh"));
        sfh.replace(c.from, c.to);
        writeFile(sim->dir.path(), "M25P16.sfh", sfh);
        sim->choose("image.bin", randomBytes(300, 1));
        const int mark = sim->mark();
        sim->press(ui().btnProgram[0]);
        EXPECT_TRUE(sim->commandsSince(mark).isEmpty())
            << sim->commandsSince(mark).join(",").toStdString();
        // A value the reader already refused is said once, by the reader, and fails the run.
        EXPECT_EQ(sim->h->model.session.outcome.kind,
                  c.message.isEmpty() ? Outcome::Kind::Failed : Outcome::Kind::Refused);
        if (!c.message.isEmpty()) {
            EXPECT_EQ(sim->lastMessage(),
                      "Application Error: " + c.message + "\r\nPlease verify the file M25P16.sfh.");
        }
        EXPECT_EQ(sim->h->model.spi.State(), 0);
    }
}

TEST_P(SpiOperationsTest, AMalformedDescriptionIsReportedAndTheOperationGoesOn) {
    board("M25P16");
    QByteArray sfh = readFile(sim->path("M25P16.sfh"));
    sfh.append("RDSR      0x05\r\n");
    writeFile(sim->dir.path(), "M25P16.sfh", sfh);
    sim->press(ui().btnIDecho[0]);
    ASSERT_EQ(sim->h->prompter.shown.size(), 1);
    EXPECT_EQ(sim->h->prompter.shown[0].text,
              "Error: 13\r\nType mismatch\r\n\r\n"
              "This error has most likely been caused by an incorrect .sfh file.\r\n"
              "Please verify the file format.");
    EXPECT_EQ(sim->console(), "20 20 15 \r\n");
}

TEST_P(SpiOperationsTest, RefusesARangeBeyondTheDeviceBeforeSendingAnything) {
    board("M25P16");
    sim->choose("image.bin", randomBytes(16, 1));
    ui().txtOffset.setText("1FFFF0");
    ui().txtPrgBytes.setText("17");
    const int mark = sim->mark();
    sim->press(ui().btnProgram[0]);
    EXPECT_EQ(sim->h->prompter.shown.last().text,
              "File is too large to program from offset 0x1FFFF0\r\n17 bytes from offset "
              "0x1FFFF0 end at 0x200000, past the end of M25P16 (2097152 bytes, the last address "
              "0x1FFFFF).");
    EXPECT_TRUE(sim->commandsSince(mark).isEmpty());
    ui().txtPrgBytes.setText("16");
    sim->press(ui().btnProgram[0]);
    EXPECT_TRUE(sim->console().endsWith("SPI programming successful: 0x1FFFF0 to 0x1FFFFF \r\n"));
    EXPECT_EQ(flash(0x1FFFF0, 16), readFile(sim->path("image.bin")));
}

INSTANTIATE_TEST_SUITE_P(Acknowledgement, SpiOperationsTest,
                         ::testing::Values(Pace::Paced, Pace::Fast, Pace::Pipelined),
                         [](const auto& info) { return paceName(info.param); });
