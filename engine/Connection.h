#pragma once

#include "engine/Session.h"

class Dispatcher;

inline const QString MakerDownloadSite = QStringLiteral("https://vexa.zelto.example/downloads");
inline const QString MakerWebSite = QStringLiteral("https://www.zelto.example");

// Connect, Disconnect and the BPI server probe.
class Connection {
public:
    Connection(Session& session, Dispatcher& dispatcher);

    void Connect();
    void Disconnect();
    bool CheckBpiServer();

    // Supplied by the panel: what it shows of a board connected or let go.
    std::function<void()> onConnected;
    std::function<void()> onDisconnected;

private:
    enum class Check { Passed, Refused };
    Check checkController();
    QByteArray versionReply();
    void offerToFinishTransfer();
    bool controllerAnswers();
    // How long a controller that has just taken a long filler may take to answer.
    static constexpr int SettleMs = 3000;

    Session& s_;
    Dispatcher& dispatcher_;
};
