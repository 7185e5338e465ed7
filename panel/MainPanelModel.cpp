#include "panel/MainPanelModel.h"

#include "engine/Conversions.h"
#include "engine/RuntimeError.h"
#include "fpga/BitfileSelection.h"
#include "link/ControllerProtocol.h"
#include "panel/PanelRules.h"
#include "panel/Skinning.h"

#include <QFileInfo>

MainPanelModel::MainPanelModel(SerialPort& port, Clock& clock, AckTimer& timer, Prompter& prompter,
                               FilePicker& picker, Skinning& skinning, DataFolders folders)
    : session(ui, port, clock, timer, prompter, picker)
    , cfg(session)
    , spi(session)
    , bpi(session)
    , dispatcher(session, cfg, spi, bpi)
    , connection(session, dispatcher)
    , connectedControls(session, connection, skinning)
    , portSettings(comm, session, connection)
    , receivePath(session)
    , layout(session, connection)
    , inputs(session, layout)
    , launches(session, dispatcher, layout, cfg, spi, bpi)
    , consoles(session)
    , serverLoad(session)
    , menus(session, debugPw, comm, portSettings, skinning)
    , stopKey(session, launches)
    , skinning_(skinning) {
    session.dataFolders = std::move(folders);
    ui.btnConnect.onClick = [this] { connection.Connect(); };
    ui.btnDisconnect.onClick = [this] { connection.Disconnect(); };
    // The same clean end as Disconnect, with the port left open.
    ui.btnStop.onClick = [this] {
        dispatcher.abandonOperation("Operation abandoned: stopped by the operator.");
    };
    ui.MainPanel.onKeyPress = [this](int code) {
        if (code == 27)
            stopKey.press();
    };
    const auto readHeader = [this](const QString& path) { ReadBitfileHeader(session, path); };
    serverLoad.readBitfileHeader = readHeader;
    serverLoad.selectFpgaMode = [this] { layout.mnuFPGA_Click(); };
    serverLoad.selectBpiMode = [this] { layout.mnuBPI_Click(); };
    menus.readBitfileHeader = readHeader;
    spi.offerDevice = [this](const QString& name, bool askFirst) {
        inputs.offerFlashDevice(name, askFirst);
    };
    // An operation must never be cut off by a mode switch or changed under its feet.
    session.opState.onChange = [this](std::int16_t state) {
        const bool running = OpStateObj::isRunning(state);
        if (running != locked_) {
            locked_ = running;
            rules::lockForOperation(ui, running);
        }
    };
    layout.onInvalidState = [this] {
        session.prompter.tell("INVALID STATE", "ERROR", Prompter::Icon::None);
        if (closeWindow_)
            closeWindow_();
    };
}

void MainPanelModel::setShowModal(
    std::function<void(Control&, const std::function<void()>&)> show) {
    menus.showModal = std::move(show);
}

void MainPanelModel::setCloseWindow(std::function<void()> close) {
    closeWindow_ = close;
    menus.closeWindow = std::move(close);
}

void MainPanelModel::setProcessEvents(std::function<void()> process) {
    session.processEvents = std::move(process);
}

void MainPanelModel::startUp() {
    startSkin();
    loadHandler();
}

void MainPanelModel::startSkin() {
    const QString belv = session.dataFolders.findDataFile("Skins/belv.urf");
    if (!belv.isEmpty()) {
        if (!skinning_.skinStart(belv, 2))
            skinning_.skinStart(session.dataFolders.pathFor("gtclassicex.urf"), 2);
        return;
    }
    session.prompter.tell("Skinning disabled, no skin files present.", "Warning",
                          Prompter::Icon::Information);
    ui.mnuSkin.setEnabled(false);
}

// A failing step of the load handler is reported and loading goes on.
template <typename Fn> void MainPanelModel::step(Fn fn) {
    try {
        fn();
    } catch (const RuntimeError& e) {
        session.reportError(e);
    }
}

void MainPanelModel::loadHandler() {
    Session& s = session;
    ui.MainPanel.setText(ui.MainPanel.text() + " v" + Version);
    step([&] { portSettings.Load(); });
    s.TimeoutCnt = 0;
    s.BpiServerRunning = false;
    s.BpiServerLoading = false;
    s.scrollRequest = false;
    ui.rbTransmitMode[1].setChecked(true);
    ui.rbTransmitMode[0].setChecked(false);
    ui.rbRecvMode[s.displayMode.State()].setChecked(true);
    s.fpgaPath.clear();
    s.spiPath.clear();
    s.FlushInput = true;
    step([&] { s.timeoutLimit = conv::toInt16(ui.txtTimeoutLimit.text()); });
    s.BoardCheckDisabled = false;
    s.clearScreen = QString("\x1b[H\x1b[J");
    step([&] {
        s.ackIntervalMs = conv::toInt16(ui.txtTimeout.text());
        s.timer.setInterval(s.ackIntervalMs);
    });

    const auto names = [](const QStringList& paths) {
        QStringList out;
        for (const QString& p : paths)
            out << QFileInfo(p).fileName();
        return out;
    };
    ui.FlashFile = names(s.dataFolders.descriptionFiles());
    ui.BpiServerFile = names(s.dataFolders.serverBitstreams());
    for (const QString& f : ui.FlashFile)
        ui.cbFlash.addItem(f.left(f.size() - 4));
    for (const QString& f : ui.BpiServerFile) {
        ui.cbBpi.addItem(f.left(f.size() - 4));
        if (f == "bpi_server_v" + protocol::ServerVersion + ".bit")
            ui.cbBpi.setSelectedIndex(int(ui.cbBpi.items().size()) - 1);
    }
    s.opState.SetState(0);
    layout.ArrangePanel();
    step([&] { portSettings.OK(); });
    portSettings.FindBoardComPort();
    ui.btnConnect.setText("Connect to " + s.port.portName());
}

void MainPanelModel::unload() {
    // Whatever runs ends now and quietly: nobody is left to read a message.
    session.windowClosed = true;
    dispatcher.abandonOperation("Operation abandoned: the window was closed.");
    comm.CommPropertiesPanel.setVisible(false);
    debugPw.DebugPW.setVisible(false);
    session.timer.stop();
    if (session.port.isOpen())
        session.port.close();
    if (ui.mnuSkin.enabled())
        skinning_.skinRemove();
}
