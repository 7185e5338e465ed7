#pragma once

#include "link/Session.h"

class Layout;
class CfgStateObj;
class SpiStateObj;
class BpiStateObj;

// The change handlers of the input fields: which buttons may be pressed, which texts are
// accepted, and where the current mode's path goes.
class Inputs {
public:
    Inputs(Session& session, Layout& layout, CfgStateObj& cfg, SpiStateObj& spi, BpiStateObj& bpi);

    void cbFlash_Click();
    void cbFlash_Change();
    void txtSpiFile_Change();
    void txtPrgBytes_Change();
    void txtOffset_Change();
    void txtBitFile_Change();
    void txtBpiFile_Change();
    void txtPath_Change();
    void txtTimeout_Change();
    void txtTimeoutLimit_Change();

    // Whether every character is a hexadecimal digit (either case).
    static bool isHexText(const QString& text);

private:
    void applyButtonRules();

    Session& s_;
    Layout& layout_;
    CfgStateObj& cfg_;
    SpiStateObj& spi_;
    BpiStateObj& bpi_;
};
