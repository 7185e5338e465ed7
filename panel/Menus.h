#pragma once

#include "controls/MainPanelControls.h"
#include "link/Session.h"

class PortSettings;
class Skinning;

// The menu entries, the file selection of each mode and the access-coded debug panel.
class Menus {
public:
    Menus(Session& session, DebugPWControls& debugPw, CommPropertiesControls& comm,
          PortSettings& portSettings, Skinning& skinning);

    void mnuOpenFile_Click();
    void mnuExit_Click();
    void mnuComm_Click();
    void mnuSkin_Click();
    void mnuDefaultGUI_Click();
    void mnuBoardCheck_Click();
    void Image1_DblClick();
    void mnuDebug_Click();
    void DebugPW_OK();

    static inline const QString DebugCode = QStringLiteral("7391");

    // Supplied by the panel: the header reader, modal dialogs, closing the window.
    std::function<void(const QString&)> readBitfileHeader;
    // Shows a dialog modally; activate runs each time it is shown, and may hide it again.
    std::function<void(Control&, const std::function<void()>&)> showModal;
    std::function<void()> closeWindow;

private:
    Session& s_;
    DebugPWControls& pw_;
    CommPropertiesControls& comm_;
    PortSettings& portSettings_;
    Skinning& skinning_;
};
