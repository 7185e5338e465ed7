#pragma once

#include "engine/OperationRequest.h"
#include "engine/Session.h"

class Launches;

// Esc while an operation runs. A read or a check stops at once, as Stop does; one that writes
// asks first, since a key pressed to close a menu must not leave a board half written. The
// operation goes on while the question is open.
class StopKey {
public:
    StopKey(Session& session, const Launches& launches);

    void press();
    // What Esc asks before it stops an operation of this kind; empty when it stops at once.
    static QString question(OperationRequest::Kind kind);

private:
    Session& s_;
    const Launches& launches_;
    bool asking_ = false;
};
