#pragma once

#include "controls/MainPanelControls.h"
#include "engine/Session.h"

class Connection;

// The port settings dialog's behaviour: the scan of ports 1 to 99 for a controller that
// answers "get_config", the line settings, and the choice of the board's port. The list shows
// each port by its system name and what a USB serial port says of itself.
class PortSettings {
public:
    PortSettings(CommPropertiesControls& dlg, Session& session, Connection& connection);

    void Load();
    void Activate();
    void ScanComPorts();
    void RestoreDefaults();
    void OK();
    void Cancel();
    void FindBoardComPort();

    int detectedPort() const { return detectedPort_; }
    // Of the last scan: the ports whose controller answered, in ascending order, and why the
    // ports that are there but did not open were refused.
    const QList<int>& answered() const { return answered_; }
    const QList<std::pair<int, QString>>& failures() const { return failures_; }
    bool noPorts() const { return noPorts_; }
    // The last scan found a controller (rather than falling back on the first port).
    bool boardAnswered() const { return boardAnswered_; }
    QString settingsString() const;

private:
    bool probe(int number);

    CommPropertiesControls& dlg_;
    Session& s_;
    Connection& connection_;
    std::int16_t detectedPort_ = 0;
    bool noPorts_ = true;
    bool boardAnswered_ = false;
    QList<int> answered_;
    QList<std::pair<int, QString>> failures_;
    // The port number of each entry of the list.
    QList<int> listed_;
};
