#pragma once

#include "bpi/BpiStateObj.h"
#include "controls/MainPanelControls.h"
#include "engine/Connection.h"
#include "engine/Dispatcher.h"
#include "engine/ReceivePath.h"
#include "engine/Session.h"
#include "fpga/CfgStateObj.h"
#include "panel/ConnectedControls.h"
#include "panel/Consoles.h"
#include "panel/Inputs.h"
#include "panel/Launches.h"
#include "panel/Layout.h"
#include "panel/Menus.h"
#include "panel/PortSettings.h"
#include "panel/ServerLoad.h"
#include "panel/StopKey.h"
#include "spi/SpiStateObj.h"

class Skinning;

// The main window without widgets: its controls, the state objects and every collaborator,
// wired together. The window, the command line and the tests all drive this.
class MainPanelModel {
public:
    MainPanelModel(SerialPort& port, Clock& clock, AckTimer& timer, Prompter& prompter,
                   FilePicker& picker, Skinning& skinning, DataFolders folders);
    // The data folders of a program in folders.program (the working folder is not looked in).
    struct Folders {
        QString program;
        QString working;
    };
    MainPanelModel(SerialPort& port, Clock& clock, AckTimer& timer, Prompter& prompter,
                   FilePicker& picker, Skinning& skinning, const Folders& folders)
        : MainPanelModel(port, clock, timer, prompter, picker, skinning,
                         DataFolders::forProgram(folders.program)) {}

    // The start-up routine's skin choice, then the load handler (after the single-instance
    // check, which the application makes before it creates the model).
    void startUp();
    // The unload handler: dialogs away, port closed, skin removed.
    void unload();

    // Hooks the front end supplies.
    void setShowModal(std::function<void(Control&, const std::function<void()>&)> show);
    void setCloseWindow(std::function<void()> close);
    void setProcessEvents(std::function<void()> process);

    static inline const QString Version = QStringLiteral("3.4.1");

    MainPanelControls ui;
    CommPropertiesControls comm;
    DebugPWControls debugPw;
    Session session;
    CfgStateObj cfg;
    SpiStateObj spi;
    BpiStateObj bpi;
    Dispatcher dispatcher;
    Connection connection;
    ConnectedControls connectedControls;
    PortSettings portSettings;
    ReceivePath receivePath;
    Layout layout;
    Inputs inputs;
    Launches launches;
    Consoles consoles;
    ServerLoad serverLoad;
    Menus menus;
    StopKey stopKey;

private:
    void startSkin();
    void loadHandler();
    template <typename Fn> void step(Fn fn);

    Skinning& skinning_;
    bool locked_ = false;
    std::function<void()> closeWindow_;
};
