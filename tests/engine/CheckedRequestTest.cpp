// Operations once wrote the wrong data or to the wrong place and still said they succeeded.
#include "engine/Numbers.h"
#include "sim/BitstreamBuilder.h"
#include "spi/SpiDeviceFile.h"
#include "spi/SpiText.h"
#include "support/SimTest.h"

#include <QDir>

namespace {

using Kind = OperationRequest::Kind;

struct CheckedRequest : SimTest {};

} // namespace

TEST_F(CheckedRequest, EachConfigurationSendsItsOwnBitstream) {
    board(Mode::Fpga);
    for (int seed : {1, 2}) {
        const QByteArray bytes =
            buildBitFile(buildConfigPayload({.size = 2000 + 1000 * seed, .seed = quint64(seed)}));
        sim->choose(QString("%1.bit").arg(seed), bytes);
        sim->press(ui().btnCfgFPGA);
        EXPECT_EQ(sim->board.fpga().received(), bytes) << seed;
        EXPECT_TRUE(outcome().succeeded());
    }
    ui().mnuBPI.click();
    sim->press(ui().btnLoad);
    EXPECT_TRUE(sim->board.fpga().runsServer() && session().BpiServerRunning);
    sim->press(ui().btnIDecho[1]);
    EXPECT_TRUE(outcome().succeeded());
    EXPECT_TRUE(sim->console().contains("Flash ")) << sim->console().toStdString();
}

// Values at and past the address width and the chip's end are refused by the description or
// the range, before anything is sent; a range that sector rounding widens is asked for.
TEST_F(CheckedRequest, RangesAndDescriptionsBeyondWhatAddressesReachAreRefused) {
    board(Mode::Spi, {.spiChip = "W25Q128"});
    QByteArray sfh = readFile(sim->path("W25Q128.sfh"));
    // 16 MiB fits three address bytes; one byte more does not.
    for (const char* bprd : {"000001000000", "000001000001", "000002000000"}) {
        SCOPED_TRACE(bprd);
        const bool refused = QByteArray(bprd) != "000001000000";
        writeFile(
            sim->dir.path(), "X.sfh",
            QByteArray(sfh).replace("BPRD      000001000000", QByteArray("BPRD      ") + bprd));
        const int mark = sim->mark();
        launch(Kind::SpiRead, sim->path("out.bin"), 0xFFFFF0, 16, "X");
        EXPECT_EQ(outcome().kind, refused ? Outcome::Kind::Refused : Outcome::Kind::Succeeded);
        EXPECT_EQ(sim->commandsSince(mark).isEmpty(), refused);
        EXPECT_EQ(sim->lastMessage().contains("3 address bytes reach 16777216 bytes at most"),
                  refused)
            << sim->lastMessage().toStdString();
    }
    // A ranged erase the operator does not widen erases nothing.
    spiFlash().fill('\x5A');
    prompter().answers = {Prompter::Answer::No};
    launch(Kind::SpiSectorErase, {}, 0x100, 16, "W25Q128");
    EXPECT_EQ(outcome().kind, Outcome::Kind::Refused);
    EXPECT_EQ(prompter().texts().last(),
              "The erase takes whole sectors: it erases 0x0 to 0xFFF, 4080 bytes beyond the range "
              "asked. Erase them?");
    EXPECT_EQ(spiFlash().count('\x5A'), spiFlash().size());
}

// A rescue file is written only once an erase went out, and never over an earlier one.
TEST_F(CheckedRequest, RescueFilesNeverOverwriteAndComeOnlyAfterAnErase) {
    board(Mode::Spi, {.spiChip = "W25Q32", .wpLocked = true});
    const QString image = writeFile(sim->dir.path(), "image.bin", randomBytes(100, 1));
    launch(Kind::SpiFlash, image, 0x1010, 100, "W25Q32");
    EXPECT_EQ(outcome().kind, Outcome::Kind::Failed);
    EXPECT_FALSE(sim->console().contains("erasing")) << sim->console().toStdString();
    EXPECT_TRUE(QDir(sim->dir.path()).entryList({"image-sectors-*"}).isEmpty());

    // A flash stopped after its erase, twice: the first rescue file stays as it was.
    board(Mode::Spi, {.spiChip = "W25Q32"});
    const QString image2 = writeFile(sim->dir.path(), "image.bin", randomBytes(100, 1));
    spiFlash().replace(0x1000, 0x1000, randomBytes(0x1000, 2));
    const QByteArray expected = spiFlash().mid(0x1000, 0x1000).replace(0x10, 100, readFile(image2));
    QStringList rescued;
    for (int run = 0; run < 2; ++run) {
        bool stopped = false;
        ui().lblProgress.watch([&] {
            if (!stopped && ui().lblProgress.text().startsWith("Programming"))
                stopped = true, ui().btnStop.click();
        });
        launch(Kind::SpiFlash, image2, 0x1010, 100, "W25Q32");
        ASSERT_TRUE(stopped) << sim->console().toStdString();
        rescued = QDir(sim->dir.path()).entryList({"image-sectors-*"}, QDir::Files, QDir::Name);
        ASSERT_EQ(rescued.size(), run + 1);
    }
    EXPECT_EQ(rescued, (QStringList{"image-sectors-0x1000-2.bin", "image-sectors-0x1000.bin"}));
    EXPECT_TRUE(readFile(sim->path("image-sectors-0x1000.bin")) == expected);
}

// A description whose SECS is smaller than what the part erases: the bytes beside the span
// show it, and the flash stops before it writes anything. With the right SECS it runs.
TEST_F(CheckedRequest, AFlashStopsWhenThePartErasesMoreThanItsDescriptionSays) {
    board(Mode::Spi);
    QByteArray sfh = readFile(sim->path("M25P16.sfh"));
    sfh.replace("SECS      000000010000", "SECS      000000001000");
    writeFile(sim->dir.path(), "X.sfh", sfh);
    const QString image = writeFile(sim->dir.path(), "image.bin", randomBytes(100, 1));
    const QString stop = "The erase of %1 also changed %2, outside those sectors: it held 0x%3 "
                         "and now reads 0xFF. This part erases more than the 4096 bytes SECS "
                         "gives, so data from 0x0 to 0xFFFF, or beyond, may be lost.\r\nNothing "
                         "more was written. Set SECE and SECS in X.sfh to the part's real sector "
                         "erase, then flash again.";
    const struct {
        QString device;
        qint64 offset;
        QString stop;
    } cases[] = {
        {"X", 0x1010, stop.arg("0x1000 to 0x1FFF", "0xFE0")},
        // The span's start has no neighbour before it: the byte after the span tells.
        {"X", 0x0, stop.arg("0x0 to 0xFFF", "0x1000")},
        {"M25P16", 0x1010, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        QByteArray& memory = spiFlash();
        memory = randomBytes(int(memory.size()), 7);
        const QByteArray before = memory;
        const qsizetype mark = sim->board.spiTransactions().size();
        launch(Kind::SpiFlash, image, c.offset, 100, c.device);
        if (c.stop.isEmpty()) {
            EXPECT_TRUE(outcome().succeeded()) << outcome().message.toStdString();
            EXPECT_TRUE(memory == QByteArray(before).replace(int(c.offset), 100, readFile(image)));
            continue;
        }
        const int guard = c.offset == 0 ? 0x1000 : 0xFE0;
        EXPECT_EQ(outcome().message, c.stop.arg(spitext::hex2(quint8(before[guard]))));
        // Nothing was programmed once the erase had gone too far.
        for (const QByteArray& t : sim->board.spiTransactions().mid(mark))
            EXPECT_NE(quint8(t[0]), 0x02);
        EXPECT_TRUE(memory.left(0x10000).count(char(0xFF)) == 0x10000);
        EXPECT_TRUE(memory.mid(0x10000) == before.mid(0x10000));
    }
}

// The debug panel's values are taken at launch and cannot be edited while an operation runs.
TEST_F(CheckedRequest, TheDebugPanelIsTakenAtLaunchAndLockedMeanwhile) {
    board(Mode::Spi);
    sim->choose("image.bin", randomBytes(2000, 3));
    QList<bool> editable;
    ui().hscProgress.watch([&] {
        if (!session().opState.running())
            return;
        editable << (ui().txtSleep.enabled() || ui().txtTimeout.enabled() ||
                     ui().txtTimeoutLimit.enabled());
        // A program that empties the field meanwhile changes nothing of the run.
        ui().txtSleep.setText("");
    });
    sim->press(ui().btnProgram[0]);
    ASSERT_FALSE(editable.isEmpty());
    EXPECT_FALSE(editable.contains(true));
    EXPECT_TRUE(outcome().succeeded()) << outcome().message.toStdString();
    EXPECT_TRUE(ui().txtSleep.enabled());
    // A field that holds no number refuses the next launch before anything is sent.
    const int mark = sim->mark();
    sim->press(ui().btnProgram[0]);
    EXPECT_EQ(outcome().kind, Outcome::Kind::Refused);
    EXPECT_TRUE(sim->commandsSince(mark).isEmpty());
}

// One parser for every number of the command line: decimal or 0x for counts, hexadecimal for
// offsets; nothing else, nothing past the limit.
TEST(CommandLineNumbers, TakeDecimalOrHexadecimalAndNothingElse) {
    const std::optional<std::int64_t> no, max = 0xFFFFFFFF;
    const struct {
        const char* text;
        std::optional<std::int64_t> count, hex;
    } cases[] = {{"16", 16, 0x16},         {"0X1f", 31, 31},
                 {"ff", no, 255},          {"4294967295", max, no},
                 {"0xFFFFFFFF", max, max}, {"4294967296", no, no},
                 {"0x100000000", no, no},  {"-5", no, no},
                 {" 1", no, no},           {"", no, no},
                 {"0x", no, no},           {"١٢", no, no}};
    for (const auto& c : cases) {
        EXPECT_EQ(numbers::count(c.text, "--bytes").value, c.count) << c.text;
        EXPECT_EQ(numbers::hex(c.text, "--offset").value, c.hex) << c.text;
    }
    EXPECT_EQ(numbers::count("0.4", "--bytes").error,
              "--bytes must be a whole number (decimal, or hexadecimal after 0x), not '0.4'");
    EXPECT_EQ(numbers::hex("0x1G", "--offset").error,
              "--offset must be hexadecimal digits, not '0x1G'");
}
