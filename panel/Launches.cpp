#include "panel/Launches.h"

#include "bpi/BpiStateObj.h"
#include "engine/Conversions.h"
#include "engine/Dispatcher.h"
#include "engine/RequestCheck.h"
#include "engine/RuntimeError.h"
#include "fpga/BitfileHeader.h"
#include "fpga/CfgStateObj.h"
#include "panel/Layout.h"
#include "panel/PanelRequest.h"
#include "panel/PanelRules.h"
#include "spi/SpiStateObj.h"

#include <QFileInfo>

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
    const Kind idCheck[] = {Kind::SpiIdCheck, Kind::BpiIdCheck};
    const Kind erase[] = {Kind::SpiBulkErase, Kind::BpiErase};
    const Kind read[] = {Kind::SpiRead, Kind::BpiRead};
    const Kind verify[] = {Kind::SpiVerify, Kind::BpiVerify};
    for (int i = 0; i < 2; ++i) {
        ui.btnIDecho[i].onClick = [this, k = idCheck[i]] { fromPanel(k); };
        ui.btnBulkErase[i].onClick = [this, k = erase[i]] { fromPanel(k); };
        ui.btnProgram[i].onClick = [this, i] { btnProgram_Click(i); };
        ui.btnRead[i].onClick = [this, k = read[i]] { fromPanel(k); };
        ui.btnVerify[i].onClick = [this, k = verify[i]] { fromPanel(k); };
    }
    ui.btnDetect.onClick = [this] { fromPanel(Kind::SpiDetect); };
}

void Launches::btnCfgFPGA_Click() {
    fromPanel(s_.BpiServerLoading ? Kind::ServerLoad : Kind::FpgaConfigure);
}
void Launches::btnIDecho_Click(int index) {
    fromPanel(index == 1 ? Kind::BpiIdCheck : Kind::SpiIdCheck);
}
void Launches::btnBulkErase_Click(int index) {
    fromPanel(index == 1 ? Kind::BpiErase : Kind::SpiBulkErase);
}
void Launches::btnProgram_Click(int index) {
    // A flash erases what it programs; the window's option makes Program one.
    fromPanel(index == 1                      ? Kind::BpiProgram
              : s_.ui.chkFlashSteps.checked() ? Kind::SpiFlash
                                              : Kind::SpiProgram);
}
void Launches::btnRead_Click(int index) {
    fromPanel(index == 1 ? Kind::BpiRead : Kind::SpiRead);
}
void Launches::btnVerify_Click(int index) {
    fromPanel(index == 1 ? Kind::BpiVerify : Kind::SpiVerify);
}
void Launches::btnDetect_Click() {
    fromPanel(Kind::SpiDetect);
}

void Launches::fromPanel(Kind kind) {
    if (!mayStart())
        return;
    OperationRequest r;
    try {
        r = requestFromPanel(s_, kind);
    } catch (const RuntimeError& e) {
        s_.reportError(e);
        refuse(e.description());
        return;
    }
    launch(r);
}

// Nothing starts while an operation runs or is being launched, whatever asks: a button
// re-enabled by a rule, a key, a nested event loop, the command line.
bool Launches::mayStart() const {
    return !s_.busy();
}

bool Launches::refuse(const QString& message) {
    s_.outcome = {Outcome::Kind::Refused, message};
    return false;
}

bool Launches::countGiven(const OperationRequest& r, const QString& warning) {
    if (r.count != 0)
        return true;
    s_.prompter.tell(warning, "Warning", Icon::Information);
    return refuse(warning);
}

// The operator vouches for the sectors the range names, so the range is shown with the question.
bool Launches::erasedConfirmed(const OperationRequest& r) {
    const QString range =
        QString("The program writes 0x%1 to 0x%2.\r\n")
            .arg(conv::hexUpper(r.offset), conv::hexUpper(r.offset + r.count - 1));
    if (s_.prompter.ask(range + "It is your responsibility to ensure the sectors you are about to "
                                "program have been erased.  Is this true?",
                        "Warning", Icon::Question, Buttons::YesNo) == Answer::Yes)
        return true;
    return refuse("The program was declined.");
}

// A file not there yet has nothing to lose, and standard output is no file of the operator's.
bool Launches::overwriteConfirmed(const OperationRequest& r, const QString& file) {
    if (r.path == FileSlot::StandardOutput || !QFileInfo::exists(r.path))
        return true;
    if (s_.prompter.ask(file + " will be overwritten!", "Warning", Icon::Exclamation,
                        Buttons::OkCancel) == Answer::Ok)
        return true;
    return refuse("The read was declined.");
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
    if (s_.processEvents)
        s_.processEvents();
    if (s_.port.isOpen() && !s_.stopRequested())
        return true;
    s_.ui.hscProgress.setVisible(false);
    s_.ui.lblProgress.setVisible(false);
    rules::applyIdleRules(s_.ui, s_.BpiServerRunning);
    return false;
}

void Launches::handOver(const OperationRequest& r, const QString& operation) {
    lastKind_ = r.kind;
    ++handedOver_;
    s_.operationName = operation;
    s_.ui.lblStatus.setText(operation + ": running");
    layout_.ArrangePanel();
    dispatcher_.DispatchOperation();
}

void Launches::launch(const OperationRequest& r) {
    if (!mayStart())
        return;
    const LaunchScope launching(s_);
    s_.outcome = {};
    if (const QString why = requestcheck::timing(r.timing); !why.isEmpty()) {
        s_.prompter.tell(why, "Warning", Icon::Information);
        refuse(why);
        return;
    }
    // The run's timing, as it was at launch.
    s_.ackIntervalMs = r.timing.ackIntervalMs;
    s_.timeoutLimit = std::int16_t(r.timing.timeoutLimit);
    s_.timer.setInterval(r.timing.ackIntervalMs);
    const int mode = r.isFpga() ? 0 : r.isSpi() ? 1 : 2;
    if (r.isRead())
        s_.readInto[mode] = r.path;
    else if (r.readsImage())
        s_.imageFrom[mode] = r.path;
    if (r.isFpga())
        launchFpga(r);
    else if (r.isSpi())
        launchSpi(r);
    else
        launchBpi(r);
}

void Launches::launchFpga(const OperationRequest& r) {
    BitfileInfo info;
    std::int32_t length = 0;
    try {
        info = readBitfileHeader(r.path);
        // A file past what the controller's count can say is no bitstream to send.
        length = conv::toInt32(info.length);
    } catch (const RuntimeError& e) {
        s_.reportError(e);
        refuse(e.description());
        if (r.kind == Kind::ServerLoad && s_.cancelBpiServerLoad)
            s_.cancelBpiServerLoad();
        return;
    }
    const QString text = "Bitfile is for a " + info.device + " device.  Is this correct?";
    if (s_.prompter.ask(text, "Device to Program", Icon::Question, Buttons::YesNo) != Answer::Yes) {
        // A refused server load is over: the next configuration must not end as one.
        if (r.kind == Kind::ServerLoad && s_.cancelBpiServerLoad)
            s_.cancelBpiServerLoad();
        refuse("The configuration was declined.");
        return;
    }
    s_.opState.SetState(OpStateObj::FpgaRunning);
    cfg_.begin(r, length);
    handOver(r, r.kind == Kind::ServerLoad ? "BPI server load" : "FPGA configuration");
}

void Launches::launchSpi(const OperationRequest& r) {
    auto& ui = s_.ui;
    QString name, progress;
    switch (r.kind) {
    case Kind::SpiIdCheck:
        name = "SPI ID Check";
        break;
    case Kind::SpiDetect:
        name = "SPI Detect";
        break;
    case Kind::SpiBulkErase:
        name = "SPI Bulk Erase";
        progress = "Bulk Erase Poll";
        ui.lblProgress.setText(progress);
        ui.lblProgress.setVisible(true);
        ui.hscProgress.setValue(0);
        ui.hscProgress.setVisible(true);
        break;
    case Kind::SpiSectorErase:
        name = progress = "SPI Sector Erase";
        prepareProgress(progress);
        break;
    case Kind::SpiProgram:
    case Kind::SpiFlash:
        if (!countGiven(r, "Enter bytes to write and try again"))
            return;
        // A flash erases what it programs: there is nothing for the operator to vouch for.
        if (r.kind == Kind::SpiProgram && !erasedConfirmed(r))
            return;
        name = r.kind == Kind::SpiFlash ? "SPI Flash" : "SPI Program";
        progress = r.kind == Kind::SpiFlash ? "SPI Flash" : "SPI Programming";
        prepareProgress(progress);
        break;
    case Kind::SpiRead:
        // An SPI read without a byte count reads to the end of the chip.
        progress = "Read Progress";
        prepareProgress(progress);
        if (!overwriteConfirmed(r, ui.txtSpiFile.text()))
            return;
        name = "SPI Read";
        break;
    case Kind::SpiVerify:
        if (!countGiven(r, "Enter bytes to read and try again"))
            return;
        progress = "SPI Validation";
        prepareProgress(progress);
        name = "SPI Verify";
        break;
    default:
        return;
    }
    s_.opState.SetState(OpStateObj::SpiRunning);
    spi_.begin(r, progress);
    handOver(r, name);
}

void Launches::launchBpi(const OperationRequest& r) {
    auto& ui = s_.ui;
    // A missing count has its own warning below.
    if (r.count != 0 || !r.usesRange())
        if (const QString why = requestcheck::bpi(r, requestcheck::BpiFlashSize); !why.isEmpty()) {
            s_.prompter.tell(why + "\r\nNothing was sent to the board.", "BPI Error",
                             Icon::Critical);
            refuse(why);
            return;
        }
    QString name, caption;
    switch (r.kind) {
    case Kind::BpiIdCheck:
        name = "BPI ID Check";
        break;
    case Kind::BpiErase:
        name = "BPI Bulk Erase";
        break;
    case Kind::BpiProgram:
        if (!countGiven(r, "Enter bytes to write and try again"))
            return;
        if (!erasedConfirmed(r))
            return;
        name = "BPI Program";
        caption = "BPI Programming Progress";
        break;
    case Kind::BpiRead:
        if (!countGiven(r, "Enter bytes to read and try again"))
            return;
        prepareProgress("Read Progress");
        if (!overwriteConfirmed(r, ui.txtBpiFile.text()))
            return;
        name = "BPI Read";
        caption = "Read Progress";
        break;
    case Kind::BpiVerify:
        if (!countGiven(r, "Enter bytes to read and try again"))
            return;
        name = "BPI Verify";
        caption = "BPI Verify Progress";
        break;
    default:
        return;
    }
    if (!caption.isEmpty())
        prepareProgress(caption);
    // The erase takes minutes, a transfer long: the set stays off until the server is done.
    if (r.kind != Kind::BpiIdCheck)
        rules::DisableFlashControls(ui, 1);
    if (r.usesRange() && !letEventsRun())
        return;
    s_.opState.SetState(OpStateObj::BpiRunning);
    bpi_.begin(r);
    handOver(r, name);
}
