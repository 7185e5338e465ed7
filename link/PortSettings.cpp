#include "link/PortSettings.h"

#include "link/Connection.h"
#include "link/ControllerProtocol.h"
#include "link/Conversions.h"
#include "link/RuntimeError.h"

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
    } catch (const RuntimeError&) {
        return false;
    }
    try {
        port.setReadLength(0);
        port.write(protocol::frame("get_config"));
        s_.clock.sleepMs(20);
        const QByteArray reply = port.read();
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
    int count = 0;
    const int readLength = s_.port.readLength();
    // Probing moves the port number; a dialog left without OK must not have changed it.
    const int portNumber = s_.port.portNumber();
    const auto restore = qScopeGuard([&] {
        s_.port.setPortNumber(portNumber);
        s_.port.setReadLength(readLength);
    });
    QStringList entries = dlg_.cbCom.items();
    for (int n = 1; n <= 99; ++n) {
        if (!probe(n))
            continue;
        const QString entry = QString("COM%1").arg(n);
        if (count == 0 || detectedPort_ != n) {
            if (count < entries.size())
                entries[count] = entry;
            else
                entries.append(entry);
        } else {
            const QString first = entries[0];
            if (count < entries.size())
                entries[count] = first;
            else
                entries.append(first);
            entries[0] = entry;
        }
        ++count;
    }
    if (count == 0) {
        if (s_.connected())
            connection_.Disconnect();
        noPorts_ = true;
        s_.ui.btnConnect.setEnabled(false);
        dlg_.cbCom.clearItems();
        s_.prompter.tell("No Com ports available", "FATAL: Port Detect Error",
                         Prompter::Icon::Critical);
        detectedPort_ = 1;
        dlg_.CommPropertiesPanel.setVisible(false);
        return;
    }
    const int selected = dlg_.cbCom.selectedIndex();
    dlg_.cbCom.clearItems();
    for (int i = 0; i < count; ++i)
        dlg_.cbCom.addItem(entries[i]);
    const bool shrank = entries.size() > count;
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
        if (dlg_.cbCom.selectedIndex() >= 0)
            port.setPortNumber(conv::toInt16(dlg_.cbCom.selectedItem().mid(3)));
        if (dlg_.cbBPS.selectedIndex() >= 0)
            port.setSettings(settingsString());
        if (reopen)
            port.open();
    } catch (const RuntimeError& e) {
        s_.reportError(e);
    }
    s_.ui.btnConnect.setText(QString("Connect to COM%1").arg(port.portNumber()));
    dlg_.CommPropertiesPanel.setVisible(false);
}

void PortSettings::Cancel() {
    dlg_.CommPropertiesPanel.setVisible(false);
}

void PortSettings::FindBoardComPort() {
    s_.port.setPortNumber(detectedPort_);
}
