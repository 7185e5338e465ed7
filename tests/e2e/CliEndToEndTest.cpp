#include "BoardSimProcess.h"
#include "support/PanelFixture.h"

#include "sim/BitstreamBuilder.h"

#include <QRegularExpression>
#include <QSerialPort>
#include <gtest/gtest.h>

namespace {

// One run of the command line, its words split at blanks: its exit status, and what its
// standard output and standard error hold ("=" first: the whole of it). "~/" is the board's
// folder; a JSON record's time is S once it is a number of seconds.
struct Step {
    QString line;
    int code;
    QString out = "", err = "";
};

void run(const BoardSimProcess& board, const QList<Step>& steps) {
    const QString folder = board.folder() + "/";
    for (const Step& step : steps) {
        SCOPED_TRACE(step.line.toStdString());
        auto r = board.cli(QString(step.line).replace("~/", folder).split(' ', Qt::SkipEmptyParts));
        r.out.replace(QRegularExpression(R"("seconds":\d+(\.\d+)?\})"), R"("seconds":S})");
        EXPECT_EQ(r.exitCode, step.code) << r.err.toStdString();
        for (auto [got, want] : {std::pair{r.out, step.out}, {r.err, step.err}}) {
            want.replace("~/", folder);
            EXPECT_TRUE(want.startsWith('=') ? got == want.mid(1) : got.contains(want))
                << got.toStdString();
        }
    }
}

} // namespace

TEST(CliEndToEnd, RunsEachOperationAndChainsThemByPlusRefusingBadWordsBeforeSending) {
    BoardSimProcess board({"-v"});
    ASSERT_TRUE(board.started());
    const QString dir = board.folder();
    const auto put = [&](const char* name, const QByteArray& bytes) {
        return writeFile(dir, name, bytes), bytes;
    };
    const QByteArray bit = put("design.bit", buildBitFile(buildConfigPayload({.size = 3000})));
    put("late.hex", ":0101000042BC\n:00000001FF\n");
    const QByteArray image = put("image.bin", randomBytes(6000, 1));
    const QByteArray parallel = put("parallel.bin", randomBytes(40000, 2));
    const QByteArray neighbour = put("n.bin", randomBytes(3000, 3));
    const QByteArray flashed = put("flashed.bin", randomBytes(5000, 4));
    put("changed.bin", QByteArray(image).replace(4000, 1, QByteArray(1, char(~image[4000]))));
    const QString range = " erase --offset 0x20000 --bytes 1";
    run(board, {
                   {"connect", 0, "=firmware: compatible\nserver: not running\n"},
                   // The device question is answered No without --yes.
                   {"fpga ~/design.bit", 2},
                   {"--yes fpga ~/design.bit", 0, "=FPGA programmed successfully! \n"},
                   // Paced by the acknowledgement timer; fast is the default.
                   {"--paced spi M25P16 id", 0, "=20 20 15 \n"},
                   {"spi W25Q64 id", 1, "",
                    "ERROR: ID code byte read does not match expected value: EF 40 17 "},
                   // Device names in any case, offsets with the usual 0x.
                   {"--yes spi m25p16 program ~/image.bin --offset 0xF0", 0,
                    "SPI programming successful: 0xF0 to 0x185F \n"},
                   // A new file is written without a question. Over an existing one the question is
                   // answered No without --yes, says so, and leaves the file as it was.
                   {"spi M25P16 read ~/back.bin --bytes 16", 0},
                   {"spi M25P16 read ~/back.bin --bytes 32", 2, "",
                    "zbpu-cli: answered Cancel; run with --yes to answer OK"},
               });
    EXPECT_EQ(readFile(dir + "/back.bin"), QByteArray(16, char(0xFF)));
    run(board,
        {
            {"--yes spi M25P16 read ~/back.bin --offset F0 --bytes 6000", 0},
            // Still taken from older scripts.
            {"--fast-ack spi M25P16 verify ~/changed.bin --offset F0", 1},
            // The chip detected; a neighbour in the first sector a flash touches survives.
            {"spi detect", 0, "=Detected M25P16 (20 20 15) \nid: 20 20 15\ndevice: M25P16\n"},
            {"--yes spi M25P16 program ~/n.bin --offset 0x10000", 0},
            {"spi M25P16 flash ~/flashed.bin --offset 0x1F000", 0,
             "SPI flash programmed and validated: 0x10000 to 0x2FFFF \n"},
            // Whole sectors beyond the range are erased only when the operator says so.
            {"spi M25P16" + range, 2, "",
             "it erases 0x20000 to 0x2FFFF, 65535 bytes beyond the range asked"},
            {"--yes spi M25P16" + range, 0, "=Sector Erase confirmed: 0x20000 to 0x2FFFF \n"},
            {"spi M25P16 erase --offset 0x20000", 2},
            // Then the parallel flash, through the server.
            {"bpi id", 1}, // no server yet
            {"--yes bpi load", 0},
            {"connect", 0, "=firmware: compatible\nserver: running\n"},
            {"bpi id", 0, "\n"},
            {"--yes bpi program ~/parallel.bin --offset 20000", 0,
             "BPI programming successful: 40000 bytes at 0x20000\n"},
            {"bpi verify ~/parallel.bin --offset 20000", 0, "=BPI validated!\n"},
            {"--yes bpi program ~/parallel.bin --offset FFFFF0", 2, "",
             "past the end of the parallel flash"},
            {"ports", 0, "=board  ~/board  [board answers]\n", "="},
            {"detect", 0, "=board  ~/board\n", "="},
            {"--port ~/gone connect", 1, "=",
             "=zbpu-cli: gone is gone: ~/gone does not exist (unplugged, or another path?)\n"},
            {"--port ttyNOPE connect", 2, "", "zbpu-cli: no port ttyNOPE; the ports are board"},
        });
    // Chained by +, on one connection. Every number is read the one way before anything is sent,
    // each operation of a chain has only its own, and data that cannot reach standard output
    // fails the run.
    const QString program = "--yes spi M25P16 program ~/image.bin",
                  whole = "must be a whole number";
    const QString question = "spi program asks a question and standard input is not a terminal; "
                             "run with --yes to answer Yes";
    const auto configs = board.log().count("get_config"), versions = board.log().count("get_ver");
    run(board,
        {
            {"--yes --json fpga ~/design.bit + spi M25P16 program ~/image.bin --offset 0x40000 + "
             "spi m25p16 verify ~/image.bin --offset 40000",
             0,
             "=" +
                 QString(
                     R"({"bytes":%1,"device":"3s200pq208","message":"FPGA programmed successfully!","operation":"fpga","port":"board","result":"succeeded","seconds":S}
{"bytes":6000,"device":"M25P16","message":"SPI programming successful: 0x40000 to 0x4176F","operation":"spi program","port":"board","result":"succeeded","seconds":S}
{"bytes":6000,"device":"M25P16","message":"SPI data validated","operation":"spi verify","port":"board","result":"succeeded","seconds":S}
)")
                     .arg(bit.size())},
            // The second fails: the third never runs, and the run ends with the failure's status.
            {"--json spi M25P16 id + spi W25Q64 id + spi M25P16 erase", 1,
             R"(={"bytes":0,"device":"M25P16","message":"20 20 15","operation":"spi id","port":"board","result":"succeeded","seconds":S}
{"bytes":0,"device":"W25Q64","message":"ID code byte read does not match expected value: EF 40 17  Read: 20 20 15 That is the identification of M25P16.","operation":"spi id","port":"board","result":"failed","seconds":S}
)"},
        });
    // The board was looked for and its controller checked once a run.
    EXPECT_EQ(board.log().count("get_config"), configs + 2);
    EXPECT_EQ(board.log().count("get_ver"), versions + 2);

    // Refused before anything starts: a word wrong further on, a question nobody can answer;
    // once connected, with the same status and result.
    const int commands = int(board.log().count('\n'));
    run(board,
        {
            {"--yes spi M25P16 erase + spi M25P16 verify ~/none.bin", 2, "",
             "=zbpu-cli: ~/none.bin: No such file or directory\n"},
            {"spi M25P16 erase + spi M25P16 read ~/new.bin --bytes 4", 2, "",
             "=zbpu-cli: spi read asks a question and standard input is not a terminal; run with "
             "--yes to answer Yes\n"},
            {"--yes spi M25P16 erase +", 2, "", "zbpu-cli: nothing between two + (or at an end)\n"},
            {"--json spi M25P16 erase + spi M25P16 program ~/image.bin", 2,
             R"(={"bytes":0,"device":"M25P16","message":")" + question +
                 R"(","operation":"spi program","port":null,"result":"refused","seconds":S})" +
                 "\n"},
            {program + " --bytes 00", 2, "", "nothing to transfer"},
            {program + " --bytes=99999999999", 2, "", "is larger than 0xFFFFFFFF"},
            {"--yes bpi program ~/image.bin --burst abc", 2, "", "--burst " + whole},
            {"--yes spi M25P16 id --poll-limit -5", 2, "", "--poll-limit " + whole},
            {"--yes bpi read ~/a.bin --bytes 100 + bpi read ~/b.bin", 2, "",
             "nothing to transfer: give --bytes N"},
        });
    EXPECT_EQ(board.log().count('\n'), commands) << "nothing reached the board";
    const QString refused = R"("result":"refused")";
    run(board,
        {
            {"--json --yes spi M25P16 read ~/past.bin --offset 1FFFF0 --bytes 32", 2, refused},
            {"--json --yes spi M25P16 flash ~/late.hex --bytes 16", 2, refused},
            {"--json spi M25P16 program ~/image.bin", 2, refused},
            {program + " --offset 200000", 2, "",
             "The offset 0x200000 lies beyond the 2097152 bytes of M25P16"},
            {"--yes spi M25P16 erase --offset 1FFFFFFF --bytes 16", 2, "",
             "The offset 0x1FFFFFFF lies beyond the 2097152 bytes of M25P16"},
            {"--json spi M25P16 read - --bytes 16", 2, "",
             "zbpu-cli: --json and a read to - both want standard output"},
        });
    for (const char* name : {"/new.bin", "/a.bin", "/past.bin"})
        EXPECT_FALSE(QFile::exists(dir + name)) << name;

    // A read to standard output: the data alone there, everything else on standard error.
    auto r =
        board.cli({"--yes", "spi", "M25P16", "read", "-", "--offset", "40000", "--bytes", "6000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.bytes, image);
    EXPECT_EQ(r.err, "SPI data read successfully \n");
    r = board.cli({"spi", "M25P16", "read", "-", "--bytes", "1000"}, "/dev/full");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("could not be written to standard output: No space left on device"))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("successfully"));
    // Another program holds the port.
    QSerialPort holder(board.device());
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    run(board, {{"--port ~/board connect", 1, "",
                 "=zbpu-cli: board is busy: another program has it open\n"}});
    EXPECT_EQ(readFile(dir + "/back.bin"), image);
    board.stop();
    // All else erased: the sector erase took the flash's tail, nothing refused was written.
    const QByteArray spi = QByteArray(2 * 1024 * 1024, char(0xFF))
                               .replace(0xF0, image.size(), image)
                               .replace(0x10000, neighbour.size(), neighbour)
                               .replace(0x1F000, 0x1000, flashed.left(0x1000))
                               .replace(0x40000, image.size(), image);
    EXPECT_TRUE(readFile(board.spiImage()) == spi);
    EXPECT_EQ(readFile(board.bpiImage()).mid(0x20000, 40000), parallel);
}

// Files in the system's words, a usage error in one line with where help is.
TEST(CliEndToEnd, ReadsFilesListsPortsAndSaysWhyAWordOrAPortIsRefused) {
    BoardSimProcess none({"--silent"});
    ASSERT_TRUE(none.started());
    const QString cli = "=zbpu-cli: ", sfh = QString(ZBPU_BIN_DIR) + "/M25P16.sfh";
    const QByteArray payload = buildConfigPayload({.size = 400});
    writeFile(none.folder(), "a.bit", buildBitFile(payload));
    writeFile(none.folder(), "raw.bin", payload);
    const QString tryHelp = "\nTry 'zbpu-cli --help' for more information.\n";
    const QString length = "=length: " + QString::number(payload.size()) + "\ndevice: ";
    const QString missing = cli + "~/missing.bit: No such file or directory\n";
    run(none,
        {
            {"sfh " + sfh, 0,
             "MBPP: 0x100 (256)\nBPRD: 0x200000 (2097152)\nSECS: 0x10000 (65536)\nID: 20 20 15\n",
             "="},
            {"bitinfo ~/a.bit", 0, length + "3s200pq208\n", "="},
            {"bitinfo ~/raw.bin", 0, length + "Not recognized\n", "="},
            {"bitinfo " + sfh, 2, "=",
             cli + sfh + ": not a bitstream: no .bit header and no sync word\n"},
            {"sfh ~/a.bit", 2, "=",
             cli + "~/a.bit: not a flash description: no NIDB or BPRD line\n"},
            {"frobnicate", 2, "=", cli + "unknown command frobnicate" + tryHelp},
            {"--bogus connect", 2, "=", cli + "unknown option --bogus" + tryHelp},
            {"", 2, "=", cli + "no command given" + tryHelp},
            {"spi M25P16", 2, "=",
             cli + "spi detect, or spi DEVICE id|erase|program|read|verify|flash [FILE]" + tryHelp},
            {"--yes fpga ~/missing.bit", 2, "=", missing},
            {"--yes spi M25P16 program ~/", 2, "=", cli + "~/: Is a directory\n"},
            {"--yes spi M25P16 read ~/no/r.bin --bytes 4", 2, "=",
             cli + "~/no/r.bin: No such file or directory\n"},
            {"devices", 0,
             "=M25P128\nM25P16\nM25P32\nM25P64\nMX25L3206E\nMX25L6406E\nS25FL032P\nS25FL064P\n"
             "W25Q128\nW25Q32\nW25Q64\n",
             "="},
            // A refused input, not a usage error: no help is offered.
            {"--no-board-check spi M25P99 id", 2, "=",
             cli +
                 "no description file M25P99.sfh; the devices are M25P128, M25P16, M25P32, "
                 "M25P64, MX25L3206E, MX25L6406E, S25FL032P, S25FL064P, W25Q128, W25Q32, W25Q64\n"},
            {"ports", 0, "=board  ~/board\n", "="},
            {"detect", 1, "=", "=zbpu-cli: no board answers on board\n"},
            {"connect", 1, "=",
             "=Warning: Board not detected on board.  Please check your Com port selection.\n"},
            // The window's menu becomes the option.
            {"--no-board-check spi M25P16 id", 1, "=",
             "=Communication with PSoC lost: Please verify your Com port setting.\n(--port)\n"},
        });
    EXPECT_TRUE(none.cli({"sfh", sfh}).out.startsWith("WREN: 0x06\n"));
}

TEST(CliEndToEnd, OnATerminalAsksItsQuestionsAndShowsOneProgressLine) {
    BoardSimProcess board({"--baud", "115200"});
    ASSERT_TRUE(board.started());
    const QByteArray image = randomBytes(12000, 4);
    const QString file = writeFile(board.folder(), "image.bin", image);
    const QString question = "\r\x1b[KWarning: The program writes 0x0 to 0x2EDF.\r\nIt is your "
                             "responsibility to ensure the sectors you are "
                             "about to program have been erased.  Is this true? [y/N] ";
    auto r = board.cliOnTerminal({"spi", "M25P16", "program", file}, "n\n");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.startsWith(question)) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("--yes"));
    r = board.cliOnTerminal({"spi", "M25P16", "program", file}, "y\n");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QRegularExpression(R"(\r\x1b\[KSPI Programming 100%  11\.7 KiB of 11\.7 KiB  )"
                                   R"([0-9.]+ (B|KiB|MiB)/s  0:00 left)")
                    .match(r.err)
                    .hasMatch())
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("% done")) << "one percentage";
    // No rate, and so no time left, beyond what 115200 baud 8N1 carries: 11.25 KiB/s.
    const QRegularExpression rate(R"(([0-9.]+) (B|KiB|MiB)/s)");
    for (auto m = rate.globalMatch(r.err); m.hasNext();) {
        const auto one = m.next();
        const double scale = one.captured(2) == "B" ? 1 : one.captured(2) == "KiB" ? 1024 : 1 << 20;
        EXPECT_LE(one.captured(1).toDouble() * scale, 11520 + 52) << one.captured(0).toStdString();
    }
    EXPECT_EQ(r.out, "SPI programming successful: 0x0 to 0x2EDF \n");
    board.stop();
    EXPECT_EQ(readFile(board.spiImage()).left(image.size()), image);
}
