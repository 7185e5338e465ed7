#pragma once

#include "controls/MainPanelControls.h"
#include "engine/Session.h"

#include <array>

class PortSettings;
class Skinning;

// The menu entries, the file selection of each mode and the access-coded debug panel.
class Menus {
public:
    Menus(Session& session, DebugPWControls& debugPw, CommPropertiesControls& comm,
          PortSettings& portSettings, Skinning& skinning);

    void mnuOpenFile_Click();
    // Takes path as the current mode's file, as a choice in the dialog does; false (and
    // nothing changed) when it cannot be taken.
    bool takeFile(const QString& path);
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

    // The folder each file dialog opens in: FPGA, SPI flash, parallel flash, skins. Each
    // follows the last file chosen with it.
    enum Use { FpgaFile, SpiFile, BpiFile, SkinFile };
    std::array<QString, 4> lastFolder;

private:
    Use currentUse() const;

    Session& s_;
    DebugPWControls& pw_;
    CommPropertiesControls& comm_;
    PortSettings& portSettings_;
    Skinning& skinning_;
};
