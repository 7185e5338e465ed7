#include "fpga/BitfileSelection.h"

#include "engine/RuntimeError.h"
#include "fpga/BitfileHeader.h"

void ReadBitfileHeader(Session& session, const QString& path) {
    auto& ui = session.ui;
    if (path.isEmpty()) {
        ui.txtDevice.setText("None");
        return;
    }
    try {
        const BitfileInfo info = readBitfileHeader(path);
        ui.txtFilelen.setText(info.length);
        ui.txtDevice.setText(info.device);
    } catch (const RuntimeError& e) {
        session.reportError(e);
    }
}
