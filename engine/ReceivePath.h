#pragma once

#include "engine/Session.h"

// Shows what arrives between operations in the receive console, in ASCII or hexadecimal.
class ReceivePath {
public:
    explicit ReceivePath(Session& session);

    // The port's receive event.
    void OnComm(int eventCode);
    // Takes one character from the port and shows it.
    void DisplayReceived();

    // What one received byte adds to the console text (pure, for tests).
    static QString render(char byte, bool hex);

private:
    Session& s_;
};
