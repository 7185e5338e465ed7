#pragma once

#include "engine/Session.h"

// Loading the BPI server bitstream through the FPGA configuration and coming back to the
// parallel flash mode; the version warning and the About box name the versions spoken.
class ServerLoad {
public:
    explicit ServerLoad(Session& session);

    void btnLoad_Click();
    void FinishBpiServerLoad();
    void CancelBpiServerLoad();
    void mnuAbout_Click();

    // Supplied by the panel: its mode switches, the header reader and the Configure button.
    std::function<void()> selectFpgaMode;
    std::function<void()> selectBpiMode;
    std::function<void(const QString&)> readBitfileHeader;

private:
    Session& s_;
};
