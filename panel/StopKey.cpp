#include "panel/StopKey.h"

#include "panel/Launches.h"

StopKey::StopKey(Session& session, const Launches& launches)
    : s_(session)
    , launches_(launches) {}

QString StopKey::question(OperationRequest::Kind kind) {
    using K = OperationRequest::Kind;
    switch (kind) {
    case K::FpgaConfigure:
        return "Stop the FPGA configuration? The FPGA will be left unconfigured.";
    case K::ServerLoad:
        return "Stop the BPI server load? The FPGA will be left without the server.";
    case K::SpiBulkErase:
        return "Stop the SPI Bulk Erase? The flash will be left partly erased.";
    case K::SpiSectorErase:
        return "Stop the SPI Sector Erase? The flash will be left partly erased.";
    case K::SpiProgram:
        return "Stop the SPI Program? The flash will be left partly programmed.";
    case K::SpiFlash:
        return "Stop the SPI Flash? The flash will be left partly erased and programmed.";
    case K::BpiErase:
        return "Stop the BPI Bulk Erase? The flash will be left partly erased.";
    case K::BpiProgram:
        return "Stop the BPI Program? The flash will be left partly programmed.";
    default:
        return {};
    }
}

void StopKey::press() {
    Control& stop = s_.ui.btnStop;
    if (asking_ || !stop.visible() || !stop.enabled())
        return;
    const QString ask = question(launches_.lastKind());
    if (!ask.isEmpty()) {
        const int run = launches_.handedOver();
        asking_ = true;
        const Prompter::Answer answer =
            s_.prompter.ask(ask, "Warning", Prompter::Icon::Question, Prompter::Buttons::YesNo);
        asking_ = false;
        // The operation may have ended while the operator read the question.
        if (answer != Prompter::Answer::Yes || launches_.handedOver() != run ||
            !s_.opState.running() || !stop.visible() || !stop.enabled())
            return;
    }
    stop.click();
}
