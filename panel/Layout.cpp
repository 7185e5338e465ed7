#include "panel/Layout.h"

#include "engine/Connection.h"
#include "panel/PanelRules.h"

Layout::Layout(Session& session, Connection& connection)
    : s_(session)
    , connection_(connection) {
    auto& ui = s_.ui;
    ui.mnuFPGA.onClick = [this] { mnuFPGA_Click(); };
    ui.mnuSPI.onClick = [this] { mnuSPI_Click(); };
    ui.mnuBPI.onClick = [this] { mnuBPI_Click(); };
    ui.rbBoard[0].onClick = [this] { rbBoard_Click(0); };
    ui.rbBoard[1].onClick = [this] { rbBoard_Click(1); };
    s_.arrangePanel = [this] { ArrangePanel(); };
}

void Layout::ArrangePanel() {
    auto& ui = s_.ui;
    const std::int16_t op = s_.opState.State();
    if (op < 0 || op > 6) {
        s_.opState.SetState(0);
        ArrangePanel();
        return;
    }
    const OpStateObj::Mode mode = s_.opState.mode();
    const bool fpga = mode == OpStateObj::Mode::Fpga, spi = mode == OpStateObj::Mode::Spi,
               bpi = mode == OpStateObj::Mode::Bpi;
    ui.lblOperations.setText(fpga ? "FPGA Operations" : spi ? "SPI Operations" : "BPI Operations");
    ui.lblFile.setText(fpga ? "Bit File" : "Flash File");
    ui.lblDevice.setText(fpga ? "Device" : spi ? "Flash Device" : "BPI Server");
    ui.lblDevice.setVisible(true);
    ui.btnCfgFPGA.setVisible(fpga);
    ui.txtDevice.setVisible(fpga);
    ui.cbFlash.setVisible(spi);
    ui.txtBitFile.setVisible(fpga);
    ui.txtSpiFile.setVisible(spi);
    ui.txtBpiFile.setVisible(bpi);
    for (Control* c : {&ui.txtOffset, &ui.lblOffset, &ui.lbl0x, &ui.txtPrgBytes, &ui.lblPrgBytes})
        c->setVisible(!fpga);
    for (auto* set :
         {&ui.btnIDecho, &ui.btnRead, &ui.btnVerify, &ui.btnBulkErase, &ui.btnProgram}) {
        (*set)[0].setVisible(spi);
        (*set)[1].setVisible(bpi);
    }
    ui.btnDetect.setVisible(spi);
    ui.chkFlashSteps.setVisible(spi);
    ui.btnLoad.setVisible(bpi);
    ui.cbBpi.setVisible(bpi);
    ui.cbBpi.setEnabled(ui.rbBoard[1].checked() && !s_.busy());
    ui.BPI_Board.setVisible(bpi);
}

void Layout::SaveModePath() {
    const QString path = s_.ui.txtPath.text();
    // Only an idle mode has a path of its own to keep.
    if (s_.opState.State() < OpStateObj::Start || s_.opState.running()) {
        if (onInvalidState)
            onInvalidState();
        return;
    }
    switch (s_.opState.mode()) {
    case OpStateObj::Mode::Fpga:
        s_.fpgaPath = path;
        break;
    case OpStateObj::Mode::Spi:
        s_.spiPath = path;
        s_.spiRange = {s_.ui.txtOffset.text(), s_.ui.txtPrgBytes.text()};
        break;
    case OpStateObj::Mode::Bpi:
        s_.bpiPath = path;
        s_.bpiRange = {s_.ui.txtOffset.text(), s_.ui.txtPrgBytes.text()};
        break;
    }
}

Session::FlashRange* Layout::modeRange() {
    switch (s_.opState.mode()) {
    case OpStateObj::Mode::Spi:
        return &s_.spiRange;
    case OpStateObj::Mode::Bpi:
        return &s_.bpiRange;
    case OpStateObj::Mode::Fpga:
        break;
    }
    return nullptr;
}

void Layout::ShowModeRange() {
    if (const Session::FlashRange* range = modeRange()) {
        // The offset first: emptying it clears the count.
        s_.ui.txtOffset.setText(range->offset);
        s_.ui.txtPrgBytes.setText(range->bytes);
    }
}

void Layout::checkMode(Control& chosen) {
    for (Control* c : {&s_.ui.mnuFPGA, &s_.ui.mnuSPI, &s_.ui.mnuBPI})
        c->setChecked(c == &chosen);
}

void Layout::mnuFPGA_Click() {
    if (s_.busy())
        return;
    auto& ui = s_.ui;
    if (ui.txtBitFile.text() == rules::NoneSelected) {
        ui.btnCfgFPGA.setEnabled(false);
        ui.txtDevice.setText("None");
    }
    SaveModePath();
    s_.opState.SetState(OpStateObj::FpgaIdle);
    checkMode(ui.mnuFPGA);
    ui.txtPath.setText(s_.fpgaPath);
    ArrangePanel();
}

void Layout::mnuSPI_Click() {
    if (s_.busy())
        return;
    SaveModePath();
    s_.opState.SetState(OpStateObj::SpiIdle);
    checkMode(s_.ui.mnuSPI);
    s_.ui.txtPath.setText(s_.spiPath);
    ShowModeRange();
    ArrangePanel();
}

void Layout::mnuBPI_Click() {
    if (s_.busy())
        return;
    if (s_.connected() && !s_.BpiServerLoading) {
        connection_.Disconnect();
        connection_.Connect();
    }
    SaveModePath();
    s_.opState.SetState(OpStateObj::BpiIdle);
    checkMode(s_.ui.mnuBPI);
    s_.ui.txtPath.setText(s_.bpiPath);
    ShowModeRange();
    ArrangePanel();
}

void Layout::rbBoard_Click(int index) {
    s_.ui.rbBoard[index].setChecked(true);
    s_.ui.rbBoard[1 - index].setChecked(false);
    ArrangePanel();
}
