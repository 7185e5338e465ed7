#include "BoardSimProcess.h"
#include "support/PanelFixture.h"

#include "sim/BitstreamBuilder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <gtest/gtest.h>

namespace {

// One run of the command line, its words split at blanks: its exit status, and what its
// standard output and standard error hold ("=" first: the whole of it).
struct Step {
    QString line;
    int code;
    QString out = "", err = "";
};

bool holds(const QString& got, const QString& want) {
    return want.startsWith('=') ? got == want.mid(1) : got.contains(want);
}

void run(const BoardSimProcess& board, const QList<Step>& steps) {
    for (const Step& step : steps) {
        SCOPED_TRACE(step.line.toStdString());
        const auto r = board.cli(step.line.split(' ', Qt::SkipEmptyParts));
        EXPECT_EQ(r.exitCode, step.code) << r.err.toStdString();
        EXPECT_TRUE(holds(r.out, step.out)) << r.out.toStdString();
        EXPECT_TRUE(holds(r.err, step.err)) << r.err.toStdString();
    }
}

} // namespace

// Then it loads the server and programs and verifies the parallel flash.
TEST(CliEndToEnd, ConfiguresTheFpgaAndProgramsReadsVerifiesDetectsFlashesAndErasesTheSpiFlash) {
    BoardSimProcess board;
    ASSERT_TRUE(board.started());
    const QString dir = board.folder();
    const QString bit =
        writeFile(dir, "design.bit", buildBitFile(buildConfigPayload({.size = 3000})));
    const QByteArray image = randomBytes(6000, 1);
    const QString file = writeFile(dir, "image.bin", image);
    QByteArray changed = image;
    changed[4000] = char(~changed[4000]);
    const QString back = dir + "/back.bin";
    run(board, {
                   {"connect", 0, "=firmware: compatible\nserver: not running\n"},
                   // The device question is answered No without --yes.
                   {"fpga " + bit, 2},
                   {"--yes fpga " + bit, 0, "=FPGA programmed successfully! \n"},
                   // Paced by the acknowledgement timer, as specified; fast is the default.
                   {"--paced spi M25P16 id", 0, "=20 20 15 \n"},
                   {"spi W25Q64 id", 1, "",
                    "ERROR: ID code byte read does not match expected value: EF 40 17 "},
                   // Device names in any case, offsets with the usual 0x.
                   {"--yes spi m25p16 program " + file + " --offset 0xF0", 0,
                    "SPI programming successful: 0xF0 to 0x185F \n"},
                   {"spi M25P16 verify " + file + " --offset F0", 0},
                   // A new file is written without a question. Over an existing one the question is
                   // answered No without --yes, says so, and leaves the file as it was.
                   {"spi M25P16 read " + back + " --bytes 16", 0},
                   {"spi M25P16 read " + back + " --bytes 32", 2, "",
                    "zbpu-cli: answered Cancel; run with --yes to answer OK"},
               });
    EXPECT_EQ(readFile(back), QByteArray(16, char(0xFF)));
    const QByteArray neighbour = randomBytes(3000, 3), flashed = randomBytes(5000, 4);
    const QString range = " erase --offset 0x20000 --bytes 1";
    const QString parallel = writeFile(dir, "parallel.bin", randomBytes(40000, 2));
    run(board,
        {
            {"--yes spi M25P16 read " + back + " --offset F0 --bytes 6000", 0},
            // Still taken from older scripts.
            {"--fast-ack spi M25P16 verify " + writeFile(dir, "changed.bin", changed) +
                 " --offset F0",
             1},
            // The chip detected; a neighbour in the first sector a flash touches survives.
            {"spi detect", 0, "=Detected M25P16 (20 20 15) \nid: 20 20 15\ndevice: M25P16\n"},
            {"--json spi detect", 0, R"("device":"M25P16")"},
            {"--yes spi M25P16 program " + writeFile(dir, "n.bin", neighbour) + " --offset 0x10000",
             0},
            {"spi M25P16 flash " + writeFile(dir, "flashed.bin", flashed) + " --offset 0x1F000", 0,
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
            {"--yes bpi program " + parallel + " --offset 20000", 0,
             "BPI programming successful: 40000 bytes at 0x20000\n"},
            {"bpi verify " + parallel + " --offset 20000", 0, "=BPI validated!\n"},
            {"--yes bpi program " + parallel + " --offset FFFFF0", 2, "",
             "past the end of the parallel flash"},
        });
    EXPECT_EQ(readFile(back), image);
    board.stop();
    const QByteArray flash = readFile(board.spiImage());
    ASSERT_EQ(flash.size(), 2 * 1024 * 1024);
    EXPECT_EQ(flash.mid(0xF0, image.size()), image);
    EXPECT_EQ(flash.left(0xF0), QByteArray(0xF0, char(0xFF)));
    EXPECT_EQ(flash.mid(0x10000, neighbour.size()), neighbour);
    EXPECT_EQ(flash.mid(0x1F000, 0x1000), flashed.left(0x1000));
    EXPECT_EQ(flash.mid(0x20000, 0x10000), QByteArray(0x10000, char(0xFF)));
    EXPECT_EQ(readFile(board.bpiImage()).mid(0x20000, 40000), readFile(parallel));
}

// Files in the system's words, a usage error in one line with where help is; ports listed
// and detected by name, and why one cannot be opened.
TEST(CliEndToEnd, ReadsFilesListsPortsAndSaysWhyAWordOrAPortIsRefused) {
    BoardSimProcess board, none({"--silent"});
    ASSERT_TRUE(board.started() && none.started());
    const QString d = none.folder(),
                  cli = "=zbpu-cli: ", sfh = QString(ZBPU_BIN_DIR) + "/M25P16.sfh";
    const QByteArray payload = buildConfigPayload({.size = 400});
    const QString bit = writeFile(d, "a.bit", buildBitFile(payload));
    const QString tryHelp = "\nTry 'zbpu-cli --help' for more information.\n";
    const QString length = "=length: " + QString::number(payload.size()) + "\ndevice: ";
    const QString notDetected =
        "Board not detected on board.  Please check your Com port selection.";
    run(none,
        {
            {"sfh " + sfh, 0, "RDID: 0x9F\n", "="},
            {"sfh " + sfh, 0,
             "MBPP: 0x100 (256)\nBPRD: 0x200000 (2097152)\nSECS: 0x10000 (65536)\nID: 20 20 15\n",
             "="},
            {"bitinfo " + bit, 0, length + "3s200pq208\n", "="},
            {"bitinfo " + writeFile(d, "raw.bin", payload), 0, length + "Not recognized\n", "="},
            {"bitinfo " + d + "/missing.bit", 2, "=",
             cli + d + "/missing.bit: No such file or directory\n"},
            {"bitinfo " + sfh, 2, "=",
             cli + sfh + ": not a bitstream: no .bit header and no sync word\n"},
            {"sfh " + d, 2, "=", cli + d + ": Is a directory\n"},
            {"sfh " + bit, 2, "=", cli + bit + ": not a flash description: no NIDB or BPRD line\n"},
            {"frobnicate", 2, "=", cli + "unknown command frobnicate" + tryHelp},
            {"--bogus connect", 2, "=", cli + "unknown option --bogus" + tryHelp},
            {"", 2, "=", cli + "no command given" + tryHelp},
            {"spi M25P16", 2, "=",
             cli + "spi detect, or spi DEVICE id|erase|program|read|verify|flash [FILE]" + tryHelp},
            {"--yes fpga " + d + "/missing.bit", 2, "=",
             cli + d + "/missing.bit: No such file or directory\n"},
            {"--yes spi M25P16 program " + d, 2, "=", cli + d + ": Is a directory\n"},
            {"--yes spi M25P16 read " + d + "/no/r.bin --bytes 4", 2, "=",
             cli + d + "/no/r.bin: No such file or directory\n"},
            {"--yes bpi read " + d + " --bytes 4", 2, "=", cli + d + ": Is a directory\n"},
            {"devices", 0,
             "=M25P128\nM25P16\nM25P32\nM25P64\nMX25L3206E\nMX25L6406E\nS25FL032P\nS25FL064P\n"
             "W25Q128\nW25Q32\nW25Q64\n",
             "="},
            {"--help", 0, "configure the FPGA from a bitstream"},
            {"-h", 0, "configure the FPGA from a bitstream"},
            {"help", 0, "configure the FPGA from a bitstream"},
            {"--no-board-check spi M25P99 id", 2, "",
             "no description file M25P99.sfh; the devices are M25P128, M25P16"},
            {"ports", 0, "=board  " + none.device() + "\n", "="},
            {"detect", 1, "=", "=zbpu-cli: no board answers on board\n"},
            {"connect", 1, "=", "=Warning: " + notDetected + "\n"},
            {"--json connect", 1,
             "\"message\":\"" + notDetected +
                 R"(","operation":"connect","port":"board","result":"failed")"},
            // The window's menu becomes the option.
            {"--no-board-check spi M25P16 id", 1, "=",
             "=Communication with PSoC lost: Please verify your Com port setting.\n(--port)\n"},
        });
    EXPECT_FALSE(none.cli({"--no-board-check", "spi", "M25P99", "id"}).err.contains("Try"))
        << "a refused input is not a usage error";
    EXPECT_TRUE(none.cli({"sfh", sfh}).out.startsWith("WREN: 0x06\n"));
    run(board,
        {
            {"ports", 0, "=board  " + board.device() + "  [board answers]\n", "="},
            {"detect", 0, "=board  " + board.device() + "\n", "="},
            {"--port " + board.folder() + "/gone connect", 1, "=",
             "=zbpu-cli: gone is gone: " + board.folder() +
                 "/gone does not exist (unplugged, or another path?)\n"},
            {"--port ttyNOPE connect", 2, "", "zbpu-cli: no port ttyNOPE; the ports are board"},
        });
    // Another program holds the port.
    QSerialPort holder(board.device());
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    run(board, {{"--port " + board.device() + " connect", 1, "",
                 "=zbpu-cli: board is busy: another program has it open\n"}});
    // Every program answers --help and --version without a window or a board.
    auto env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    for (const QString program : {"zbpu-cli", "zbpu", "zbpu-boardsim"})
        for (const QString option : {"--version", "--help"}) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(QString(ZBPU_BIN_DIR) + "/" + program, {option});
            ASSERT_TRUE(p.waitForFinished(10000)) << program.toStdString();
            const QString out = p.readAllStandardOutput();
            EXPECT_EQ(p.exitCode(), 0) << program.toStdString();
            EXPECT_TRUE(option == "--help" ? out.startsWith("Usage: ") && out.contains(program)
                                           : out == program + " 3.4.1\n")
                << out.toStdString();
        }
}

// A production line configures, flashes and verifies in one run, and logs each step. Every
// number is read the one way before anything is sent, each operation of a chain has only its
// own, and data that cannot reach standard output fails the run.
TEST(CliEndToEnd, RunsOperationsJoinedByPlusOnOneConnectionAndRefusesBadWordsBeforeSending) {
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

    // Refused before anything starts: a word wrong further on, a question nobody can answer;
    // once connected, with the same status and result.
    const int commands = int(board.log().count('\n'));
    const QString refused = R"("result":"refused")", a = dir + "/a.bin";
    const QString program = "--yes spi M25P16 program " + file, whole = "must be a whole number";
    run(board,
        {
            {"--yes spi M25P16 erase + spi M25P16 verify " + dir + "/none.bin", 2, "",
             "=zbpu-cli: " + dir + "/none.bin: No such file or directory\n"},
            {"spi M25P16 erase + spi M25P16 read " + dir + "/new.bin --bytes 4", 2, "",
             "=zbpu-cli: spi read asks a question and standard input is not a terminal; run with "
             "--yes to answer Yes\n"},
            {"--yes spi M25P16 erase +", 2, "", "zbpu-cli: nothing between two + (or at an end)\n"},
            {program + " --bytes 00", 2, "", "nothing to transfer"},
            {program + " --bytes 0.4", 2, "", "--bytes " + whole},
            {program + " --bytes +0", 2, "", "--bytes " + whole},
            {program + " --bytes &H10", 2, "", "--bytes " + whole},
            {program + " --bytes=99999999999", 2, "", "is larger than 0xFFFFFFFF"},
            {"--yes bpi program " + file + " --burst abc", 2, "", "--burst " + whole},
            {"--yes spi M25P16 id --poll-limit -5", 2, "", "--poll-limit " + whole},
            {"--yes bpi read " + a + " --bytes 100 + bpi read " + dir + "/b.bin", 2, "",
             "nothing to transfer: give --bytes N"},
        });
    r = board.cli({"--json", "spi", "M25P16", "erase", "+", "spi", "M25P16", "program", file});
    EXPECT_EQ(
        records(r.out),
        QStringList{
            R"({"bytes":0,"device":"M25P16","message":"spi program asks a question and standard input is not a terminal; run with --yes to answer Yes","operation":"spi program","port":null,"result":"refused"})"});
    EXPECT_EQ(board.log().count('\n'), commands) << "nothing reached the board";
    run(board, {
                   {"--json --yes spi M25P16 read " + dir + "/past.bin --offset 1FFFF0 --bytes 32",
                    2, refused},
                   {"--json --yes spi M25P16 flash " +
                        writeFile(dir, "late.hex", ":0101000042BC\n:00000001FF\n") + " --bytes 16",
                    2, refused},
                   {"--json spi M25P16 program " + file, 2, refused},
                   {program + " --offset 200000", 2, "",
                    "The offset 0x200000 lies beyond the 2097152 bytes of M25P16"},
                   {"--yes spi M25P16 erase --offset 1FFFFFFF --bytes 16", 2, "",
                    "The offset 0x1FFFFFFF lies beyond the 2097152 bytes of M25P16"},
                   {"--json spi M25P16 read - --bytes 16", 2, "",
                    "zbpu-cli: --json and a read to - both want standard output"},
               });
    EXPECT_FALSE(QFile::exists(dir + "/new.bin") || QFile::exists(a));

    // A read to standard output: the data alone there, everything else on standard error.
    r = board.cli({"--yes", "spi", "M25P16", "read", "-", "--offset", "100", "--bytes", "5000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.bytes, image);
    EXPECT_EQ(r.err, "SPI data read successfully \n");
    r = board.cli({"spi", "M25P16", "read", "-", "--bytes", "1000"}, "/dev/full");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("could not be written to standard output: No space left on device"))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("successfully"));
    board.stop();
    EXPECT_EQ(readFile(board.spiImage()).left(0x100 + image.size()),
              QByteArray(0x100, char(0xFF)) + image);
}

// On a terminal the questions are asked, and a transfer shows one line of progress.
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
    EXPECT_TRUE(r.err.startsWith(question)) << r.err.toStdString();
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
