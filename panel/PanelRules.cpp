#include "panel/PanelRules.h"

namespace rules {

bool IsFpgaReady(const MainPanelControls& ui) {
    return ui.btnDisconnect.visible() && ui.txtBitFile.text() != NoneSelected;
}

bool IsSpiReady(const MainPanelControls& ui) {
    return ui.btnDisconnect.visible() && ui.cbFlash.selectedIndex() >= 0;
}

static void setFlashSet(MainPanelControls& ui, int index, bool on) {
    for (auto* set : {&ui.btnIDecho, &ui.btnBulkErase, &ui.btnProgram, &ui.btnRead, &ui.btnVerify})
        (*set)[index].setEnabled(on);
    if (index == 1)
        ui.btnLoad.setEnabled(on);
}

void DisableFlashControls(MainPanelControls& ui, int index) {
    setFlashSet(ui, index, false);
}
void EnableFlashControls(MainPanelControls& ui, int index) {
    setFlashSet(ui, index, true);
}

void applySpiButtonRule(MainPanelControls& ui) {
    const bool ready = IsSpiReady(ui);
    ui.btnIDecho[0].setEnabled(ready);
    ui.btnDetect.setEnabled(ui.btnDisconnect.visible());
    ui.btnBulkErase[0].setEnabled(ready);
    ui.btnProgram[0].setEnabled(ready && ui.txtSpiFile.text() != NoneSelected);
    ui.btnRead[0].setEnabled(ui.btnProgram[0].enabled());
    ui.btnVerify[0].setEnabled(ui.btnProgram[0].enabled());
}

void applyBpiButtonRule(MainPanelControls& ui, bool serverRunning) {
    const bool ready = ui.btnDisconnect.visible() && serverRunning;
    ui.btnIDecho[1].setEnabled(ready);
    ui.btnBulkErase[1].setEnabled(ready);
    ui.btnProgram[1].setEnabled(ready && ui.txtBpiFile.text() != NoneSelected);
    ui.btnRead[1].setEnabled(ui.btnProgram[1].enabled());
    ui.btnVerify[1].setEnabled(ui.btnProgram[1].enabled());
}

void lockForOperation(MainPanelControls& ui, bool running) {
    for (Control* c : {&ui.txtOffset,   &ui.txtPrgBytes,     &ui.cbFlash,         &ui.txtBitFile,
                       &ui.txtSpiFile,  &ui.txtBpiFile,      &ui.Command1,        &ui.mnuOpenFile,
                       &ui.rbBoard[0],  &ui.rbBoard[1],      &ui.txtBpiBurstSize, &ui.chkFastAck,
                       &ui.chkPipeline, &ui.chkFlashSteps,   &ui.btnSendBlock,    &ui.mnuMode,
                       &ui.mnuFPGA,     &ui.mnuSPI,          &ui.mnuBPI,          &ui.mnuOptions,
                       &ui.txtTimeout,  &ui.txtTimeoutLimit, &ui.txtSleep})
        c->setEnabled(!running);
    ui.cbBpi.setEnabled(!running && ui.rbBoard[1].checked());
    const bool connected = ui.btnDisconnect.visible();
    ui.txtSendView.setEnabled(!running && connected);
    ui.btnTransmitWnd.setEnabled(!running && connected);
    ui.btnStop.setVisible(running);
}

void applyIdleRules(MainPanelControls& ui, bool serverRunning) {
    ui.btnCfgFPGA.setEnabled(IsFpgaReady(ui));
    applySpiButtonRule(ui);
    applyBpiButtonRule(ui, serverRunning);
    ui.btnLoad.setEnabled(ui.btnDisconnect.visible());
}

void applyAfterInvalidState(MainPanelControls& ui) {
    for (Control* c : {&ui.btnCfgFPGA, &ui.btnIDecho[0], &ui.btnIDecho[1], &ui.btnBulkErase[0],
                       &ui.btnBulkErase[1]})
        c->setEnabled(c->visible());
    ui.btnProgram[0].setEnabled(ui.btnProgram[0].visible() && ui.txtSpiFile.text() != NoneSelected);
    ui.btnProgram[1].setEnabled(ui.btnProgram[1].visible() && ui.txtBpiFile.text() != NoneSelected);
    for (int i = 0; i < 2; ++i) {
        ui.btnRead[i].setEnabled(ui.btnProgram[i].enabled());
        ui.btnVerify[i].setEnabled(ui.btnProgram[i].enabled());
    }
    // The state is back at 0, which the layout shows as the FPGA mode: caption it so.
    ui.lblOperations.setText("FPGA Operations");
}

} // namespace rules
