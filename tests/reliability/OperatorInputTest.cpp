#include "support/SimTest.h"

#include "panel/PanelRules.h"
#include "sim/BitstreamBuilder.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>

// An operator's mistake ends in a clear message with flash, files and board as they were.

namespace {

enum class Op { Program, Read, Verify };

struct OperatorInputTest : SimTest {
    QByteArray spiBefore, bpiBefore;
    const QByteArray data = randomBytes(100, 3);

    OperatorInputTest() { timeScale = 0.001; }
    void start(Mode mode) {
        board(mode);
        // Data already on the flash, so that an erase or a stray program shows.
        spiFlash().replace(0, 4096, randomBytes(4096, 1));
        bpiFlash().replace(0, 4096, randomBytes(4096, 2));
        spiBefore = spiFlash();
        bpiBefore = bpiFlash();
        prompter().shown.clear();
    }
    Control& button(Mode mode, Op op) {
        return op == Op::Program ? program(mode) : op == Op::Read ? read(mode) : verify(mode);
    }
    std::string label(Mode mode, Op op, const char* what) {
        const char* ops[] = {"program ", "read ", "verify "};
        return std::string(mode == Mode::Spi ? "SPI " : "BPI ") + ops[int(op)] + what;
    }
    void expectNoSuccessLine() {
        for (const char* word : {"successful", "validated", "complete"})
            EXPECT_FALSE(sim->console().contains(word)) << sim->console().toStdString();
    }

    void expectNothingChangedAndReady(Mode mode) {
        EXPECT_EQ(leftBehind(mode), QStringList());
        EXPECT_TRUE(spiFlash() == spiBefore) << "SPI flash changed";
        EXPECT_TRUE(bpiFlash() == bpiBefore) << "parallel flash changed";
        const QStringList seen = sim->board.commandsSeen();
        EXPECT_GE(seen.lastIndexOf("load_config 0"), seen.lastIndexOf("load_config 1"))
            << "controller not released";
        if (mode != Mode::Bpi)
            return;
        // The server must not be left in the middle of a command: the next one is understood.
        const qsizetype before = sim->console().size();
        ui().btnIDecho[1].click();
        sim->clock.advance(100'000);
        sim->port.deliverReceiveEvents();
        EXPECT_TRUE(sim->console().mid(before).contains("manufacturer ID"))
            << "the server no longer understands commands: "
            << sim->console().mid(before).toStdString();
    }
};

} // namespace

// A text that is not a number becomes "0" as it is typed; the button then asks for a count.
TEST_F(OperatorInputTest, NumbersThatAreNotNumbersOrOutOfRangeAreRefusedWithAMessage) {
    const auto count = &MainPanelControls::txtPrgBytes, offset = &MainPanelControls::txtOffset;
    const struct {
        const char* what;
        Control MainPanelControls::*field;
        QString text;
        bool warning; // "Enter bytes to ...", else any message
    } cases[] = {{"letters", count, "abc", true},
                 {"negative one", count, "-1", false},
                 {"beyond 32 bits", count, "99999999999", false},
                 {"one past the largest", count, "2147483648", false},
                 {"one past 32 bits", offset, "100000000", false},
                 {"above the signed range", offset, "80000000", false}};

    for (Mode mode : {Mode::Spi, Mode::Bpi})
        for (Op op : {Op::Program, Op::Read, Op::Verify})
            for (const auto& c : cases) {
                // An SPI read without a count reads to the end of the chip.
                if (mode == Mode::Spi && op == Op::Read && c.warning)
                    continue;
                SCOPED_TRACE(label(mode, op, c.what));
                start(mode);
                const QString file = sim->choose("data.bin", data);
                (ui().*c.field).setText(c.text);
                sim->press(button(mode, op));
                EXPECT_TRUE(
                    sim->lastMessage().startsWith(c.warning ? "Warning: Enter bytes to" : ""));
                EXPECT_FALSE(sim->lastMessage().isEmpty());
                expectNoSuccessLine();
                EXPECT_EQ(readFile(file), data);
                expectNothingChangedAndReady(mode);
            }
}

// A name that cannot be opened is refused when chosen; one not there is made by Read, missing to
// Program and Verify; one that turned into something else after it was chosen is an error.
TEST_F(OperatorInputTest, AFileIsTakenOnlyIfItCanBeOpenedOrMadeAndOneThatGoesAwayEndsCleanly) {
    const struct {
        const char* what;
        QString name;    // chosen through the Open menu; none: data.bin, then spoiled
        QString refused; // when chosen
        QString spoil = "";
    } cases[] = {
        {"in a folder that is not there", "nowhere/new.bin", "Error: 53\r\nFile not found"},
        {"a folder", "folder", "Error: 75\r\nPath/File access error"},
        {"a new name", "new.bin", ""},
        {"removed", "", "", "remove"},
        {"replaced by a folder", "", "", "folder"},
        {"replaced by a socket", "", "", "socket"},
        {"a read into a missing folder", "", "", "path"},
    };
    for (Mode mode : {Mode::Spi, Mode::Bpi})
        for (Op op : {Op::Program, Op::Verify, Op::Read})
            for (const auto& c : cases) {
                // Refused when chosen, before any button.
                if ((!c.refused.isEmpty() && op != Op::Program) ||
                    (c.spoil == "path" && op != Op::Read))
                    continue;
                SCOPED_TRACE(label(mode, op, c.what));
                start(mode);
                QDir(sim->dir.path()).mkdir("folder");
                QLocalServer spoiled; // a file nobody can open, root included
                const QString path = sim->path(c.name.isEmpty() ? "data.bin" : c.name);
                if (c.name.isEmpty()) {
                    sim->choose("data.bin", data);
                    if (c.spoil != "path")
                        QFile::remove(path);
                    if (c.spoil == "folder")
                        QDir().mkdir(path);
                    if (c.spoil == "socket")
                        spoiled.listen(path);
                    if (c.spoil == "path")
                        ui().txtPath.setText(sim->path("nowhere/out"));
                } else {
                    ui().txtPrgBytes.setText("100");
                    sim->h->picker.paths << path;
                    ui().mnuOpenFile.click();
                    const QString& shown =
                        (mode == Mode::Spi ? ui().txtSpiFile : ui().txtBpiFile).text();
                    EXPECT_EQ(shown, c.refused.isEmpty() ? "new.bin" : rules::NoneSelected);
                    if (!c.refused.isEmpty()) {
                        EXPECT_TRUE(
                            sim->lastMessage().startsWith("Application Error: " + c.refused));
                        expectNothingChangedAndReady(mode);
                        continue;
                    }
                    EXPECT_TRUE(prompter().shown.isEmpty()) << sim->lastMessage().toStdString();
                }
                sim->press(button(mode, op));
                const bool missing = c.spoil == "remove" || c.name == "new.bin";
                if (missing && op == Op::Read) {
                    EXPECT_EQ(readFile(path),
                              (mode == Mode::Spi ? spiBefore : bpiBefore).left(100));
                    EXPECT_TRUE(outcome().succeeded());
                } else {
                    EXPECT_TRUE(sim->lastMessage().contains(missing ? "File not found" : "Error"))
                        << sim->lastMessage().toStdString();
                    expectNoSuccessLine();
                    EXPECT_TRUE(!missing || !QFile::exists(path));
                    EXPECT_FALSE(QFileInfo::exists(sim->path("nowhere")));
                    EXPECT_TRUE(c.spoil != "path" || readFile(path) == data);
                }
                expectNothingChangedAndReady(mode);
            }
}

TEST_F(OperatorInputTest, ADescriptionFileThatDescribesNoDeviceIsReportedAndChangesNothing) {
    const QByteArray shipped = readFile(QString(ZBPU_BIN_DIR) + "/M25P16.sfh");
    // Cut in the middle of a value, or with carriage returns alone ending its lines.
    for (const bool works : {false, true}) {
        SCOPED_TRACE(works);
        start(Mode::Spi);
        writeFile(sim->dir.path(), "M25P16.sfh",
                  works ? QByteArray(shipped).replace("\r\n", "\r")
                        : shipped.left(shipped.indexOf("IDB       20") + 11));
        const QString file = sim->choose("data.bin", data);
        if (works)
            spiFlash().fill(char(0xFF));
        sim->press(ui().btnProgram[0]);
        if (works) {
            EXPECT_TRUE(prompter().texts().filter("sfh").isEmpty());
            EXPECT_TRUE(sim->console().endsWith("SPI programming successful: 0x0 to 0x63 \r\n"));
            continue;
        }
        EXPECT_EQ(prompter().texts().filter("incorrect .sfh file").size(), 1)
            << prompter().texts().join(" | ").toStdString();
        expectNoSuccessLine();
        EXPECT_EQ(readFile(file), data);
        expectNothingChangedAndReady(Mode::Spi);
    }
}

// A bitstream cut short fails to configure; one cut after it was chosen is refused before the
// controller waits for bytes that never come.
TEST_F(OperatorInputTest, ABitstreamShorterThanItsHeaderOrItsLengthFailsAndReleasesTheController) {
    const QByteArray whole = buildBitFile(buildConfigPayload({.size = 4096}));
    const QString failed = "FPGA programming failed!";
    const struct {
        const char* what;
        QByteArray chosen;
        QByteArray sent; // the file when the button is pressed; none: as chosen
        QString failure; // in the console or a message box
    } cases[] = {
        {"empty", "", "", ""},
        {"the header without its data", whole.left(whole.indexOf("3s200") + 60), "", failed},
        {"cut in the middle of the data", whole.left(whole.size() / 2), "", failed},
        {"shrunk after it was chosen", whole, whole.left(1000), "Error: 62"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start(Mode::Fpga);
        const QString path = sim->choose("design.bit", c.chosen);
        const QByteArray sent = c.sent.isEmpty() ? c.chosen : c.sent;
        writeFile(sim->dir.path(), "design.bit", sent);
        if (!c.chosen.isEmpty() || ui().btnCfgFPGA.enabled()) {
            sim->press(ui().btnCfgFPGA);
            // INIT high with DONE low is the other way a configuration is reported as failed.
            const QString seen = sim->console() + prompter().texts().join("\n");
            EXPECT_TRUE(seen.contains(c.failure) || seen.contains("done did not go high"))
                << seen.toStdString();
        }
        EXPECT_FALSE(sim->console().contains("successfully"));
        EXPECT_TRUE(prompter().titles().filter("Communication").isEmpty())
            << "the controller was left waiting for the rest of the bitstream";
        EXPECT_FALSE(sim->board.fpga().done());
        EXPECT_EQ(readFile(path), sent);
        expectNothingChangedAndReady(Mode::Fpga);
    }
}
