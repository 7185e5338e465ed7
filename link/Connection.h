#pragma once

#include "link/Session.h"

class Dispatcher;
class Skinning;

inline const QString MakerDownloadSite = QStringLiteral("https://vexa.zelto.example/downloads");
inline const QString MakerWebSite = QStringLiteral("https://www.zelto.example");

// Connect, Disconnect and the BPI server probe.
class Connection {
public:
    Connection(Session& session, Dispatcher& dispatcher, Skinning& skinning);

    void Connect();
    void Disconnect();
    bool CheckBpiServer();

private:
    enum class Check { Passed, Refused };
    Check checkController();
    QByteArray versionReply();
    void offerToFinishTransfer();
    void enableConnectedControls();

    Session& s_;
    Dispatcher& dispatcher_;
    Skinning& skinning_;
};
