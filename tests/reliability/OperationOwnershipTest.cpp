#include "support/SimTest.h"

#include "sim/BitstreamBuilder.h"

// Nothing the operator does while an operation runs may harm it; every end leaves a clean state.

namespace {

struct OperationOwnership : SimTest {
    OperationOwnership() { timeScale = 0.001; }
    void start(Mode mode) {
        board(mode);
        sim->h->model.setCloseWindow([this] { sim->h->model.unload(); });
    }
    // The operator acts once, between two timer ticks or when a BPI transfer yields.
    void pressMeddling(Control& button, const std::function<void()>& meddle, int atTick = 40) {
        bool done = false;
        const auto once = [&] {
            if (!done) {
                done = true;
                meddle();
            }
        };
        // A BPI launch lets the window redraw once before the transfer starts.
        int calls = 0;
        sim->h->model.setProcessEvents([&] {
            if (++calls == 2)
                once();
        });
        button.click();
        for (int tick = 0; sim->h->timer.isActive() && tick < 200000; ++tick) {
            sim->clock.advance(std::int64_t(sim->h->timer.interval()) * 1000);
            sim->h->timer.fire();
            if (tick == atTick)
                once();
        }
        sim->h->model.setProcessEvents({});
        EXPECT_TRUE(done) << "the operation ended before the operator acted";
    }
    // One a word: "name" clicks, "name=text" types, "name+c" presses a key, "choose" picks another
    // file, "close" is the close box and "interrupt" Ctrl-C on the command line.
    void act(const QString& actions) {
        for (const QString& word : actions.split(' ')) {
            const QString name = word.section('=', 0, 0).section('+', 0, 0);
            if (word == "close")
                sim->h->model.unload();
            else if (word == "interrupt")
                session().interrupted = [] { return true; };
            else if (word == "choose")
                sim->choose("other.bin", randomBytes(64, 9));
            else if (word.contains('='))
                sim->control(name).setText(word.section('=', 1));
            else if (word.contains('+'))
                sim->control(name).keyPress(word.section('+', 1)[0].unicode());
            else
                sim->control(name).click();
        }
    }
};
} // namespace

TEST_F(OperationOwnership, OperatorActionsInTheMiddleChangeNothingTheOperationDoes) {
    const struct {
        const char* what;
        Mode mode;
        const char* actions; // as act() takes them
    } cases[] = {
        {"SPI: Program, ID Check and a mode switch clicked", Mode::Spi,
         "btnProgram_0 btnIDecho_0 mnuFPGA btnLoad"},
        {"SPI: typing in Char mode, Send and Send Ascii Table", Mode::Spi,
         "rbTransmitMode_0 txtSendView+e txtSendView=help btnTransmitWnd btnSendBlock"},
        {"BPI: a keystroke in the count, then Bulk Erase and Program", Mode::Bpi,
         "txtPrgBytes=30001 btnBulkErase_1 btnProgram_1"},
        {"BPI: another file chosen, then Read", Mode::Bpi, "choose btnRead_1"},
        {"BPI: the Comm dialog and the terminal", Mode::Bpi,
         "mnuComm rbTransmitMode_0 txtSendView+e btnSendBlock"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start(c.mode);
        const QByteArray image = randomBytes(3000, 1);
        const QString path = sim->choose("image.bin", image);
        const int pickerAsked = int(sim->h->picker.asked.size());
        const QByteArray before = sim->board.hostBytes();
        pressMeddling(program(c.mode), [&] { act(c.actions); });
        EXPECT_EQ(sim->console(),
                  c.mode == Mode::Spi ? "SPI programming successful: 0x0 to 0xBB7 \r\n" : "");
        EXPECT_TRUE(session().outcome.succeeded()) << session().outcome.message.toStdString();
        EXPECT_EQ(sim->h->picker.asked.size(), pickerAsked) << "a file dialog was offered";
        EXPECT_EQ(sim->h->prompter.shown.size(), 1)
            << sim->h->prompter.texts().join("|").toStdString();
        if (c.mode == Mode::Spi) {
            EXPECT_EQ(sim->board.spi().memory().mid(0, 3000), image);
            EXPECT_EQ(sim->board.spi().memory().mid(0x1000, 16), QByteArray(16, char(0xFF)));
            for (const QString& command : sim->board.commandsSeen())
                EXPECT_FALSE(command.contains("help") || command.contains("sf_transfer -"));
        } else {
            EXPECT_EQ(sim->board.bpiFlash().memory().mid(0, 3000), image);
            const QByteArray sent = sim->board.hostBytes().mid(before.size());
            EXPECT_TRUE(sent.startsWith("w\r")) << sent.left(8).toHex().toStdString();
            // One header, one stream of bursts, then the read-back: no command in the middle.
            EXPECT_EQ(sent.size(), 2 + 12 + 3000 + 2 + 8);
        }
        EXPECT_EQ(leftBehind(c.mode), QStringList());
        EXPECT_EQ(readFile(path), image);
    }
}

// No loop may spin on a closed port, and no box may come after the window has gone.
TEST_F(OperationOwnership, StopDisconnectOrClosingInTheMiddleEndsTheOperationCleanly) {
    const QString stopped = "Operation abandoned: stopped by the operator.";
    const QString portClosed = "Operation abandoned: the port was closed.";
    const QString windowClosed = "Operation abandoned: the window was closed.";
    const QString interrupted = "Operation abandoned: interrupted.";
    const struct {
        const char* what;
        Mode mode;
        bool read;          // a parallel flash read rather than a program
        const char* action; // as act() takes them
        QString line;
    } cases[] = {
        {"Stop during a BPI program", Mode::Bpi, false, "btnStop", stopped},
        {"Stop during an SPI program", Mode::Spi, false, "btnStop", stopped},
        {"Disconnect during a BPI program", Mode::Bpi, false, "btnDisconnect", portClosed},
        {"Disconnect during a BPI read", Mode::Bpi, true, "btnDisconnect", portClosed},
        {"Exit during a BPI program", Mode::Bpi, false, "mnuExit", windowClosed},
        {"the close box during a BPI read", Mode::Bpi, true, "close", windowClosed},
        {"Disconnect during an SPI program", Mode::Spi, false, "btnDisconnect", portClosed},
        {"Exit during an SPI program", Mode::Spi, false, "mnuExit", windowClosed},
        {"an interrupt during an SPI program", Mode::Spi, false, "interrupt", interrupted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start(c.mode);
        sim->choose("image.bin", randomBytes(6000, 1));
        // The board's prompt, without a line end of its own.
        ui().txtRecvView.setText("PSoC>");
        const int boxes = int(sim->h->prompter.shown.size());
        const int mark = sim->mark();
        const std::int64_t start = sim->clock.nowUs();
        Control& button = c.read ? read(c.mode) : program(c.mode);
        auto stopShown = std::make_shared<bool>(false);
        Control& stopButton = ui().btnStop;
        stopButton.watch([stopShown, &stopButton] { *stopShown |= stopButton.visible(); });
        pressMeddling(button, [&] { act(c.action); });
        EXPECT_TRUE(*stopShown);
        EXPECT_FALSE(ui().btnStop.visible());
        EXPECT_LT(sim->clock.nowUs() - start, 5'000'000) << "a loop went on on a closed port";
        // A read's file is left as it was, and the console says so.
        const QString file = c.read ? "The read did not finish: " + sim->path("image.bin") +
                                          " was left as it was, and the partial data "
                                          "discarded.\r\n"
                                    : QString();
        EXPECT_EQ(sim->console(), "PSoC>\r\n" + file + c.line + "\r\n");
        EXPECT_TRUE(!c.read || readFile(sim->path("image.bin")) == randomBytes(6000, 1));
        EXPECT_EQ(session().outcome.kind, Outcome::Kind::Abandoned);
        // The question before the operation is the only box.
        EXPECT_EQ(sim->h->prompter.shown.size(), boxes + 1)
            << sim->h->prompter.texts().join("|").toStdString();
        const bool stops = c.line == stopped || c.line == interrupted;
        EXPECT_EQ(sim->port.isOpen(), stops);
        if (c.mode == Mode::Spi) {
            EXPECT_EQ(sim->commandsSince(mark).mid(sim->commandsSince(mark).size() - 2),
                      (QStringList{"drive_prog 1", "load_config 0"}));
        }
        // A stop finishes the server's transfer: it reads commands again, with no new load.
        EXPECT_EQ(session().BpiServerRunning, c.mode == Mode::Bpi && stops);
        EXPECT_EQ(leftBehind(c.mode), QStringList());
    }
}

// Filler lets the controller or server read commands again; a design cut short is cleared.
TEST_F(OperationOwnership, AStopFinishesTheTransferUnderWayAndASecondOneLeaves) {
    // An FPGA download or a parallel flash program, stopped once or twice.
    for (const auto& [fpga, twice] :
         {std::pair{true, false}, {true, true}, {false, false}, {false, true}}) {
        SCOPED_TRACE(testing::Message() << "FPGA " << fpga << ", twice " << twice);
        const QString who = fpga ? "controller" : "BPI server";
        start(fpga ? Mode::Spi : Mode::Bpi);
        const QByteArray image =
            fpga ? buildBitFile(buildConfigPayload({.size = 200000})) : randomBytes(100 * 1024, 1);
        if (fpga)
            ui().mnuFPGA.click();
        sim->choose(fpga ? "design.bit" : "image.bin", image);
        ui().txtRecvView.setText("");
        qsizetype sentAtStop = -1;
        QStringList shown;
        ui().hscProgress.watch([&] {
            if (sentAtStop < 0 && ui().hscProgress.value() >= 40) {
                sentAtStop = sim->board.hostBytes().size();
                ui().btnStop.click();
            }
        });
        ui().lblStatus.watch([&] {
            if (ui().lblStatus.text().startsWith("Stopping") && shown.isEmpty()) {
                shown << ui().lblStatus.text();
                if (twice)
                    ui().btnStop.click();
            }
        });
        sim->press(fpga ? ui().btnCfgFPGA : ui().btnProgram[1]);
        ASSERT_GE(sentAtStop, 0);
        ASSERT_EQ(shown.size(), 1);
        // The time shown is what the rest takes at 115200 baud.
        const int left = shown[0].section(", ", 1).section(' ', 0, 0).toInt();
        EXPECT_EQ(shown[0],
                  QString("Stopping: finishing the %1's transfer, %2 s").arg(who).arg(left));
        EXPECT_LE(left, fpga ? 17 : 3);
        const QString console = sim->console();
        const QString first =
            twice ? "The " + who + " still expects " +
                        console.section(" expects ", 1).section(' ', 0, 0) +
                        " bytes of a transfer; power the board off and on before the next "
                        "operation.\r\n"
            : fpga ? "The FPGA was cleared (PROG): it holds no design.\r\n"
                   : "";
        EXPECT_EQ(console, first + "Operation abandoned: stopped by the operator.\r\n");
        // After the stop only filler went out, then a NUL and the release.
        const QByteArray after = sim->board.hostBytes().mid(sentAtStop);
        const QByteArray filler = after.left(after.indexOf('\0'));
        if (fpga) {
            EXPECT_EQ(filler.count(char(0xFF)), filler.size());
            EXPECT_TRUE(twice || !filler.isEmpty()) << "no filler after the stop";
            EXPECT_FALSE(sim->board.fpga().done());
            EXPECT_EQ(sim->board.fpga().progPulses(), twice ? 1 : 2);
        } else {
            EXPECT_EQ(session().BpiServerRunning, !twice);
            const QByteArray flash = sim->board.bpiFlash().memory().left(image.size());
            const qsizetype written = flash.indexOf(QByteArray(64, char(0xFF)));
            EXPECT_GT(written, 0);
            EXPECT_EQ(flash.left(written), image.left(written)) << "only image bytes, in place";
            EXPECT_EQ(flash.mid(written).count(char(0xFF)), flash.size() - written);
        }
        // The next Connect names a transfer left unfinished, and finishes it with filler.
        if (twice) {
            ui().btnDisconnect.click();
            ui().btnConnect.click();
            EXPECT_TRUE(prompter().last().startsWith(
                QString("Unfinished transfer: The last run on %1 left the %2 in the middle of a "
                        "transfer: it still expects ")
                    .arg(sim->port.portName(), who)))
                << prompter().last().toStdString();
        }
        if (fpga)
            ui().mnuSPI.click();
        sim->press(ui().btnIDecho[!fpga]);
        EXPECT_TRUE(session().outcome.succeeded()) << "the board answers again, with no new load";
    }
}

// The chip goes on erasing: the next Connect would otherwise meet a silent server.
TEST_F(OperationOwnership, AStoppedChipEraseIsNamedToTheNextConnect) {
    start(Mode::Bpi);
    pressMeddling(ui().btnBulkErase[1], [&] { ui().btnStop.click(); });
    EXPECT_TRUE(sim->console().contains(
        "The chip goes on erasing by itself, up to 600 s, and the BPI server answers nothing "
        "until it has finished.\r\n"))
        << sim->console().toStdString();
    EXPECT_FALSE(session().BpiServerRunning);
    ui().btnDisconnect.click();
    ui().btnConnect.click();
    EXPECT_TRUE(sim->console().contains("The last run on " + sim->port.portName() +
                                        " stopped a parallel flash chip erase: the chip may go "
                                        "on erasing until "))
        << sim->console().toStdString();
}

// A link lost in the middle used to leave flags behind that corrupted the next operation.
TEST_F(OperationOwnership, ALostLinkLeavesNothingBehindForTheNextOperation) {
    // Lost during a server load: the operator's own bitstream must still be sent next.
    start(Mode::Spi);
    const QByteArray own = buildBitFile(buildConfigPayload({.size = 3000}));
    ui().mnuFPGA.click();
    sim->choose("mine.bit", own);
    ui().mnuBPI.click();
    bool lose = false;
    sim->port.onRead = [&](QByteArray& bytes) {
        if (lose)
            bytes.clear();
    };
    pressMeddling(
        ui().btnLoad, [&] { lose = true; }, 3);
    lose = false;
    EXPECT_TRUE(sim->lastMessage().startsWith("Communication with PSoC lost: No ACK from state "));
    EXPECT_FALSE(session().BpiServerRunning);
    EXPECT_EQ(leftBehind(Mode::Fpga), QStringList());
    ui().mnuFPGA.click();
    sim->press(ui().btnCfgFPGA);
    EXPECT_EQ(sim->board.fpga().received(), own);
    EXPECT_TRUE(session().outcome.succeeded());

    // Lost while reading the pins: a stale acknowledgement must not become read data.
    sim->port.onRead = [&](QByteArray& bytes) {
        if (sim->h->model.cfg.State() == CfgStateObj::CFG_READ_DONE)
            bytes.clear();
    };
    sim->press(ui().btnCfgFPGA);
    sim->port.onRead = {};
    EXPECT_TRUE(sim->lastMessage().startsWith("Communication with PSoC lost: No ACK from state "));
    EXPECT_EQ(leftBehind(Mode::Fpga), QStringList());
    ui().mnuSPI.click();
    select("M25P16");
    spiFlash().replace(0, 60, randomBytes(60, 5));
    const QString out = sim->choose("out.bin", {});
    ui().txtPrgBytes.setText("60");
    sim->press(ui().btnRead[0]);
    EXPECT_EQ(readFile(out), randomBytes(60, 5));
    EXPECT_TRUE(session().outcome.succeeded());
}

TEST_F(OperationOwnership, TheReceiveConsoleKeepsItsLatestMebibyteFromALineStart) {
    start(Mode::Spi);
    for (int i = 0; i < 40000; ++i)
        session().appendLine(QString("line %1 ").arg(i, 6, 10, QChar('0')) + QString(20, 'x'));
    const QString& text = ui().txtRecvView.text();
    EXPECT_LE(text.size(), Session::ConsoleLimit);
    EXPECT_GT(text.size(), Session::ConsoleLimit / 2);
    EXPECT_TRUE(text.startsWith("line ")) << text.left(20).toStdString();
    EXPECT_TRUE(text.endsWith("line 039999 " + QString(20, 'x') + "\r\n"));
}
