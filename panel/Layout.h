#pragma once

#include "link/Session.h"

class Connection;

// The panel's layout per mode, the mode switches and the path each mode remembers.
class Layout {
public:
    Layout(Session& session, Connection& connection);

    void ArrangePanel();
    void SaveModePath();
    void mnuFPGA_Click();
    void mnuSPI_Click();
    void mnuBPI_Click();
    void rbBoard_Click(int index);

    // Called when a mode switch finds an operation running: the program must not end.
    std::function<void()> onInvalidState;

private:
    void checkMode(Control& chosen);

    Session& s_;
    Connection& connection_;
};
