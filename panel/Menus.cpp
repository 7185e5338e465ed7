#include "panel/Menus.h"

#include "engine/FlashImage.h"
#include "engine/RuntimeError.h"
#include "panel/PortSettings.h"
#include "panel/Skinning.h"

#include <QDir>
#include <QFileInfo>

Menus::Menus(Session& session, DebugPWControls& debugPw, CommPropertiesControls& comm,
             PortSettings& portSettings, Skinning& skinning)
    : s_(session)
    , pw_(debugPw)
    , comm_(comm)
    , portSettings_(portSettings)
    , skinning_(skinning) {
    auto& ui = s_.ui;
    ui.mnuOpenFile.onClick = [this] { mnuOpenFile_Click(); };
    for (Control* c : {&ui.txtBitFile, &ui.txtSpiFile, &ui.txtBpiFile})
        c->onDoubleClick = [this] { mnuOpenFile_Click(); };
    ui.Command1.onClick = [this] { mnuOpenFile_Click(); };
    ui.mnuExit.onClick = [this] { mnuExit_Click(); };
    ui.mnuComm.onClick = [this] { mnuComm_Click(); };
    ui.mnuSkin.onClick = [this] { mnuSkin_Click(); };
    ui.mnuDefaultGUI.onClick = [this] { mnuDefaultGUI_Click(); };
    ui.mnuBoardCheck.onClick = [this] { mnuBoardCheck_Click(); };
    ui.Image1.onDoubleClick = [this] { Image1_DblClick(); };
    ui.mnuDebug.onClick = [this] { mnuDebug_Click(); };
    ui.chkFastAck.onClick = [this] { s_.fastAck = s_.ui.chkFastAck.checked(); };
    pw_.btnOK.onClick = [this] { DebugPW_OK(); };
}

Menus::Use Menus::currentUse() const {
    switch (s_.opState.mode()) {
    case OpStateObj::Mode::Fpga:
        return FpgaFile;
    case OpStateObj::Mode::Spi:
        return SpiFile;
    case OpStateObj::Mode::Bpi:
        break;
    }
    return BpiFile;
}

void Menus::mnuOpenFile_Click() {
    // A running operation took its file at launch; another chosen now would only mislead.
    if (s_.busy())
        return;
    const Use use = currentUse();
    const QString flashFilter = "Bitstreams (*.bit,*.bin)| *.bit;*.bin|Software "
                                "(*.elf,*.srec,*.bin) |*.elf;*.srec;*.bin|All Files (*.*)|*.*||";
    FilePicker::Request r;
    r.title = use == FpgaFile  ? "Select Bitfile"
              : use == SpiFile ? "Select SPI File"
                               : "Select BPI File";
    r.filter = use == FpgaFile ? "Bit Files (*.bit)| *.bit" : flashFilter;
    r.folder = lastFolder[use];
    // A flash file may be one that Read is to create.
    r.mayBeNew = use != FpgaFile;
    const QString path = s_.picker.choose(r);
    if (!path.isEmpty())
        takeFile(path);
}

bool Menus::takeFile(const QString& path) {
    auto& ui = s_.ui;
    const Use use = currentUse();
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (use == FpgaFile) {
        readBitfileHeader(path);
        ui.txtPath.setText(path);
        ui.txtBitFile.setText(name);
        lastFolder[use] = info.absolutePath();
        return true;
    }
    // A name not there yet in an existing folder is a file for Read to create: it has no
    // length to take, and Program and Verify will say it is missing.
    const bool newFile = !info.exists() && !info.isSymLink() && info.absoluteDir().exists();
    if (!newFile) {
        try {
            FileSlot probe;
            probe.openForReading(path);
            // An Intel HEX file or a bitstream puts fewer bytes into flash than it holds.
            const qint64 length = use == SpiFile ? flashImageLength(path) : probe.size();
            if (length > 0)
                ui.txtPrgBytes.setText(QString::number(length));
        } catch (const RuntimeError& e) {
            // A file that cannot be read is not taken: nothing changes.
            s_.reportError(e);
            return false;
        }
    }
    ui.txtPath.setText(path);
    (use == SpiFile ? ui.txtSpiFile : ui.txtBpiFile).setText(name);
    lastFolder[use] = info.absolutePath();
    return true;
}

void Menus::mnuExit_Click() {
    if (closeWindow)
        closeWindow();
}

void Menus::mnuComm_Click() {
    // The scan opens and closes ports: never under a running operation.
    if (s_.busy())
        return;
    if (showModal)
        showModal(comm_.CommPropertiesPanel, [this] { portSettings_.Activate(); });
    else
        portSettings_.Activate();
}

void Menus::mnuSkin_Click() {
    const QString path = s_.picker.choose(
        {"Open", "URF Files (*.urf)|*.urf|All Files (*.*)|*.*||", lastFolder[SkinFile], false});
    if (path.isEmpty())
        return;
    lastFolder[SkinFile] = QFileInfo(path).absolutePath();
    skinning_.skinStart(path, 2);
}

void Menus::mnuDefaultGUI_Click() {
    if (s_.ui.mnuSkin.enabled())
        skinning_.skinStart("", 0);
}

void Menus::mnuBoardCheck_Click() {
    s_.ui.mnuBoardCheck.setText(s_.BoardCheckDisabled ? "Disable Board Check"
                                                      : "Enable Board Check");
    s_.BoardCheckDisabled = !s_.BoardCheckDisabled;
}

void Menus::Image1_DblClick() {
    s_.ui.mnuDebug.setVisible(true);
    s_.ui.mnuDefaultGUI.setVisible(true);
    s_.ui.mnuSkin.setVisible(true);
}

void Menus::mnuDebug_Click() {
    const auto activate = [this] {
        pw_.txtDebug.setText("");
        pw_.txtDebug.setFocus();
    };
    if (showModal)
        showModal(pw_.DebugPW, activate);
    else
        activate();
}

void Menus::DebugPW_OK() {
    if (pw_.txtDebug.text() == DebugCode)
        s_.ui.MainPanel.setHeight(11000);
    pw_.DebugPW.setVisible(false);
}
