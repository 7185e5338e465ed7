#include "panel/Launches.h"

#include "bpi/BpiStateObj.h"
#include "fpga/CfgStateObj.h"
#include "link/Dispatcher.h"
#include "link/PanelRules.h"
#include "panel/Layout.h"
#include "spi/SpiStateObj.h"

using Icon = Prompter::Icon;
using Buttons = Prompter::Buttons;
using Answer = Prompter::Answer;

Launches::Launches(Session& session, Dispatcher& dispatcher, Layout& layout, CfgStateObj& cfg,
                   SpiStateObj& spi, BpiStateObj& bpi)
    : s_(session)
    , dispatcher_(dispatcher)
    , layout_(layout)
    , cfg_(cfg)
    , spi_(spi)
    , bpi_(bpi) {
    auto& ui = s_.ui;
    ui.btnCfgFPGA.onClick = [this] { btnCfgFPGA_Click(); };
    for (int i = 0; i < 2; ++i) {
        ui.btnIDecho[i].onClick = [this, i] { btnIDecho_Click(i); };
        ui.btnBulkErase[i].onClick = [this, i] { btnBulkErase_Click(i); };
        ui.btnProgram[i].onClick = [this, i] { btnProgram_Click(i); };
        ui.btnRead[i].onClick = [this, i] { btnRead_Click(i); };
        ui.btnVerify[i].onClick = [this, i] { btnVerify_Click(i); };
    }
    ui.btnDetect.onClick = [this] { btnDetect_Click(); };
}

// Nothing starts while an operation runs or is being launched, whatever asks: a button
// re-enabled by a rule, a key, a nested event loop, the command line.
bool Launches::mayStart() const {
    return !s_.busy();
}

void Launches::btnCfgFPGA_Click() {
    if (!mayStart())
        return;
    const LaunchScope launching(s_);
    const QString text =
        "Bitfile is for a " + s_.ui.txtDevice.text() + " device.  Is this correct?";
    if (s_.prompter.ask(text, "Device to Program", Icon::Question, Buttons::YesNo) != Answer::Yes) {
        // A refused server load is over: the next configuration must not end as one.
        if (s_.BpiServerLoading && s_.cancelBpiServerLoad)
            s_.cancelBpiServerLoad();
        return;
    }
    s_.opState.SetState(OpStateObj::FpgaRunning);
    cfg_.SetState(CfgStateObj::CFG_LOAD_CONFIG_ON);
    handOver(s_.BpiServerLoading ? "BPI server load" : "FPGA configuration");
}

bool Launches::byteCountGiven(const QString& warning) {
    if (s_.ui.txtPrgBytes.text() != "0")
        return true;
    s_.prompter.tell(warning, "Warning", Icon::Information);
    return false;
}

void Launches::prepareProgress(const QString& caption) {
    auto& ui = s_.ui;
    ui.hscProgress.setValue(0);
    ui.hscProgress.setMaximum(100);
    ui.lblProgress.setText(caption);
    ui.lblProgress.setVisible(true);
    ui.hscProgress.setVisible(true);
}

// The window redraws before a long transfer; whatever the operator did meanwhile, a link
// that went away leaves nothing to start.
bool Launches::letEventsRun() {
    bpi_.TakeInputs();
    if (s_.processEvents)
        s_.processEvents();
    if (s_.port.isOpen() && !s_.stopRequested())
        return true;
    s_.ui.hscProgress.setVisible(false);
    s_.ui.lblProgress.setVisible(false);
    rules::applyIdleRules(s_.ui, s_.BpiServerRunning);
    return false;
}

void Launches::startSpi() {
    s_.opState.SetState(OpStateObj::SpiRunning);
    spi_.SetState(SpiStateObj::CFG_SPI_LOAD_CONFIG_ON);
}

void Launches::handOver(const QString& operation) {
    s_.operationName = operation;
    layout_.ArrangePanel();
    dispatcher_.DispatchOperation();
}

void Launches::btnIDecho_Click(int index) {
    if (!mayStart())
        return;
    const LaunchScope launching(s_);
    if (index == 1) {
        s_.opState.SetState(OpStateObj::BpiRunning);
        bpi_.SetState(BpiStateObj::BPI_ID);
    } else {
        startSpi();
        spi_.EchoID = true;
    }
    handOver(index == 1 ? "BPI ID Check" : "SPI ID Check");
}

void Launches::btnBulkErase_Click(int index) {
    if (!mayStart())
        return;
    const LaunchScope launching(s_);
    auto& ui = s_.ui;
    if (index == 1) {
        // The erase takes minutes: the set stays off until the server says it is done.
        rules::DisableFlashControls(ui, 1);
        s_.opState.SetState(OpStateObj::BpiRunning);
        bpi_.SetState(BpiStateObj::BPI_ERASE);
    } else {
        startSpi();
        spi_.BulkErase = true;
        ui.lblProgress.setText("Bulk Erase Poll");
        ui.lblProgress.setVisible(true);
        ui.hscProgress.setValue(0);
        ui.hscProgress.setVisible(true);
    }
    handOver(index == 1 ? "BPI Bulk Erase" : "SPI Bulk Erase");
}

void Launches::btnProgram_Click(int index) {
    if (!mayStart())
        return;
    const LaunchScope launching(s_);
    auto& ui = s_.ui;
    if (!byteCountGiven("Enter bytes to write and try again"))
        return;
    // A flash erases what it programs: there is nothing for the operator to vouch for.
    const bool flash = index == 0 && ui.chkFlashSteps.checked();
    if (!flash &&
        s_.prompter.ask("It is your responsibility to ensure the sectors you are about to program "
                        "have been erased.  Is this true?",
                        "Warning", Icon::Question, Buttons::YesNo) != Answer::Yes)
        return;
    // Each set's own caption from the start: a front end may show the first one it sees.
    const QString caption = index == 1 ? "BPI Programming Progress"
                            : flash    ? "SPI Flash"
                                       : "SPI Programming";
    prepareProgress(caption);
    if (index == 1) {
        rules::DisableFlashControls(ui, 1);
        if (!letEventsRun())
            return;
        s_.opState.SetState(OpStateObj::BpiRunning);
        bpi_.SetState(BpiStateObj::BPI_PROGRAM);
    } else {
        startSpi();
        spi_.Program = !flash;
        spi_.Flash = flash;
    }
    handOver(index == 1 ? "BPI Program" : flash ? "SPI Flash" : "SPI Program");
}

void Launches::btnRead_Click(int index) {
    if (!mayStart())
        return;
    const LaunchScope launching(s_);
    auto& ui = s_.ui;
    // An SPI read without a byte count reads to the end of the chip.
    if (index == 1 && !byteCountGiven("Enter bytes to read and try again"))
        return;
    const QString caption = "Read Progress";
    prepareProgress(caption);
    const QString file = (index == 1 ? ui.txtBpiFile : ui.txtSpiFile).text();
    if (s_.prompter.ask(file + " will be overwritten!", "Warning", Icon::Exclamation,
                        Buttons::OkCancel) != Answer::Ok)
        return;
    if (index == 1) {
        rules::DisableFlashControls(ui, 1);
        if (!letEventsRun())
            return;
        s_.opState.SetState(OpStateObj::BpiRunning);
        bpi_.SetState(BpiStateObj::BPI_READ);
    } else {
        startSpi();
        spi_.ReadSPI = true;
    }
    handOver(index == 1 ? "BPI Read" : "SPI Read");
}

void Launches::btnVerify_Click(int index) {
    if (!mayStart())
        return;
    const LaunchScope launching(s_);
    auto& ui = s_.ui;
    if (!byteCountGiven("Enter bytes to read and try again"))
        return;
    const QString caption = index == 1 ? "BPI Verify Progress" : "SPI Validation";
    prepareProgress(caption);
    if (index == 1) {
        rules::DisableFlashControls(ui, 1);
        if (!letEventsRun())
            return;
        s_.opState.SetState(OpStateObj::BpiRunning);
        bpi_.SetState(BpiStateObj::BPI_VERIFY);
    } else {
        startSpi();
        spi_.VerifySPI = true;
    }
    handOver(index == 1 ? "BPI Verify" : "SPI Verify");
}

void Launches::btnDetect_Click() {
    if (!mayStart())
        return;
    const LaunchScope launching(s_);
    startSpi();
    spi_.Detect = true;
    handOver("SPI Detect");
}

void Launches::eraseSectors() {
    if (!mayStart() || !s_.ui.btnBulkErase[0].enabled())
        return;
    const LaunchScope launching(s_);
    startSpi();
    spi_.SectorErase = true;
    prepareProgress("SPI Sector Erase");
    handOver("SPI Sector Erase");
}
