#pragma once

#include "engine/Session.h"

// The terminal: the send console with its two send modes, Send, Send Ascii Table, the Clear
// buttons and the receive display mode.
class Consoles {
public:
    explicit Consoles(Session& session);

    void btnTransmitWnd_Click();
    void txtSendView_KeyPress(int code);
    void btnSendBlock_Click();
    void btnClr_Click(int index);
    void rbRecvMode_Click(int index);
    void rbTransmitMode_Click(int index);

private:
    Session& s_;
};
