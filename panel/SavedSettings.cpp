#include "panel/SavedSettings.h"

#include "panel/MainPanelModel.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

// In the order of the operation state's modes.
const char* const ModeNames[] = {"fpga", "spi", "bpi"};

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

// What tells a changed file from the one a count was remembered for: its size and time.
struct FileStamp {
    qint64 size = -1;
    qint64 modified = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return {};
    return {info.size(), info.lastModified().toMSecsSinceEpoch()};
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
    const int mode = int(s.opState.mode());
    store_.setValue("mode", ModeNames[mode]);
    if (ui.cbFlash.selectedIndex() >= 0)
        store_.setValue("device", ui.cbFlash.selectedItem());
    // The current mode's path is in the path field; the others were kept when it was left.
    QString paths[] = {s.fpgaPath, s.spiPath, s.bpiPath};
    paths[mode] = ui.txtPath.text();
    // A read's target is not remembered as the file to program: the last image is.
    bool readTarget[3] = {};
    for (int m = 1; m < 3; ++m) {
        readTarget[m] = !s.readInto[m].isEmpty() && paths[m] == s.readInto[m];
        if (readTarget[m])
            paths[m] = s.imageFrom[m];
    }
    for (int m = 0; m < 3; ++m)
        store_.setValue(QString("files/") + ModeNames[m], paths[m]);
    const char* const uses[] = {"fpga", "spi", "bpi", "skin"};
    for (int u = 0; u < 4; ++u)
        store_.setValue(QString("folders/") + uses[u], m_.menus.lastFolder[u]);
    // Likewise the current flash mode's range is in the fields, with the file it was set for.
    Session::FlashRange ranges[] = {{}, s.spiRange, s.bpiRange};
    ranges[mode] = {ui.txtOffset.text(), ui.txtPrgBytes.text()};
    for (int m = 1; m < 3; ++m) {
        const QString group = QString(ModeNames[m]) + "/";
        store_.setValue(group + "offset", ranges[m].offset);
        // The count in the fields was the read's, not the image's.
        if (readTarget[m])
            store_.remove(group + "bytes");
        else
            store_.setValue(group + "bytes", ranges[m].bytes);
        const FileStamp stamp = stampOf(paths[m]);
        store_.setValue(group + "fileSize", stamp.size);
        store_.setValue(group + "fileModified", stamp.modified);
    }
    // Superseded by the SPI mode's own keys.
    store_.remove("offset");
    store_.remove("bytes");
    store_.setValue("fastAck", ui.chkFastAck.checked());
    store_.setValue("flashSteps", ui.chkFlashSteps.checked());
    store_.setValue("pipeline", ui.chkPipeline.checked());
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
    restoreRanges();
    if (store_.contains("mode")) {
        const int mode = QStringList{"fpga", "spi", "bpi"}.indexOf(store_.value("mode").toString());
        if (mode >= 0 && mode != int(m_.session.opState.mode()))
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
    ui.chkPipeline.setChecked(store_.value("pipeline", false).toBool());
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

// Each flash mode's offset, and its count unless its file has changed since: a count cut short
// of a rebuilt image would program part of it. Otherwise the count stays as taking the file set
// it (its length).
void SavedSettings::restoreRanges() {
    Session& s = m_.session;
    // The fields hold the current mode's range: kept first, shown again after.
    m_.layout.SaveModePath();
    Session::FlashRange* const ranges[] = {nullptr, &s.spiRange, &s.bpiRange};
    for (int m = 1; m < 3; ++m) {
        const QString group = QString(ModeNames[m]) + "/";
        // A store from before the ranges were per mode has the SPI mode's alone, without keys
        // of its file's stamp: a count for a file that is there now is not taken from it.
        const auto stored = [&](const QString& key) {
            return store_.value(group + key, m == 1 ? store_.value(key) : QVariant());
        };
        if (const QVariant offset = stored("offset"); offset.isValid())
            ranges[m]->offset = offset.toString();
        const FileStamp then{store_.value(group + "fileSize", -1).toLongLong(),
                             store_.value(group + "fileModified", 0).toLongLong()};
        const QVariant bytes = stored("bytes");
        if (bytes.isValid() &&
            then == stampOf(store_.value(QString("files/") + ModeNames[m]).toString()))
            ranges[m]->bytes = bytes.toString();
    }
    m_.layout.ShowModeRange();
}
