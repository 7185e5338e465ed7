#include "panel/PortSettings.h"

#include "engine/Connection.h"
#include "engine/Conversions.h"
#include "engine/RuntimeError.h"
#include "link/ControllerProtocol.h"

#include <QScopeGuard>

PortSettings::PortSettings(CommPropertiesControls& dlg, Session& session, Connection& connection)
    : dlg_(dlg)
    , s_(session)
    , connection_(connection) {
    dlg_.btnRestore.onClick = [this] { RestoreDefaults(); };
    dlg_.btnOK.onClick = [this] { OK(); };
    dlg_.btnCancel.onClick = [this] { Cancel(); };
}

void PortSettings::Load() {
    noPorts_ = true;
    ScanComPorts();
    if (!noPorts_)
        RestoreDefaults();
}

void PortSettings::Activate() {
    ScanComPorts();
}

// Answers whether port n opened; a port that answers "ack" becomes the detected one.
bool PortSettings::probe(int number) {
    auto& port = s_.port;
    try {
        port.setPortNumber(number);
        if (!port.isOpen())
            port.open();
    } catch (const RuntimeError& e) {
        // A port that is there but cannot be had is worth a word; an absent number is not.
        if (e.number() != RuntimeError::PortOpenFailed)
            failures_.append({number, e.description()});
        return false;
    }
    try {
        port.setReadLength(0);
        port.write(protocol::frame("get_config"));
        s_.clock.sleepMs(20);
        const QByteArray reply = port.read();
        if (reply.contains("ack"))
            answered_ << number;
        if (reply.contains("ack") || detectedPort_ == 0)
            detectedPort_ = std::int16_t(number);
        boardAnswered_ = boardAnswered_ || reply.contains("ack");
    } catch (const RuntimeError&) {
        // A port that fails while probed is still listed: it opened.
    }
    port.close();
    return true;
}

void PortSettings::ScanComPorts() {
    detectedPort_ = 0;
    boardAnswered_ = false;
    answered_.clear();
    failures_.clear();
    const int readLength = s_.port.readLength();
    // Probing moves the port number; a dialog left without OK must not have changed it.
    const int portNumber = s_.port.portNumber();
    const auto restore = qScopeGuard([&] {
        s_.port.setPortNumber(portNumber);
        s_.port.setReadLength(readLength);
    });
    s_.port.refreshPorts();
    QList<int> opened;
    for (int n = 1; n <= 99; ++n)
        if (probe(n))
            opened << n;
    const int previous = int(dlg_.cbCom.items().size());
    if (opened.isEmpty()) {
        if (s_.connected())
            connection_.Disconnect();
        noPorts_ = true;
        s_.ui.btnConnect.setEnabled(false);
        dlg_.cbCom.clearItems();
        listed_.clear();
        // Ports that are there but refused say why, with the fix where there is one.
        QStringList text{"No Com ports available"};
        if (!failures_.isEmpty())
            text << "";
        for (const auto& failure : failures_)
            text << failure.second;
        if (failures_.isEmpty() && !s_.port.noPortsHint().isEmpty())
            text << "" << s_.port.noPortsHint();
        s_.prompter.tell(text.join("\r\n"), "FATAL: Port Detect Error", Prompter::Icon::Critical);
        detectedPort_ = 1;
        dlg_.CommPropertiesPanel.setVisible(false);
        return;
    }
    // The board's port on top, the others in ascending order.
    listed_ = opened;
    if (answered_.contains(detectedPort_)) {
        listed_.removeOne(detectedPort_);
        listed_.prepend(detectedPort_);
    }
    const int selected = dlg_.cbCom.selectedIndex();
    dlg_.cbCom.clearItems();
    for (int n : listed_)
        dlg_.cbCom.addItem(s_.port.portLabel(n));
    const int count = int(listed_.size());
    const bool shrank = previous > count;
    dlg_.cbCom.setSelectedIndex(shrank || selected < 0 || selected >= count ? 0 : selected);
    s_.ui.btnConnect.setEnabled(true);
    noPorts_ = false;
}

void PortSettings::RestoreDefaults() {
    dlg_.cbCom.setSelectedIndex(dlg_.cbCom.items().isEmpty() ? -1 : 0);
    dlg_.cbBPS.setSelectedIndex(3);
    dlg_.cbDataBits.setSelectedIndex(0);
    dlg_.cbParity.setSelectedIndex(0);
    dlg_.cbStopBits.setSelectedIndex(0);
    dlg_.cbFlow.setSelectedIndex(0);
}

QString PortSettings::settingsString() const {
    return dlg_.cbBPS.selectedItem() + "," + dlg_.cbParity.selectedItem().left(1) + "," +
           dlg_.cbDataBits.selectedItem() + "," + dlg_.cbStopBits.selectedItem();
}

void PortSettings::OK() {
    auto& port = s_.port;
    const bool reopen = port.isOpen();
    if (reopen)
        port.close();
    try {
        // With no port listed there is nothing to choose: the port number stays as it was.
        const int at = dlg_.cbCom.selectedIndex();
        if (at >= 0 && at < listed_.size())
            port.setPortNumber(listed_[at]);
        else if (at >= 0)
            port.setPortNumber(conv::toInt16(dlg_.cbCom.selectedItem().mid(3)));
        if (dlg_.cbBPS.selectedIndex() >= 0)
            port.setSettings(settingsString());
        if (reopen)
            port.open();
    } catch (const RuntimeError& e) {
        s_.reportError(e);
    }
    s_.ui.btnConnect.setText("Connect to " + port.portName());
    dlg_.CommPropertiesPanel.setVisible(false);
}

void PortSettings::Cancel() {
    dlg_.CommPropertiesPanel.setVisible(false);
}

void PortSettings::FindBoardComPort() {
    s_.port.setPortNumber(detectedPort_);
}
