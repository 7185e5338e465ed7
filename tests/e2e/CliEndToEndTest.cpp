#include "BoardSimProcess.h"
#include "support/PanelFixture.h"

#include "sim/BitstreamBuilder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <gtest/gtest.h>

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
    EXPECT_EQ(r.exitCode, 2) << "the device question is answered No without --yes";
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
    EXPECT_TRUE(r.out.endsWith("SPI programming successful: 0xF0 to 0x185F \n"));
    r = board.cli({"spi", "M25P16", "verify", file, "--offset", "F0"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString back = dir + "/back.bin";
    // A new file is written without a question. Over an existing one the question is answered
    // No without --yes, says so, and leaves the file as it was.
    r = board.cli({"spi", "M25P16", "read", back, "--bytes", "16"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readFile(back), QByteArray(16, char(0xFF)));
    r = board.cli({"spi", "M25P16", "read", back, "--bytes", "32"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("zbpu-cli: answered Cancel; run with --yes to answer OK"))
        << r.err.toStdString();
    EXPECT_EQ(readFile(back).size(), 16);
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
    // Whole sectors beyond the range are erased only when the operator says so.
    r = board.cli({"spi", "M25P16", "erase", "--offset", "0x20000", "--bytes", "1"});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("it erases 0x20000 to 0x2FFFF, 65535 bytes beyond the range asked"));
    r = board.cli({"--yes", "spi", "M25P16", "erase", "--offset", "0x20000", "--bytes", "1"});
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
}

TEST(CliEndToEnd, ListsAndDetectsPortsByNameAndSaysWhyOneCannotBeOpened) {
    BoardSimProcess board, silent({"--silent"});
    ASSERT_TRUE(board.started() && silent.started());
    const struct {
        const BoardSimProcess* on;
        QStringList args;
        int code;
        QString out, err;
    } cases[] = {
        {&board, {"ports"}, 0, "board  " + board.device() + "  [board answers]\n", ""},
        {&board, {"detect"}, 0, "board  " + board.device() + "\n", ""},
        {&silent, {"ports"}, 0, "board  " + silent.device() + "\n", ""},
        {&silent, {"detect"}, 1, "", "zbpu-cli: no board answers on board\n"},
        {&board,
         {"--port", board.folder() + "/gone", "connect"},
         1,
         "",
         "FATAL: Port Detect Error: No Com ports available\n\ngone is gone: " + board.folder() +
             "/gone does not exist (unplugged, or another path?)\n"},
        {&silent,
         {"connect"},
         1,
         "",
         "Warning: Board not detected on board.  Please check your Com port selection.\n"},
        // The window's menu becomes the option.
        {&silent,
         {"--no-board-check", "spi", "M25P16", "id"},
         1,
         "",
         "Communication with PSoC lost: Please verify your Com port setting.\n(--port)\n"},
    };
    for (const auto& c : cases) {
        const auto r = c.on->cli(c.args);
        EXPECT_EQ(r.exitCode, c.code) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.out, c.out) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.err, c.err) << c.args.join(' ').toStdString();
    }
    auto r = silent.cli({"--json", "connect"});
    EXPECT_TRUE(r.out.contains(R"("message":"Board not detected on board.  Please check your Com )"
                               R"(port selection.","operation":"connect","port":"board",)"
                               R"("result":"failed")"))
        << r.out.toStdString();
    r = board.cli({"--port", "ttyNOPE", "connect"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.startsWith("zbpu-cli: no port ttyNOPE; the ports are board"))
        << r.err.toStdString();

    // Another program holds the port.
    QSerialPort holder(board.device());
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    r = board.cli({"--port", board.device(), "connect"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "FATAL: Port Detect Error: No Com ports available\n\n"
                     "board is busy: another program has it open\n");
}

// A production line configures, flashes and verifies in one run, and logs each step.
TEST(CliEndToEnd, RunsOperationsJoinedByPlusOnOneConnectionAndStopsAtTheFirstFailure) {
    BoardSimProcess board({"-v", "--time-scale", "0.01"});
    ASSERT_TRUE(board.started());
    const QString dir = board.folder();
    const QString bit =
        writeFile(dir, "design.bit", buildBitFile(buildConfigPayload({.size = 3000})));
    const QByteArray image = randomBytes(5000, 3);
    const QString file = writeFile(dir, "image.bin", image);
    const auto records = [](const QString& out) {
        QStringList lines;
        for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
            QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            EXPECT_GE(o.take("seconds").toDouble(-1), 0) << line.toStdString();
            lines << QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
        }
        return lines;
    };

    auto r =
        board.cli({"--yes", "--json", "fpga", bit, "+", "spi", "M25P16", "program", file,
                   "--offset", "0x100", "+", "spi", "m25p16", "verify", file, "--offset", "100"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(
        records(r.out),
        (QStringList{
            QString(
                R"({"bytes":%1,"device":"3s200pq208","message":"FPGA programmed successfully!","operation":"fpga","port":"board","result":"succeeded"})")
                .arg(readFile(bit).size()),
            R"({"bytes":5000,"device":"M25P16","message":"SPI programming successful: 0x100 to 0x1487","operation":"spi program","port":"board","result":"succeeded"})",
            R"({"bytes":5000,"device":"M25P16","message":"SPI data validated","operation":"spi verify","port":"board","result":"succeeded"})"}))
        << r.out.toStdString();
    // The board was looked for and its controller checked once.
    EXPECT_EQ(board.log().count("get_config"), 1);
    EXPECT_EQ(board.log().count("get_ver"), 1);

    // The second fails: the third never runs, and the run ends with the failure's status.
    r = board.cli({"--json", "spi", "M25P16", "id", "+", "spi", "W25Q64", "id", "+", "spi",
                   "M25P16", "erase"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(
        records(r.out),
        (QStringList{
            R"({"bytes":0,"device":"M25P16","message":"20 20 15","operation":"spi id","port":"board","result":"succeeded"})",
            R"({"bytes":0,"device":"W25Q64","message":"ID code byte read does not match expected value: EF 40 17  Read: 20 20 15 That is the identification of M25P16.","operation":"spi id","port":"board","result":"failed"})"}))
        << r.out.toStdString();

    // Refused before anything starts: a word wrong further on, a question nobody can answer.
    const struct {
        QStringList args;
        int code;
        QString err;
    } refused[] = {
        {{"--yes", "spi", "M25P16", "erase", "+", "spi", "M25P16", "verify", dir + "/none.bin"},
         2,
         "zbpu-cli: cannot read " + dir + "/none.bin"},
        {{"spi", "M25P16", "erase", "+", "spi", "M25P16", "read", dir + "/new.bin", "--bytes", "4"},
         2,
         "zbpu-cli: spi read asks a question and standard input is not a terminal; run with --yes "
         "to answer Yes"},
        {{"--yes", "spi", "M25P16", "erase", "+"},
         2,
         "zbpu-cli: nothing between two + (or at an end)"},
    };
    const int commands = int(board.log().count('\n'));
    for (const auto& c : refused) {
        r = board.cli(c.args);
        EXPECT_EQ(r.exitCode, c.code) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.err.section('\n', 0, 0), c.err);
    }
    r = board.cli({"--json", "spi", "M25P16", "erase", "+", "spi", "M25P16", "program", file});
    EXPECT_EQ(
        records(r.out),
        QStringList{
            R"({"bytes":0,"device":"M25P16","message":"spi program asks a question and standard input is not a terminal; run with --yes to answer Yes","operation":"spi program","port":null,"result":"refused"})"});
    EXPECT_EQ(board.log().count('\n'), commands) << "nothing reached the board";
    EXPECT_FALSE(QFile::exists(dir + "/new.bin"));

    // A read to standard output: the data alone there, everything else on standard error.
    r = board.cli({"--yes", "spi", "M25P16", "read", "-", "--offset", "100", "--bytes", "5000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.bytes, image);
    EXPECT_EQ(r.err, "SPI data read successfully \n");
    r = board.cli({"--json", "spi", "M25P16", "read", "-", "--bytes", "16"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.startsWith("zbpu-cli: --json and a read to - both want standard output"));
    board.stop();
    EXPECT_EQ(readFile(board.spiImage()).mid(0x100, image.size()), image);
}

// On a terminal the questions are asked, and a transfer shows one line of progress.
TEST(CliEndToEnd, OnATerminalAsksItsQuestionsAndShowsOneProgressLine) {
    BoardSimProcess board({"--baud", "115200"});
    ASSERT_TRUE(board.started());
    const QByteArray image = randomBytes(12000, 4);
    const QString file = writeFile(board.folder(), "image.bin", image);
    const QString question = "Warning: The program writes 0x0 to 0x2EDF.\r\nIt is your "
                             "responsibility to ensure the sectors you are "
                             "about to program have been erased.  Is this true? [y/N] ";
    auto r = board.cliOnTerminal({"spi", "M25P16", "program", file}, "n\n");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.startsWith(question)) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("--yes"));
    r = board.cliOnTerminal({"spi", "M25P16", "program", file}, "y\n");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(question)) << r.err.toStdString();
    EXPECT_TRUE(QRegularExpression(R"(\r\x1b\[KSPI Programming 100%  11\.7 KiB of 11\.7 KiB  )"
                                   R"([0-9.]+ (B|KiB|MiB)/s  0:00 left)")
                    .match(r.err)
                    .hasMatch())
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("% done")) << "one percentage";
    EXPECT_EQ(r.out, "SPI programming successful: 0x0 to 0x2EDF \n");
    board.stop();
    EXPECT_EQ(readFile(board.spiImage()).left(image.size()), image);
}

// Every number is read the one way before anything is sent, each operation of a chain has only
// its own, and data that cannot reach standard output fails the run.
TEST(CliEndToEnd, RefusesBadNumbersAndInheritedCountsAndChecksItsOutput) {
    BoardSimProcess board({"--server-running"});
    ASSERT_TRUE(board.started());
    const QString image = writeFile(board.folder(), "image.bin", randomBytes(64, 2));
    const struct {
        QStringList args;
        QString message;
    } refused[] = {
        {{"spi", "M25P16", "program", image, "--bytes", "00"}, "nothing to transfer"},
        {{"spi", "M25P16", "program", image, "--bytes", "0.4"}, "--bytes must be a whole number"},
        {{"spi", "M25P16", "program", image, "--bytes", "+0"}, "--bytes must be a whole number"},
        {{"spi", "M25P16", "program", image, "--bytes", "&H10"}, "--bytes must be a whole number"},
        {{"spi", "M25P16", "program", image, "--bytes=99999999999"}, "is larger than 0xFFFFFFFF"},
        {{"spi", "M25P16", "program", image, "--offset", "200000"},
         "The offset 0x200000 lies beyond the 2097152 bytes of M25P16"},
        {{"spi", "M25P16", "erase", "--offset", "1FFFFFFF", "--bytes", "16"},
         "The offset 0x1FFFFFFF lies beyond the 2097152 bytes of M25P16"},
        {{"bpi", "program", image, "--burst", "abc"}, "--burst must be a whole number"},
        {{"bpi", "program", image, "--offset", "FFFFF0"}, "past the end of the parallel flash"},
        {{"spi", "M25P16", "id", "--poll-limit", "-5"}, "--poll-limit must be a whole number"},
        {{"bpi", "read", board.folder() + "/a.bin", "--bytes", "100", "+", "bpi", "read",
          board.folder() + "/b.bin"},
         "nothing to transfer: give --bytes N"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const auto r = board.cli(QStringList{"--yes"} + c.args);
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(board.folder() + "/a.bin"));
    }
    const auto full = board.cliTo("/dev/full", {"spi", "M25P16", "read", "-", "--bytes", "1000"});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_TRUE(
        full.err.contains("could not be written to standard output: No space left on device"))
        << full.err.toStdString();
    EXPECT_FALSE(full.err.contains("successfully"));
    board.stop();
    EXPECT_EQ(readFile(board.spiImage()).left(0x100), QByteArray(0x100, char(0xFF)));
}
