#pragma once

#include "engine/Session.h"

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
    bool controllerAnswers();
    // How long a controller that has just taken a long filler may take to answer.
    static constexpr int SettleMs = 3000;
    void enableConnectedControls();

    Session& s_;
    Dispatcher& dispatcher_;
    Skinning& skinning_;
};
