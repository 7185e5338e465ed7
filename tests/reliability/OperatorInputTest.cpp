#include "support/SimHarness.h"

#include "panel/PanelRules.h"
#include "sim/BitstreamBuilder.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <gtest/gtest.h>

// Mistakes an operator can make in the window: numbers that are not numbers, ranges beyond the
// device or the number range, files that are missing, folders or cannot be opened, description
// files and bitstreams that are not what they claim. Each must end in a clear message with the
// flash, the operator's files and the board as they were, and the window ready for the next try.

namespace {

QByteArray pattern(int size, int seed) {
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 37 + seed * 11 + 5) & 0xFF);
    return out;
}

enum class Mode { Fpga, Spi, Bpi };
enum class Op { Program, Read, Verify };

struct OperatorInputTest : ::testing::Test {
    std::unique_ptr<SimHarness> sim;
    QByteArray spiBefore, bpiBefore;

    MainPanelControls& ui() { return sim->h->ui; }
    ScriptedPrompter& prompter() { return sim->h->prompter; }

    void board(Mode mode, BoardConfig config = {}) {
        config.serverRunning = mode == Mode::Bpi;
        config.timeScale = 0.001;
        sim = std::make_unique<SimHarness>(config);
        sim->startAndConnect();
        if (mode == Mode::Spi) {
            ui().mnuSPI.click();
            ui().cbFlash.setSelectedIndex(int(ui().cbFlash.items().indexOf("M25P16")));
        } else if (mode == Mode::Bpi) {
            ui().mnuBPI.click();
        } else {
            ui().mnuFPGA.click();
        }
        // Data already on the flash, so that an erase or a stray program shows.
        sim->board.spi().memory().replace(0, 4096, pattern(4096, 1));
        sim->board.bpiFlash().memory().replace(0, 4096, pattern(4096, 2));
        spiBefore = sim->board.spi().memory();
        bpiBefore = sim->board.bpiFlash().memory();
        prompter().shown.clear();
    }
    Control& button(Mode mode, Op op) {
        const int i = mode == Mode::Bpi ? 1 : 0;
        return op == Op::Program ? ui().btnProgram[i]
               : op == Op::Read  ? ui().btnRead[i]
                                 : ui().btnVerify[i];
    }
    static std::string label(Mode mode, Op op, const char* what) {
        return std::string(mode == Mode::Spi ? "SPI " : "BPI ") +
               (op == Op::Program ? "program "
                : op == Op::Read  ? "read "
                                  : "verify ") +
               what;
    }
    QString lastMessage() const { return sim->lastMessage(); }

    // What must hold after any refused or failed operation.
    void expectNothingChangedAndReady(Mode mode, const char* what) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(sim->h->timer.isActive());
        EXPECT_TRUE(sim->board.spi().memory() == spiBefore) << "SPI flash changed";
        EXPECT_TRUE(sim->board.bpiFlash().memory() == bpiBefore) << "parallel flash changed";
        const QStringList seen = sim->board.commandsSeen();
        EXPECT_GE(seen.lastIndexOf("load_config 0"), seen.lastIndexOf("load_config 1"))
            << "controller not released";
        const auto& s = sim->h->model.session;
        EXPECT_FALSE(s.file.isOpen());
        EXPECT_TRUE(ui().mnuFPGA.enabled() && ui().mnuSPI.enabled() && ui().mnuBPI.enabled());
        if (mode == Mode::Fpga) {
            EXPECT_EQ(sim->h->model.cfg.State(), 0);
            EXPECT_LE(s.opState.State(), OpStateObj::FpgaIdle);
            EXPECT_EQ(ui().btnCfgFPGA.enabled(), ui().txtBitFile.text() != rules::NoneSelected);
            return;
        }
        const int i = mode == Mode::Bpi;
        EXPECT_EQ(s.opState.State(), i ? OpStateObj::BpiIdle : OpStateObj::SpiIdle);
        EXPECT_EQ(i ? sim->h->model.bpi.State() : sim->h->model.spi.State(), 0);
        const bool file = (i ? ui().txtBpiFile : ui().txtSpiFile).text() != rules::NoneSelected;
        EXPECT_TRUE(ui().btnIDecho[i].enabled() && ui().btnBulkErase[i].enabled());
        EXPECT_TRUE(!i || ui().btnLoad.enabled());
        for (auto* b : {&ui().btnProgram[i], &ui().btnRead[i], &ui().btnVerify[i]})
            EXPECT_EQ(b->enabled(), file) << b->name().toStdString();
        if (i)
            expectServerListening();
    }
    // The server must not be left in the middle of a command: the next one is understood.
    void expectServerListening() {
        const qsizetype before = sim->console().size();
        ui().btnIDecho[1].click();
        sim->clock.advance(100'000);
        sim->port.deliverReceiveEvents();
        EXPECT_TRUE(sim->console().mid(before).contains("manufacturer ID"))
            << "the server no longer understands commands: "
            << sim->console().mid(before).toStdString();
    }
};

// A file that exists but cannot be opened by anyone, root included.
struct Socket {
    explicit Socket(const QString& path) {
        QLocalServer::removeServer(path);
        server.listen(path);
    }
    QLocalServer server;
};

} // namespace

// Each field's text is tried with each operation on a fresh board. A text that is not a number
// becomes "0" as it is typed, and the button then asks for a count.
TEST_F(OperatorInputTest, NumbersThatAreNotNumbersOrOutOfRangeAreRefusedWithAMessage) {
    const struct {
        const char* what;
        Control MainPanelControls::*field;
        QString text;
        QString message; // its beginning; empty: any message
        bool spiOnly;    // the parallel flash's size and wrap are the server's to judge
    } cases[] = {
        {"letters", &MainPanelControls::txtPrgBytes, "abc", "Warning: Enter bytes to", false},
        {"empty", &MainPanelControls::txtPrgBytes, "", "Warning: Enter bytes to", false},
        {"exponent", &MainPanelControls::txtPrgBytes, "1e3", "Warning: Enter bytes to", false},
        {"hexadecimal", &MainPanelControls::txtPrgBytes, "0x10", "Warning: Enter bytes to", false},
        {"separator", &MainPanelControls::txtPrgBytes, "1,000", "Warning: Enter bytes to", false},
        {"blank", &MainPanelControls::txtPrgBytes, "   ", "Warning: Enter bytes to", false},
        {"negative", &MainPanelControls::txtPrgBytes, "-5", "", false},
        {"negative one", &MainPanelControls::txtPrgBytes, "-1", "", false},
        {"beyond 32 bits", &MainPanelControls::txtPrgBytes, "99999999999", "", false},
        {"one past the largest", &MainPanelControls::txtPrgBytes, "2147483648", "", false},
        {"the largest count", &MainPanelControls::txtPrgBytes, "2147483647", "", true},
        {"beyond the device", &MainPanelControls::txtPrgBytes, "2097153", "", true},
        {"nine digits", &MainPanelControls::txtOffset, "FFFFFFFFF", "", false},
        {"above the signed range", &MainPanelControls::txtOffset, "80000000", "", false},
        {"the largest offset", &MainPanelControls::txtOffset, "7FFFFFFF", "", true},
        {"just past the SPI device", &MainPanelControls::txtOffset, "200000", "", true},
        {"many digits", &MainPanelControls::txtOffset, "1000000000000000", "", false},
    };
    for (Mode mode : {Mode::Spi, Mode::Bpi}) {
        for (Op op : {Op::Program, Op::Read, Op::Verify}) {
            for (const auto& c : cases) {
                // An SPI read without a count reads to the end of the chip.
                if ((c.spiOnly && mode == Mode::Bpi) ||
                    (mode == Mode::Spi && op == Op::Read && c.message.startsWith("Warning")))
                    continue;
                const std::string what = label(mode, op, c.what);
                board(mode);
                const QString data = sim->choose("data.bin", pattern(100, 3));
                (ui().*c.field).setText(c.text);
                if (c.message.startsWith("Warning")) {
                    EXPECT_EQ((ui().*c.field).text(), "0") << what;
                }
                sim->press(button(mode, op));
                EXPECT_TRUE(!lastMessage().isEmpty() && lastMessage().startsWith(c.message))
                    << what << ": " << lastMessage().toStdString();
                EXPECT_FALSE(sim->console().contains("successful")) << what;
                EXPECT_FALSE(sim->console().contains("validated")) << what;
                EXPECT_EQ(readFile(data), pattern(100, 3)) << what;
                expectNothingChangedAndReady(mode, what.c_str());
            }
        }
    }
}

TEST_F(OperatorInputTest, AFileThatCannotBeOpenedIsNotTakenWhenChosen) {
    const struct {
        const char* what;
        QString name;
        QString message;
    } cases[] = {
        {"in a folder that is not there", "nowhere/new.bin", "Error: 53\r\nFile not found"},
        {"a folder", "folder", "Error: 75\r\nPath/File access error"},
        {"a socket", "socket", "Error: 75\r\nPath/File access error"}};
    for (Mode mode : {Mode::Spi, Mode::Bpi}) {
        for (const auto& c : cases) {
            board(mode);
            QDir(sim->dir.path()).mkdir("folder");
            Socket socket(sim->path("socket"));
            sim->h->picker.paths << sim->path(c.name);
            ui().mnuOpenFile.click();
            EXPECT_TRUE(lastMessage().startsWith("Application Error: " + c.message)) << c.what;
            EXPECT_EQ((mode == Mode::Spi ? ui().txtSpiFile : ui().txtBpiFile).text(),
                      rules::NoneSelected);
            EXPECT_EQ(ui().txtPrgBytes.text(), "0");
            expectNothingChangedAndReady(mode, c.what);
        }
    }
}

// A name that is not there yet is taken, without a length: Read creates the file, Program and
// Verify say it is missing and change nothing.
TEST_F(OperatorInputTest, ANewFileNameIsTakenForReadWhileProgramAndVerifyRefuseIt) {
    for (Mode mode : {Mode::Spi, Mode::Bpi}) {
        for (Op op : {Op::Program, Op::Verify, Op::Read}) {
            const std::string what = label(mode, op, "into a new file");
            SCOPED_TRACE(what);
            board(mode);
            const QString path = sim->path("new.bin");
            ui().txtPrgBytes.setText("100");
            sim->h->picker.paths << path;
            ui().mnuOpenFile.click();
            EXPECT_TRUE(prompter().shown.isEmpty()) << lastMessage().toStdString();
            EXPECT_EQ((mode == Mode::Spi ? ui().txtSpiFile : ui().txtBpiFile).text(), "new.bin");
            EXPECT_EQ(ui().txtPath.text(), path);
            EXPECT_EQ(ui().txtPrgBytes.text(), "100");
            sim->press(button(mode, op));
            if (op == Op::Read) {
                EXPECT_EQ(readFile(path), (mode == Mode::Spi ? spiBefore : bpiBefore).left(100));
                EXPECT_TRUE(sim->h->model.session.outcome.succeeded());
            } else {
                EXPECT_TRUE(lastMessage().contains("File not found"))
                    << lastMessage().toStdString();
                EXPECT_FALSE(QFile::exists(path));
                expectNothingChangedAndReady(mode, what.c_str());
            }
        }
    }
}

TEST_F(OperatorInputTest, AFileThatGoesAwayAfterItWasChosenEndsTheOperationCleanly) {
    const struct {
        const char* what;
        std::function<void(SimHarness&, const QString&)> spoil;
        bool readOnly = false;
    } cases[] = {
        {"removed", [](SimHarness&, const QString& p) { QFile::remove(p); }},
        {"replaced by a folder",
         [](SimHarness&, const QString& p) { QFile::remove(p), QDir().mkdir(p); }},
        {"replaced by a socket",
         [](SimHarness&, const QString& p) {
             QFile::remove(p);
             static std::unique_ptr<Socket> s;
             s = std::make_unique<Socket>(p);
         }},
        {"a read into a missing folder",
         [](SimHarness& s, const QString&) { s.h->ui.txtPath.setText(s.path("nowhere/out")); },
         true},
    };
    for (Mode mode : {Mode::Spi, Mode::Bpi}) {
        for (Op op : {Op::Program, Op::Read, Op::Verify}) {
            for (const auto& c : cases) {
                if (c.readOnly && op != Op::Read)
                    continue;
                const std::string what = label(mode, op, c.what);
                board(mode);
                const QString data = sim->choose("data.bin", pattern(100, 3));
                c.spoil(*sim, data);
                sim->press(button(mode, op));
                if (op == Op::Read && QString(c.what) == "removed") {
                    // Reading into a file that is not there makes it.
                    const QByteArray& flash = mode == Mode::Spi ? spiBefore : bpiBefore;
                    EXPECT_EQ(readFile(data), flash.left(100)) << what;
                    expectNothingChangedAndReady(mode, what.c_str());
                    continue;
                }
                EXPECT_TRUE(lastMessage().contains("Error")) << what << lastMessage().toStdString();
                EXPECT_FALSE(sim->console().contains("successful")) << what;
                EXPECT_FALSE(sim->console().contains("validated")) << what;
                EXPECT_FALSE(sim->console().contains("complete")) << what;
                EXPECT_FALSE(QFileInfo::exists(sim->path("nowhere"))) << what;
                if (c.readOnly) {
                    EXPECT_EQ(readFile(data), pattern(100, 3)) << what;
                }
                expectNothingChangedAndReady(mode, what.c_str());
            }
        }
    }
}

TEST_F(OperatorInputTest, ADescriptionFileThatDescribesNoDeviceIsReportedAndChangesNothing) {
    QByteArray shipped;
    {
        SimHarness probe;
        shipped = readFile(probe.path("M25P16.sfh"));
    }
    QByteArray crOnly = shipped;
    crOnly.replace("\r\n", "\r");
    QByteArray binary(700, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 131 + 7) & 0xFF);
    const struct {
        const char* what;
        QByteArray text;
        bool works;
    } cases[] = {
        {"empty", "", false},
        {"binary", binary, false},
        {"cut in the middle of a value", shipped.left(shipped.indexOf("IDB       20") + 11), false},
        {"cut before the page size", shipped.left(shipped.indexOf("MBPP")), false},
        {"carriage returns only", crOnly, true},
        {"line feeds only", QByteArray(shipped).replace("\r\n", "\n"), true},
    };
    for (const auto& c : cases) {
        for (bool program : {false, true}) {
            board(Mode::Spi);
            writeFile(sim->dir.path(), "M25P16.sfh", c.text);
            const QString data = sim->choose("data.bin", pattern(100, 3));
            sim->press(program ? ui().btnProgram[0] : ui().btnIDecho[0]);
            if (c.works) {
                EXPECT_TRUE(prompter().texts().filter("sfh").isEmpty()) << c.what;
                EXPECT_TRUE(sim->console().endsWith(
                    program ? "SPI programming successful: 0x0 to 0x63 \r\n" : "20 20 15 \r\n"))
                    << c.what;
                continue;
            }
            const QStringList texts = prompter().texts();
            EXPECT_EQ(texts.filter("incorrect .sfh file").size(), 1)
                << c.what << texts.join(" | ").toStdString();
            EXPECT_FALSE(sim->console().contains("successful")) << c.what;
            EXPECT_EQ(readFile(data), pattern(100, 3));
            expectNothingChangedAndReady(Mode::Spi, c.what);
        }
    }
}

// A bitstream cut short when it is chosen is sent as it is and fails to configure; one cut short
// after it was chosen is refused before the controller waits for bytes that never come.
TEST_F(OperatorInputTest, ABitstreamShorterThanItsHeaderOrItsLengthFailsAndReleasesTheController) {
    const QByteArray whole = buildBitFile(buildConfigPayload({.size = 4096}));
    const qsizetype part = whole.indexOf("3s200");
    const struct {
        const char* what;
        QByteArray chosen;
        QByteArray sent; // the file when the button is pressed
        QString failure; // in the console or a message box
    } cases[] = {
        {"empty", "", "", ""},
        {"one byte", whole.left(1), whole.left(1), "FPGA programming failed!"},
        {"cut inside the part name", whole.left(part + 3), whole.left(part + 3),
         "FPGA programming failed!"},
        {"the header without its data", whole.left(part + 60), whole.left(part + 60),
         "FPGA programming failed!"},
        {"cut in the middle of the data", whole.left(whole.size() / 2),
         whole.left(whole.size() / 2), "FPGA programming failed!"},
        {"shrunk after it was chosen", whole, whole.left(1000), "Error: 62"},
    };
    for (const auto& c : cases) {
        board(Mode::Fpga);
        const QString path = sim->choose("design.bit", c.chosen);
        ASSERT_EQ(ui().txtFilelen.text(), QString::number(c.chosen.size())) << c.what;
        writeFile(sim->dir.path(), "design.bit", c.sent);
        if (!c.chosen.isEmpty() || ui().btnCfgFPGA.enabled()) {
            sim->press(ui().btnCfgFPGA);
            // INIT high with DONE low is the other way a configuration is reported as failed.
            const QString seen = sim->console() + prompter().texts().join("\n");
            EXPECT_TRUE(seen.contains(c.failure) || seen.contains("done did not go high"))
                << c.what << seen.toStdString();
        }
        EXPECT_FALSE(sim->console().contains("successfully")) << c.what;
        EXPECT_TRUE(prompter().titles().filter("Communication").isEmpty())
            << c.what << ": the controller was left waiting for the rest of the bitstream";
        EXPECT_FALSE(sim->board.fpga().done()) << c.what;
        EXPECT_EQ(readFile(path), c.sent);
        expectNothingChangedAndReady(Mode::Fpga, c.what);
    }
}
