#include "panel/ConnectedControls.h"

#include "engine/Connection.h"
#include "panel/PanelRules.h"
#include "panel/Skinning.h"

ConnectedControls::ConnectedControls(Session& session, Connection& connection, Skinning& skinning)
    : s_(session)
    , skinning_(skinning) {
    connection.onConnected = [this] { showConnected(); };
    connection.onDisconnected = [this] { showDisconnected(); };
}

void ConnectedControls::showConnected() {
    auto& ui = s_.ui;
    ui.btnConnect.setVisible(false);
    ui.btnDisconnect.setVisible(true);
    ui.mnuComm.setEnabled(false);
    ui.txtSendView.setEnabled(true);
    ui.btnTransmitWnd.setEnabled(true);
    ui.btnCfgFPGA.setEnabled(rules::IsFpgaReady(ui));
    rules::applySpiButtonRule(ui);
    rules::applyBpiButtonRule(ui, s_.BpiServerRunning);
    ui.btnLoad.setEnabled(true);
    ui.txtSendView.setFocus();
    if (ui.mnuSkin.enabled())
        skinning_.skinWindowSetEx(ui.btnConnect.name(), s_.dataFolders.pathFor("Skins/belv.urf"));
    ui.btnDisconnect.setText("Disconnect from " + s_.port.portName());
}

void ConnectedControls::showDisconnected() {
    auto& ui = s_.ui;
    ui.btnConnect.setVisible(true);
    ui.btnDisconnect.setVisible(false);
    ui.btnTransmitWnd.setEnabled(false);
    ui.mnuComm.setEnabled(true);
    ui.txtSendView.setEnabled(false);
    ui.btnCfgFPGA.setEnabled(false);
    for (int i = 0; i < 2; ++i)
        rules::DisableFlashControls(ui, i);
    ui.btnLoad.setEnabled(false);
}
