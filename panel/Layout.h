#pragma once

#include "engine/Session.h"

class Connection;

// The panel's layout per mode, the mode switches and the path each mode remembers.
class Layout {
public:
    Layout(Session& session, Connection& connection);

    void ArrangePanel();
    // Keeps the mode's path, and a flash mode's offset and byte count, as the mode is left.
    void SaveModePath();
    // Puts the current flash mode's own offset and byte count in the fields.
    void ShowModeRange();
    void mnuFPGA_Click();
    void mnuSPI_Click();
    void mnuBPI_Click();
    void rbBoard_Click(int index);

    // Called when a mode switch finds an operation running: the program must not end.
    std::function<void()> onInvalidState;

private:
    void checkMode(Control& chosen);
    Session::FlashRange* modeRange();

    Session& s_;
    Connection& connection_;
};
