#include "panel/SavedSettings.h"

#include "panel/MainPanelModel.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const char* const ModeNames[] = {"fpga", "spi", "bpi"};

int modeOf(std::int16_t state) {
    return state <= OpStateObj::FpgaRunning ? 0 : state <= OpStateObj::SpiRunning ? 1 : 2;
}

Control& modeMenu(MainPanelControls& ui, int mode) {
    return mode == 0 ? ui.mnuFPGA : mode == 1 ? ui.mnuSPI : ui.mnuBPI;
}

// A remembered list choice, when the list still holds it.
void selectStored(Control& list, const QVariant& index) {
    bool ok = false;
    const int i = index.toInt(&ok);
    if (ok && i >= 0 && i < list.items().size() && i != list.selectedIndex())
        list.setSelectedIndex(i);
}

} // namespace

SavedSettings::SavedSettings(MainPanelModel& model, QSettings& store)
    : m_(model)
    , store_(store) {}

void SavedSettings::save() {
    auto& ui = m_.ui;
    auto& comm = m_.comm;
    const Session& s = m_.session;
    store_.setValue("port/name", comm.cbCom.selectedItem());
    store_.setValue("port/bps", comm.cbBPS.selectedIndex());
    store_.setValue("port/dataBits", comm.cbDataBits.selectedIndex());
    store_.setValue("port/parity", comm.cbParity.selectedIndex());
    store_.setValue("port/stopBits", comm.cbStopBits.selectedIndex());
    const int mode = modeOf(s.opState.State());
    store_.setValue("mode", ModeNames[mode]);
    if (ui.cbFlash.selectedIndex() >= 0)
        store_.setValue("device", ui.cbFlash.selectedItem());
    // The current mode's path is in the path field; the others were kept when it was left.
    const QString paths[] = {s.fpgaPath, s.spiPath, s.bpiPath};
    for (int m = 0; m < 3; ++m)
        store_.setValue(QString("files/") + ModeNames[m], m == mode ? ui.txtPath.text() : paths[m]);
    const char* const uses[] = {"fpga", "spi", "bpi", "skin"};
    for (int u = 0; u < 4; ++u)
        store_.setValue(QString("folders/") + uses[u], m_.menus.lastFolder[u]);
    store_.setValue("offset", ui.txtOffset.text());
    store_.setValue("bytes", ui.txtPrgBytes.text());
    store_.setValue("fastAck", ui.chkFastAck.checked());
    store_.setValue("flashSteps", ui.chkFlashSteps.checked());
    if (saveGeometry)
        store_.setValue("window/geometry", saveGeometry());
    store_.sync();
}

void SavedSettings::restore() {
    auto& ui = m_.ui;
    restorePort();
    restoreFiles();
    if (store_.contains("device")) {
        const int i = int(ui.cbFlash.items().indexOf(store_.value("device").toString()));
        if (i >= 0)
            ui.cbFlash.setSelectedIndex(i);
    }
    // The offset first: emptying it would clear the byte count.
    if (store_.contains("offset"))
        ui.txtOffset.setText(store_.value("offset").toString());
    if (store_.contains("bytes"))
        ui.txtPrgBytes.setText(store_.value("bytes").toString());
    if (store_.contains("mode")) {
        const int mode = QStringList{"fpga", "spi", "bpi"}.indexOf(store_.value("mode").toString());
        if (mode >= 0 && mode != modeOf(m_.session.opState.State()))
            modeMenu(ui, mode).click();
    }
    if (store_.contains("fastAck")) {
        const bool fast = store_.value("fastAck").toBool();
        if (fast != ui.chkFastAck.checked()) {
            ui.chkFastAck.setChecked(fast);
            ui.chkFastAck.click();
        }
    }
    ui.chkFlashSteps.setChecked(store_.value("flashSteps", false).toBool());
    const char* const uses[] = {"fpga", "spi", "bpi", "skin"};
    for (int u = 0; u < 4; ++u)
        if (const QString f = store_.value(QString("folders/") + uses[u]).toString(); !f.isEmpty())
            m_.menus.lastFolder[u] = f;
    if (restoreGeometry && store_.contains("window/geometry"))
        restoreGeometry(store_.value("window/geometry").toByteArray());
}

// The line settings as they were; the port too, unless the scan found the board elsewhere.
void SavedSettings::restorePort() {
    auto& comm = m_.comm;
    if (comm.cbCom.items().isEmpty() || !store_.contains("port/bps"))
        return;
    selectStored(comm.cbBPS, store_.value("port/bps"));
    selectStored(comm.cbDataBits, store_.value("port/dataBits"));
    selectStored(comm.cbParity, store_.value("port/parity"));
    selectStored(comm.cbStopBits, store_.value("port/stopBits"));
    const int port = int(comm.cbCom.items().indexOf(store_.value("port/name").toString()));
    if (port >= 0 && !m_.portSettings.boardAnswered())
        comm.cbCom.setSelectedIndex(port);
    m_.portSettings.OK();
}

// Each mode's file as if chosen again in its mode; files gone since are left out.
void SavedSettings::restoreFiles() {
    auto& ui = m_.ui;
    for (int mode = 0; mode < 3; ++mode) {
        const QString path = store_.value(QString("files/") + ModeNames[mode]).toString();
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        // A flash file may be one that Read was to create; a bitstream must be there.
        if (!info.isFile() && (mode == 0 || info.exists() || !info.absoluteDir().exists()))
            continue;
        modeMenu(ui, mode).click();
        m_.menus.takeFile(path);
    }
}
