#pragma once

#include "engine/Session.h"

class Connection;
class Skinning;

// What the panel shows of the connection: the controls a connected board allows, the skin
// of the connected window and the Disconnect caption, and all of it off again at Disconnect.
class ConnectedControls {
public:
    ConnectedControls(Session& session, Connection& connection, Skinning& skinning);

    void showConnected();
    void showDisconnected();

private:
    Session& s_;
    Skinning& skinning_;
};
