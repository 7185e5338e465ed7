#include "BoardSimProcess.h"
#include "support/PanelFixture.h"

#include "sim/BitstreamBuilder.h"

#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {} // namespace

TEST(CliEndToEnd, ConfiguresTheFpgaAndProgramsReadsAndVerifiesTheSpiFlash) {
    BoardSimProcess board;
    ASSERT_TRUE(board.started());
    const QString dir = board.folder();

    auto r = board.cli({"connect"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "firmware: compatible\nserver: not running\n");

    const QString bit =
        writeFile(dir, "design.bit", buildBitFile(buildConfigPayload({.size = 3000})));
    r = board.cli({"fpga", bit});
    EXPECT_EQ(r.exitCode, 1) << "the device question is answered No without --yes";
    r = board.cli({"--yes", "fpga", bit});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "FPGA programmed successfully! \n");

    // Paced by the acknowledgement timer, as specified; fast is the default.
    r = board.cli({"--paced", "spi", "M25P16", "id"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "20 20 15 \n");
    r = board.cli({"spi", "W25Q64", "id"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(
        r.err.contains("ERROR: ID code byte read does not match expected value: EF 40 17 "));

    const QByteArray image = randomBytes(6000, 1);
    const QString file = writeFile(dir, "image.bin", image);
    // Device names in any case, offsets with the usual 0x.
    r = board.cli({"--yes", "spi", "m25p16", "program", file, "--offset", "0xF0"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith("SPI programming successful \n"));
    r = board.cli({"spi", "M25P16", "verify", file, "--offset", "F0"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString back = dir + "/back.bin";
    // Without --yes the question is answered No, says so, and leaves no file behind.
    r = board.cli({"spi", "M25P16", "read", back, "--bytes", "16"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("zbpu-cli: answered Cancel; run with --yes to answer OK"))
        << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(back));
    r = board.cli({"--yes", "spi", "M25P16", "read", back, "--offset", "F0", "--bytes", "6000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readFile(back), image);
    QByteArray changed = image;
    changed[4000] = char(~changed[4000]);
    // Still taken from older scripts.
    r = board.cli({"--fast-ack", "spi", "M25P16", "verify", writeFile(dir, "changed.bin", changed),
                   "--offset", "F0"});
    EXPECT_EQ(r.exitCode, 1);

    board.stop();
    const QByteArray flash = readFile(board.spiImage());
    ASSERT_EQ(flash.size(), 2 * 1024 * 1024);
    EXPECT_EQ(flash.mid(0xF0, image.size()), image);
    EXPECT_EQ(flash.left(0xF0), QByteArray(0xF0, char(0xFF)));
}

TEST(CliEndToEnd, DetectsTheChipFlashesKeepingItsNeighboursAndErasesARange) {
    BoardSimProcess board;
    ASSERT_TRUE(board.started());
    const QString dir = board.folder();
    auto r = board.cli({"spi", "detect"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Detected M25P16 (20 20 15) \nid: 20 20 15\ndevice: M25P16\n");

    // A neighbour in the first sector the image touches survives the flash.
    const QByteArray neighbour = randomBytes(3000, 3), image = randomBytes(5000, 4);
    r = board.cli({"--yes", "spi", "M25P16", "program", writeFile(dir, "n.bin", neighbour),
                   "--offset", "0x10000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = board.cli(
        {"spi", "M25P16", "flash", writeFile(dir, "image.bin", image), "--offset", "0x1F000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith("SPI flash programmed and validated: 0x10000 to 0x2FFFF \n"))
        << r.out.toStdString();
    r = board.cli({"spi", "M25P16", "erase", "--offset", "0x20000", "--bytes", "1"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Sector Erase confirmed: 0x20000 to 0x2FFFF \n");
    EXPECT_EQ(board.cli({"spi", "M25P16", "erase", "--offset", "0x20000"}).exitCode, 2);

    board.stop();
    const QByteArray flash = readFile(board.spiImage());
    EXPECT_EQ(flash.mid(0x10000, neighbour.size()), neighbour);
    EXPECT_EQ(flash.mid(0x1F000, 0x1000), image.left(0x1000));
    EXPECT_EQ(flash.mid(0x20000, 0x10000), QByteArray(0x10000, char(0xFF)));
}

TEST(CliEndToEnd, LoadsTheServerAndProgramsAndVerifiesTheParallelFlash) {
    BoardSimProcess board;
    ASSERT_TRUE(board.started());
    const QString dir = board.folder();
    auto r = board.cli({"bpi", "id"});
    EXPECT_EQ(r.exitCode, 1) << "no server yet";
    r = board.cli({"--yes", "bpi", "load"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = board.cli({"connect"});
    EXPECT_EQ(r.out, "firmware: compatible\nserver: running\n");
    r = board.cli({"bpi", "id"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(r.out.isEmpty());

    const QByteArray image = randomBytes(40000, 2);
    const QString file = writeFile(dir, "image.bin", image);
    r = board.cli({"--yes", "bpi", "program", file, "--offset", "20000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = board.cli({"bpi", "verify", file, "--offset", "20000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "BPI validated!\n");
    board.stop();
    EXPECT_EQ(readFile(board.bpiImage()).mid(0x20000, image.size()), image);
}

TEST(CliEndToEnd, ReadsHeadersAndDescriptionsAndRefusesBadWords) {
    QTemporaryDir dir;
    const QString bit =
        writeFile(dir.path(), "a.bit", buildBitFile(buildConfigPayload({.size = 400})));
    BoardSimProcess none({"--silent"});
    auto r = none.cli({"bitinfo", bit});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QString("length: %1\ndevice: 3s200pq208\n").arg(readFile(bit).size()));
    r = none.cli({"sfh", QString(ZBPU_BIN_DIR) + "/M25P16.sfh"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("MBPP: 256\nBPRD: 2097152\nABSZ: 3\n"));
    EXPECT_TRUE(r.out.endsWith("IDM1: 32\nIDM2: 32\nIDM3: 21\n"));
    const struct {
        QStringList args;
        int code;
    } cases[] = {{{"bitinfo", dir.path() + "/missing.bit"}, 2},
                 {{"sfh", dir.path()}, 2},
                 {{"frobnicate"}, 2},
                 {{"--bogus", "connect"}, 2},
                 {{"spi", "M25P16"}, 2},
                 {{"--yes", "fpga", dir.path() + "/missing.bit"}, 2},
                 {{"connect"}, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(none.cli(c.args).exitCode, c.code) << c.args.join(' ').toStdString();
    for (const char* help : {"--help", "-h", "help"}) {
        r = none.cli({help});
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_TRUE(r.out.contains("configure the FPGA from a bitstream")) << help;
    }
    r = none.cli({"--version"});
    EXPECT_EQ(r.out, "zbpu-cli 3.4.1\n");
    r = none.cli({"--no-board-check", "spi", "M25P99", "id"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("no description file M25P99.sfh; the devices are M25P128, M25P16"))
        << r.err.toStdString();

    // The server bitstream's writer takes no option for the file to write.
    for (const auto& [arg, code] : {std::pair{"--help", 0}, std::pair{"-x", 2}}) {
        QProcess mk;
        mk.setWorkingDirectory(dir.path());
        mk.start(QString(ZBPU_BIN_DIR) + "/zbpu-mkserver", {arg});
        ASSERT_TRUE(mk.waitForFinished(10000));
        EXPECT_EQ(mk.exitCode(), code) << arg;
        EXPECT_FALSE(QFile::exists(dir.path() + "/" + arg)) << arg;
    }
}
