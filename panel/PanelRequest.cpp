#include "panel/PanelRequest.h"

#include "engine/Conversions.h"

OperationRequest requestFromPanel(const Session& s, OperationRequest::Kind kind) {
    const auto& ui = s.ui;
    OperationRequest r;
    r.kind = kind;
    r.path = ui.txtPath.text();
    r.device = ui.cbFlash.selectedItem();
    r.timing = {s.ackIntervalMs, s.timeoutLimit, conv::toInt32(ui.txtSleep.text()),
                ui.chkPipeline.checked()};
    if (r.usesRange()) {
        r.offset = conv::hexToInt32(ui.txtOffset.text());
        r.count = conv::toInt32(ui.txtPrgBytes.text());
    }
    if (kind == OperationRequest::Kind::BpiProgram)
        r.burst = conv::toInt32(ui.txtBpiBurstSize.text());
    return r;
}
