#pragma once

#include "controls/Control.h"

#include <array>
#include <vector>

using ControlPair = std::array<Control, 2>;

// Every control of the main window, named as in the form. Index 0 of the operation button
// arrays is the SPI flash set, index 1 the parallel flash set.
struct MainPanelControls {
    MainPanelControls();
    MainPanelControls(const MainPanelControls&) = delete;

    // The window itself: its caption is the title, its height uncovers the debug fields.
    Control MainPanel{"MainPanel", "Zelto Board Programming Utility"};

    Control btnConnect{"btnConnect", "Connect to COM"};
    Control btnDisconnect{"btnDisconnect", "Disconnect from COM"};
    Control btnCfgFPGA{"btnCfgFPGA", "Configure FPGA",
                       "Program the FPGA via slave-serial with the specified bit file"};

    ControlPair btnIDecho{Control{"btnIDecho_0", "ID Check",
                                  "View the ID from the SPI memory in the Receive console"},
                          Control{"btnIDecho_1", "ID Check",
                                  "View the ID from the BPI memory in the Receive console"}};
    ControlPair btnBulkErase{
        Control{"btnBulkErase_0", "Bulk Erase", "Erase the entire SPI memory"},
        Control{"btnBulkErase_1", "Bulk Erase", "Erase the entire BPI memory"}};
    ControlPair btnProgram{
        Control{"btnProgram_0", "Program",
                "Program the SPI memory for n bytes using the selected Flash File and offset"},
        Control{"btnProgram_1", "Program",
                "Program the BPI memory for n bytes using the selected Flash File and offset"}};
    ControlPair btnRead{
        Control{"btnRead_0", "Read",
                "Copy n bytes from the offset in the SPI memory to the selected file"},
        Control{"btnRead_1", "Read",
                "Copy n bytes from the offset in the BPI memory to the selected file"}};
    ControlPair btnVerify{
        Control{"btnVerify_0", "Verify",
                "Read the SPI memory for n bytes from the offset and validate with the selected "
                "file"},
        Control{"btnVerify_1", "Verify",
                "Read the BPI memory for n bytes from the offset and validate with the selected "
                "file"}};
    Control btnLoad{"btnLoad", "Load Server"};
    Control btnDetect{"btnDetect", "Detect",
                      "Find the SPI flash by its identification and select its description"};
    Control chkFlashSteps{"chkFlashSteps", "Erase the sectors first and verify after",
                          "Program erases only the sectors the file covers, keeps the other bytes "
                          "of those sectors, and verifies what it wrote"};

    Control lblOperations{"lblOperations", "FPGA Operations"};
    Control lblFile{"lblFile", "Bit File"};
    Control lblDevice{"lblDevice", "Device"};
    Control txtDevice{"txtDevice", "None", "Bit file selected is for the indicated device"};
    Control cbFlash{"cbFlash", "None Selected"};
    Control cbBpi{"cbBpi", "None Selected",
                  "Select a valid MicroBlaze BPI server from the dropdown list"};
    Control txtBitFile{"txtBitFile", "None Selected",
                       "Double-click to select a bit file to program"};
    Control txtSpiFile{"txtSpiFile", "None Selected",
                       "Double-click to select a Flash file to program or copy SPI contents to"};
    Control txtBpiFile{"txtBpiFile", "None Selected",
                       "Double-click to select a Flash file to program or copy SPI contents to"};
    Control Command1{"Command1", "Browse"};

    Control txtOffset{"txtOffset", "0", "Offset in HEX bytes in SPI memory"};
    Control lblOffset{"lblOffset", "Offset (Hex)"};
    Control lbl0x{"lbl0x", "0x"};
    Control txtPrgBytes{"txtPrgBytes", "0", "Number of bytes to Write or Read from SPI memory"};
    Control lblPrgBytes{"lblPrgBytes", "Bytes to Write/Read"};

    Control BPI_Board{"BPI_Board", "BPI Server"};
    ControlPair rbBoard{Control{"rbBoard_0", "Rook Eval"}, Control{"rbBoard_1", "Custom"}};

    Control lblProgress{"lblProgress", "Progress"};
    Control hscProgress{"hscProgress"};
    // Shown while an operation runs; Esc presses it.
    Control btnStop{"btnStop", "Stop", "End the running operation and release the board (Esc)"};
    // How the last operation ended and how long it took.
    Control lblStatus{"lblStatus", ""};

    Control lblSendView{"lblSendView", "Send Console"};
    Control txtSendView{"txtSendView"};
    Control lblRecvView{"lblRecvView", "Receive Console"};
    Control txtRecvView{"txtRecvView"};
    Control SendMode{"SendMode", "Send Mode"};
    ControlPair rbTransmitMode{
        Control{"rbTransmitMode_0", "Char", "Chars are sent as typed in the Send Console"},
        Control{"rbTransmitMode_1", "Block",
                "Chars are buffered in the Send console until Send is pressed"}};
    Control Frame1{"Frame1", "Receive  Mode"};
    ControlPair rbRecvMode{
        Control{"rbRecvMode_0", "ASCII", "Display incoming serial port chars in ASCII"},
        Control{"rbRecvMode_1", "Hex", "Display incoming serial port chars in Hex"}};
    Control btnTransmitWnd{"btnTransmitWnd", "Send",
                           "Transmits all text in the Send console out the active serial port."};
    Control btnSendBlock{"btnSendBlock", "Send Ascii Table"};
    ControlPair btnClr{Control{"btnClr_0", "Clear", "Clear the Send console"},
                       Control{"btnClr_1", "Clear", "Clear the Receive console"}};

    Control Image1{"Image1"};

    // Debug fields, below the normal client area.
    Control lblTimeout{"lblTimeout", "Timer interval in millisecs"};
    Control txtTimeout{"txtTimeout", "15"};
    Control lblTimeoutLimit{"lblTimeoutLimit", "Timeout Loop Limit"};
    Control txtTimeoutLimit{"txtTimeoutLimit", "4"};
    Control lblSleep{"lblSleep", "Poll Limit"};
    Control txtSleep{"txtSleep", "1000"};
    Control lblMaxPsoc{"lblMaxPsoc", "Max PSoC Poll Loop"};
    Control txtMaxPsoc{"txtMaxPsoc", "0"};
    Control lblMaxSpiPoll{"lblMaxSpiPoll", "Max SPI Poll Loop"};
    Control txtMaxSpiPoll{"txtMaxSpiPoll", "0"};
    Control lblBpiBurstSize{"lblBpiBurstSize", "BPI Burst Size"};
    Control txtBpiBurstSize{"txtBpiBurstSize", "128"};
    Control txtPath{"txtPath", ""};
    Control txtFilelen{"txtFilelen", "0"};
    Control chkFastAck{"chkFastAck", "Fast acknowledgement"};
    Control chkPipeline{"chkPipeline", "Pipelined SPI transfers"};

    // Menus.
    Control mnuFile{"mnuFile", "File"};
    Control mnuOpenFile{"mnuOpenFile", "Select File"};
    Control mnuExit{"mnuExit", "Exit"};
    Control mnuOptions{"mnuOptions", "Options"};
    Control mnuComm{"mnuComm", "Comm"};
    Control mnuSkin{"mnuSkin", "Change Skin"};
    Control mnuDefaultGUI{"mnuDefaultGUI", "Default GUI"};
    Control mnuBoardCheck{"mnuBoardCheck", "Disable Board Check"};
    Control mnuMode{"mnuMode", "Mode"};
    Control mnuFPGA{"mnuFPGA", "Configure FPGA"};
    Control mnuSPI{"mnuSPI", "Program SPI Flash"};
    Control mnuBPI{"mnuBPI", "Program Parallel Flash"};
    Control mnuHelp{"mnuHelp", "Help"};
    Control mnuDebug{"mnuDebug", "Debug Panel"};
    Control mnuAbout{"mnuAbout", "About"};

    // The two file lists of the form, never shown: what the working folder held at start-up.
    QStringList FlashFile;
    QStringList BpiServerFile;

    // Every control, for binding by name.
    std::vector<Control*> all();
};

struct CommPropertiesControls {
    CommPropertiesControls();
    CommPropertiesControls(const CommPropertiesControls&) = delete;

    Control CommPropertiesPanel{"CommPropertiesPanel", "Comm Properties"};
    Control lblCom{"lblCom", "Connect Using:"};
    Control cbCom{"cbCom", "", "Select a valid serial Com port from the list"};
    Control lblBPS{"lblBPS", "Bits per second"};
    Control cbBPS{"cbBPS", "", "Select baud rate.  Not used for USB virtual Com ports."};
    Control lblDataBits{"lblDataBits", "Data Bits"};
    Control cbDataBits{"cbDataBits", "",
                       "Select the number of data bits.  Not used for USB virtual Com ports."};
    Control lblParity{"lblParity", "Parity"};
    Control cbParity{"cbParity", "", "Select parity.  Not used for USB virtual Com ports."};
    Control lblStopBits{"lblStopBits", "Stop Bits"};
    Control cbStopBits{"cbStopBits", "",
                       "Select the number of stop bits.  Not used for USB virtual Com ports"};
    Control lblFlow{"lblFlow", "Flow Control"};
    Control cbFlow{"cbFlow", "", "Select HW flow control.  Not used for USB virtual Com ports"};
    Control btnRestore{"btnRestore", "Restore Defaults"};
    Control btnOK{"btnOK", "OK"};
    Control btnCancel{"btnCancel", "Cancel"};

    std::vector<Control*> all();
};

struct DebugPWControls {
    DebugPWControls() { DebugPW.setVisible(false); }
    DebugPWControls(const DebugPWControls&) = delete;

    Control DebugPW{"DebugPW", "Debug Password"};
    Control lblDebug{"lblDebug", "Enter the Debug Password and click OK"};
    Control txtDebug{"txtDebug"};
    Control btnOK{"btnOK", "OK"};

    std::vector<Control*> all() { return {&DebugPW, &lblDebug, &txtDebug, &btnOK}; }
};
