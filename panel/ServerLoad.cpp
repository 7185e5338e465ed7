#include "panel/ServerLoad.h"

#include "engine/Connection.h"
#include "link/ControllerProtocol.h"
#include "panel/PanelRules.h"

ServerLoad::ServerLoad(Session& session)
    : s_(session) {
    s_.ui.btnLoad.onClick = [this] { btnLoad_Click(); };
    s_.ui.mnuAbout.onClick = [this] { mnuAbout_Click(); };
    s_.finishBpiServerLoad = [this] { FinishBpiServerLoad(); };
    s_.cancelBpiServerLoad = [this] { CancelBpiServerLoad(); };
}

void ServerLoad::btnLoad_Click() {
    auto& ui = s_.ui;
    if (s_.busy())
        return;
    const QString server = ui.cbBpi.selectedItem();
    if (ui.rbBoard[0].checked() && server != "bpi_server_v" + protocol::ServerVersion) {
        const QStringList lines = {
            ui.MainPanel.text() + " requires that BPI server version " + protocol::ServerVersion +
                " be designated",
            "for download to the FPGA, prior to performing additional BPI operations.",
            "",
            "The Comm port parameters must also be set to 115200,n,8,1.",
            "Software files can be downloaded from the Zelto Vexa:",
            "",
            QString(11, ' ') + MakerDownloadSite};
        s_.prompter.tell(lines.join("\r\n"), "Warning", Prompter::Icon::Exclamation);
        return;
    }
    s_.BpiServerLoading = true;
    s_.SavedBitFile = ui.txtBitFile.text();
    s_.SavedBitFilePath = s_.fpgaPath;
    ui.txtBitFile.setText(server + ".bit");
    s_.fpgaPath = s_.dataFolders.pathFor(server + ".bit");
    selectFpgaMode();
    readBitfileHeader(s_.fpgaPath);
    ui.btnCfgFPGA.click();
}

void ServerLoad::FinishBpiServerLoad() {
    auto& ui = s_.ui;
    ui.txtBitFile.setText(s_.SavedBitFile);
    selectBpiMode();
    s_.fpgaPath = s_.SavedBitFilePath;
    readBitfileHeader(s_.fpgaPath);
    s_.BpiServerRunning = true;
    ui.btnIDecho[1].setEnabled(true);
    ui.btnBulkErase[1].setEnabled(true);
    ui.btnProgram[1].setEnabled(ui.txtBpiFile.text() != rules::NoneSelected && s_.connected());
    ui.btnRead[1].setEnabled(ui.btnProgram[1].enabled());
    ui.btnVerify[1].setEnabled(ui.btnProgram[1].enabled());
    s_.BpiServerLoading = false;
}

// A load that was refused, failed or abandoned: the operator's own bitstream comes back and
// nothing claims that a server runs.
void ServerLoad::CancelBpiServerLoad() {
    if (!s_.BpiServerLoading)
        return;
    s_.BpiServerLoading = false;
    s_.ui.txtBitFile.setText(s_.SavedBitFile);
    s_.fpgaPath = s_.SavedBitFilePath;
    if (s_.opState.mode() == OpStateObj::Mode::Fpga && !s_.opState.running())
        s_.ui.txtPath.setText(s_.fpgaPath);
    readBitfileHeader(s_.fpgaPath);
}

void ServerLoad::mnuAbout_Click() {
    const QStringList lines = {s_.ui.MainPanel.text(),
                               "  compatible with:",
                               "Cypress PSoC Firmware v" + protocol::RequiredFirmware,
                               "MicroBlaze Spansion BPI Server v" + protocol::ServerVersion,
                               "",
                               "For more information, see:",
                               MakerWebSite,
                               "For software download, visit the Zelto Vexa Portal:",
                               "",
                               QString(8, ' ') + MakerDownloadSite};
    s_.prompter.tell(lines.join("\r\n"), "Application Information", Prompter::Icon::Information);
}
