#pragma once

#include "controls/MainPanelControls.h"

// The visibility and captions of the three modes, as the panel's layout sets them, so that the
// forms can be looked at and checked without the panel model's behaviour.
enum class Mode { Fpga, Spi, Bpi };

inline const char* modeName(Mode m) {
    return m == Mode::Fpga ? "fpga" : m == Mode::Spi ? "spi" : "bpi";
}

inline void arrange(MainPanelControls& ui, Mode m) {
    const bool fpga = m == Mode::Fpga, spi = m == Mode::Spi, bpi = m == Mode::Bpi;
    ui.lblOperations.setText(fpga ? "FPGA Operations" : spi ? "SPI Operations" : "BPI Operations");
    ui.lblFile.setText(fpga ? "Bit File" : "Flash File");
    ui.lblDevice.setText(fpga ? "Device" : spi ? "Flash Device" : "BPI Server");
    ui.btnCfgFPGA.setVisible(fpga);
    ui.txtDevice.setVisible(fpga);
    ui.cbFlash.setVisible(spi);
    ui.txtBitFile.setVisible(fpga);
    ui.txtSpiFile.setVisible(spi);
    ui.txtBpiFile.setVisible(bpi);
    for (Control* c : {&ui.txtOffset, &ui.lblOffset, &ui.lbl0x, &ui.txtPrgBytes, &ui.lblPrgBytes})
        c->setVisible(!fpga);
    for (ControlPair* set :
         {&ui.btnIDecho, &ui.btnBulkErase, &ui.btnProgram, &ui.btnRead, &ui.btnVerify}) {
        (*set)[0].setVisible(spi);
        (*set)[1].setVisible(bpi);
    }
    ui.btnLoad.setVisible(bpi);
    ui.cbBpi.setVisible(bpi);
    ui.cbBpi.setEnabled(ui.rbBoard[1].checked());
    ui.BPI_Board.setVisible(bpi);
    ui.mnuFPGA.setChecked(fpga);
    ui.mnuSPI.setChecked(spi);
    ui.mnuBPI.setChecked(bpi);
}

// The longest captions the program gives its controls at run time.
inline void useLongestCaptions(MainPanelControls& ui) {
    ui.btnConnect.setText("Connect to COM99");
    ui.btnDisconnect.setText("Disconnect from COM99");
    ui.lblProgress.setText("BPI Programming Progress 100% done");
}
