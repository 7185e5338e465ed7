#include "controls/MainPanelControls.h"

MainPanelControls::MainPanelControls() {
    // Design-time states that differ from a plain visible, enabled control.
    btnDisconnect.setVisible(false);
    lblProgress.setVisible(false);
    hscProgress.setVisible(false);
    btnStop.setVisible(false);
    rbBoard[0].setChecked(true);
    mnuFPGA.setChecked(true);
    // The waits for replies are sound on slow lines, so steps go on as soon as their reply is
    // in; unchecked, each step waits for its acknowledgement timer's tick as specified.
    chkFastAck.setChecked(true);
    mnuSkin.setVisible(false);
    mnuDefaultGUI.setVisible(false);
    mnuDebug.setVisible(false);
    for (auto* set : {&btnIDecho, &btnBulkErase, &btnProgram, &btnRead, &btnVerify})
        for (auto& b : *set)
            b.setEnabled(false);
    btnLoad.setEnabled(false);
    btnCfgFPGA.setEnabled(false);
    btnTransmitWnd.setEnabled(false);
    txtSendView.setEnabled(false);
    MainPanel.setHeight(7000);
}

std::vector<Control*> MainPanelControls::all() {
    std::vector<Control*> list = {
        &MainPanel,       &btnConnect,    &btnDisconnect,   &btnCfgFPGA,      &btnLoad,
        &lblOperations,   &lblFile,       &lblDevice,       &txtDevice,       &cbFlash,
        &cbBpi,           &txtBitFile,    &txtSpiFile,      &txtBpiFile,      &Command1,
        &txtOffset,       &lblOffset,     &lbl0x,           &txtPrgBytes,     &lblPrgBytes,
        &BPI_Board,       &lblProgress,   &hscProgress,     &lblSendView,     &txtSendView,
        &lblRecvView,     &txtRecvView,   &SendMode,        &Frame1,          &btnTransmitWnd,
        &btnSendBlock,    &Image1,        &lblTimeout,      &txtTimeout,      &lblTimeoutLimit,
        &txtTimeoutLimit, &lblSleep,      &txtSleep,        &lblMaxPsoc,      &txtMaxPsoc,
        &lblMaxSpiPoll,   &txtMaxSpiPoll, &lblBpiBurstSize, &txtBpiBurstSize, &txtPath,
        &txtFilelen,      &chkFastAck,    &chkPipeline,     &mnuFile,         &mnuOpenFile,
        &mnuExit,         &mnuOptions,    &mnuComm,         &mnuSkin,         &mnuDefaultGUI,
        &mnuBoardCheck,   &mnuMode,       &mnuFPGA,         &mnuSPI,          &mnuBPI,
        &mnuHelp,         &mnuDebug,      &mnuAbout,        &btnStop,         &lblStatus,
        &btnDetect,       &chkFlashSteps};
    for (auto* pair : {&btnIDecho, &btnBulkErase, &btnProgram, &btnRead, &btnVerify, &rbBoard,
                       &rbTransmitMode, &rbRecvMode, &btnClr})
        for (auto& c : *pair)
            list.push_back(&c);
    return list;
}

CommPropertiesControls::CommPropertiesControls() {
    CommPropertiesPanel.setVisible(false);
    for (const char* s : {"19200", "38400", "57600", "115200"})
        cbBPS.addItem(s);
    for (const char* s : {"8", "7"})
        cbDataBits.addItem(s);
    for (const char* s : {"None", "Odd", "Even"})
        cbParity.addItem(s);
    for (const char* s : {"1", "2"})
        cbStopBits.addItem(s);
    cbFlow.addItem("None");
}

std::vector<Control*> CommPropertiesControls::all() {
    return {&CommPropertiesPanel,
            &lblCom,
            &cbCom,
            &lblBPS,
            &cbBPS,
            &lblDataBits,
            &cbDataBits,
            &lblParity,
            &cbParity,
            &lblStopBits,
            &cbStopBits,
            &lblFlow,
            &cbFlow,
            &btnRestore,
            &btnOK,
            &btnCancel};
}
