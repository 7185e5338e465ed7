#include "support/SimHarness.h"

#include "link/PanelRules.h"
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
    QString choose(const QString& name, const QByteArray& bytes) {
        const QString path = writeFile(sim->dir.path(), name, bytes);
        sim->h->picker.paths << path;
        ui().mnuOpenFile.click();
        return path;
    }
    Control& button(Mode mode, Op op) {
        const int i = mode == Mode::Bpi ? 1 : 0;
        return op == Op::Program ? ui().btnProgram[i]
               : op == Op::Read  ? ui().btnRead[i]
                                 : ui().btnVerify[i];
    }
    void press(Control& b) {
        ASSERT_TRUE(b.enabled()) << b.name().toStdString();
        b.click();
        sim->h->runTimer(200000);
    }
    // The last message box, or nothing.
    QString lastMessage() const {
        const auto& shown = sim->h->prompter.shown;
        return shown.isEmpty() ? QString() : shown.last().title + ": " + shown.last().text;
    }

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
        if (mode == Mode::Spi) {
            EXPECT_EQ(s.opState.State(), OpStateObj::SpiIdle);
            EXPECT_EQ(sim->h->model.spi.State(), 0);
            const bool file = ui().txtSpiFile.text() != rules::NoneSelected;
            EXPECT_TRUE(ui().btnIDecho[0].enabled() && ui().btnBulkErase[0].enabled());
            for (auto* b : {&ui().btnProgram[0], &ui().btnRead[0], &ui().btnVerify[0]})
                EXPECT_EQ(b->enabled(), file) << b->name().toStdString();
        } else if (mode == Mode::Bpi) {
            EXPECT_EQ(s.opState.State(), OpStateObj::BpiIdle);
            EXPECT_EQ(sim->h->model.bpi.State(), 0);
            const bool file = ui().txtBpiFile.text() != rules::NoneSelected;
            EXPECT_TRUE(ui().btnIDecho[1].enabled() && ui().btnBulkErase[1].enabled());
            EXPECT_TRUE(ui().btnLoad.enabled());
            for (auto* b : {&ui().btnProgram[1], &ui().btnRead[1], &ui().btnVerify[1]})
                EXPECT_EQ(b->enabled(), file) << b->name().toStdString();
            expectServerListening();
        } else {
            EXPECT_EQ(sim->h->model.cfg.State(), 0);
            EXPECT_LE(s.opState.State(), OpStateObj::FpgaIdle);
            EXPECT_EQ(ui().btnCfgFPGA.enabled(), ui().txtBitFile.text() != rules::NoneSelected);
        }
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

TEST_F(OperatorInputTest, AByteCountThatIsNotANumberBecomesZeroAndNothingStarts) {
    const struct {
        const char* what;
        QString text;
    } cases[] = {{"letters", "abc"},
                 {"empty", ""},
                 {"exponent", "1e3"},
                 {"hexadecimal", "0x10"},
                 {"thousands separator", "1,000"},
                 {"blank", "   "}};
    for (Mode mode : {Mode::Spi, Mode::Bpi}) {
        for (const auto& c : cases) {
            board(mode);
            choose("data.bin", pattern(100, 3));
            const QByteArray before = sim->board.hostBytes();
            ui().txtPrgBytes.setText(c.text);
            EXPECT_EQ(ui().txtPrgBytes.text(), "0") << c.what;
            for (Op op : {Op::Program, Op::Read, Op::Verify}) {
                press(button(mode, op));
                EXPECT_TRUE(lastMessage().startsWith("Warning: Enter bytes to")) << c.what;
            }
            EXPECT_EQ(sim->board.hostBytes(), before) << c.what;
            EXPECT_EQ(readFile(sim->path("data.bin")), pattern(100, 3));
            expectNothingChangedAndReady(mode, c.what);
        }
    }
}

TEST_F(OperatorInputTest, ANegativeOrHugeByteCountIsRefusedWithAMessage) {
    // The parallel flash's size is the server's to know: a large count there is a request.
    const struct {
        const char* what;
        QString text;
        bool spiOnly;
    } cases[] = {{"negative", "-5", false},
                 {"negative one", "-1", false},
                 {"beyond 32 bits", "99999999999", false},
                 {"one past the largest", "2147483648", false},
                 {"the largest", "2147483647", true},
                 {"beyond the device", "2097153", true}};
    for (Mode mode : {Mode::Spi, Mode::Bpi}) {
        for (Op op : {Op::Program, Op::Read, Op::Verify}) {
            for (const auto& c : cases) {
                if (c.spiOnly && mode == Mode::Bpi)
                    continue;
                const std::string what = std::string(mode == Mode::Spi ? "SPI " : "BPI ") +
                                         (op == Op::Program ? "program "
                                          : op == Op::Read  ? "read "
                                                            : "verify ") +
                                         c.what;
                board(mode);
                const QString data = choose("data.bin", pattern(100, 3));
                ui().txtPrgBytes.setText(c.text);
                press(button(mode, op));
                EXPECT_FALSE(lastMessage().isEmpty()) << what;
                EXPECT_FALSE(sim->console().contains("successful")) << what;
                EXPECT_FALSE(sim->console().contains("validated")) << what;
                if (op != Op::Read) {
                    EXPECT_EQ(readFile(data), pattern(100, 3)) << what;
                }
                expectNothingChangedAndReady(mode, what.c_str());
            }
        }
    }
}

TEST_F(OperatorInputTest, AnOffsetBeyondTheDeviceOrThe32BitRangeIsRefusedWithAMessage) {
    const struct {
        const char* what;
        QString offset;
        bool beyondRange;
    } cases[] = {{"nine digits", "FFFFFFFFF", true},
                 {"above the signed range", "80000000", true},
                 {"the largest", "7FFFFFFF", false},
                 {"just past the SPI device", "200000", false},
                 {"many leading digits", "1000000000000000", true}};
    for (Mode mode : {Mode::Spi, Mode::Bpi}) {
        for (Op op : {Op::Program, Op::Read, Op::Verify}) {
            for (const auto& c : cases) {
                if (mode == Mode::Bpi && !c.beyondRange)
                    continue; // the server's to judge: its flash is larger and may wrap
                const std::string what = std::string(mode == Mode::Spi ? "SPI " : "BPI ") + c.what;
                board(mode);
                const QString data = choose("data.bin", pattern(100, 3));
                ui().txtOffset.setText(c.offset);
                press(button(mode, op));
                EXPECT_FALSE(lastMessage().isEmpty()) << what;
                EXPECT_FALSE(sim->console().contains("successful")) << what;
                if (op != Op::Read) {
                    EXPECT_EQ(readFile(data), pattern(100, 3)) << what;
                }
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
    } cases[] = {{"missing", "missing.bin", "Error: 53\r\nFile not found"},
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

TEST_F(OperatorInputTest, AFileThatGoesAwayAfterItWasChosenEndsTheOperationCleanly) {
    const struct {
        const char* what;
        std::function<void(const QString&)> spoil;
    } cases[] = {
        {"removed", [](const QString& p) { QFile::remove(p); }},
        {"replaced by a folder", [](const QString& p) { QFile::remove(p), QDir().mkdir(p); }},
        {"replaced by a socket",
         [](const QString& p) {
             QFile::remove(p);
             static std::unique_ptr<Socket> s;
             s = std::make_unique<Socket>(p);
         }},
    };
    for (Mode mode : {Mode::Spi, Mode::Bpi}) {
        for (Op op : {Op::Program, Op::Read, Op::Verify}) {
            for (const auto& c : cases) {
                const std::string what = std::string(mode == Mode::Spi ? "SPI " : "BPI ") +
                                         (op == Op::Program ? "program "
                                          : op == Op::Read  ? "read "
                                                            : "verify ") +
                                         c.what;
                board(mode);
                const QString data = choose("data.bin", pattern(100, 3));
                c.spoil(data);
                press(button(mode, op));
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
                expectNothingChangedAndReady(mode, what.c_str());
            }
        }
    }
}

TEST_F(OperatorInputTest, AReadIntoAFileInAMissingFolderIsReportedAndWritesNothing) {
    for (Mode mode : {Mode::Spi, Mode::Bpi}) {
        board(mode);
        const QString data = choose("data.bin", pattern(100, 3));
        ui().txtPath.setText(sim->path("nowhere/out.bin"));
        press(button(mode, Op::Read));
        EXPECT_TRUE(lastMessage().contains("Error")) << lastMessage().toStdString();
        EXPECT_FALSE(QFileInfo::exists(sim->path("nowhere")));
        EXPECT_EQ(readFile(data), pattern(100, 3));
        expectNothingChangedAndReady(mode, mode == Mode::Spi ? "SPI" : "BPI");
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
        for (Control* (*pick)(MainPanelControls&) :
             {+[](MainPanelControls& u) { return &u.btnIDecho[0]; },
              +[](MainPanelControls& u) { return &u.btnProgram[0]; }}) {
            board(Mode::Spi);
            writeFile(sim->dir.path(), "M25P16.sfh", c.text);
            const QString data = choose("data.bin", pattern(100, 3));
            Control& b = *pick(ui());
            press(b);
            const bool program = &b == &ui().btnProgram[0];
            if (c.works) {
                EXPECT_TRUE(prompter().texts().filter("sfh").isEmpty()) << c.what;
                EXPECT_TRUE(sim->console().endsWith(program ? "SPI programming successful \r\n"
                                                            : "20 20 15 \r\n"))
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

TEST_F(OperatorInputTest, ABitstreamShorterThanItsHeaderFailsToConfigureAndReleasesTheController) {
    const QByteArray whole = buildBitFile(buildConfigPayload({.size = 4096}));
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"one byte", whole.left(1)},
        {"cut inside the part name", whole.left(whole.indexOf("3s200") + 3)},
        {"the header without its data", whole.left(whole.indexOf("3s200") + 60)},
        {"cut in the middle of the data", whole.left(whole.size() / 2)},
    };
    for (const auto& c : cases) {
        board(Mode::Fpga);
        const QString path = choose("short.bit", c.bytes);
        ASSERT_EQ(ui().txtFilelen.text(), QString::number(c.bytes.size())) << c.what;
        press(ui().btnCfgFPGA);
        // INIT high with DONE low is the other way a configuration is reported as failed.
        EXPECT_TRUE(sim->console().contains("FPGA programming failed!") ||
                    sim->console().contains("done did not go high"))
            << c.what << sim->console().toStdString();
        EXPECT_FALSE(sim->board.fpga().done()) << c.what;
        EXPECT_EQ(readFile(path), c.bytes);
        expectNothingChangedAndReady(Mode::Fpga, c.what);
    }
}

TEST_F(OperatorInputTest, AnEmptyBitstreamIsRefusedBeforeTheControllerIsTaken) {
    board(Mode::Fpga);
    choose("empty.bit", "");
    const int mark = sim->mark();
    if (ui().btnCfgFPGA.enabled()) {
        press(ui().btnCfgFPGA);
        EXPECT_FALSE(lastMessage().isEmpty());
    }
    EXPECT_FALSE(sim->console().contains("successfully"));
    const QStringList seen = sim->commandsSince(mark);
    EXPECT_GE(seen.lastIndexOf("load_config 0"), seen.lastIndexOf("load_config 1"));
    expectNothingChangedAndReady(Mode::Fpga, "empty");
}

TEST_F(OperatorInputTest, ABitstreamThatShrinksAfterItWasChosenIsReportedAndTheControllerReleased) {
    board(Mode::Fpga);
    const QByteArray whole = buildBitFile(buildConfigPayload({.size = 4096}));
    const QString path = choose("design.bit", whole);
    writeFile(sim->dir.path(), "design.bit", whole.left(1000));
    press(ui().btnCfgFPGA);
    EXPECT_TRUE(lastMessage().contains("Error: 62")) << lastMessage().toStdString();
    EXPECT_FALSE(sim->board.fpga().done());
    EXPECT_TRUE(prompter().titles().filter("Communication").isEmpty())
        << "the controller was left waiting for the rest of the bitstream";
    expectNothingChangedAndReady(Mode::Fpga, "shrunk");
}
