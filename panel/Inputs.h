#pragma once

#include "engine/Session.h"

class Layout;

// The change handlers of the input fields: which buttons may be pressed and which texts are
// accepted. Operations take their paths from their requests at launch.
class Inputs {
public:
    Inputs(Session& session, Layout& layout);

    void cbFlash_Click();
    void cbFlash_Change();
    void txtSpiFile_Change();
    void txtPrgBytes_Change();
    void txtOffset_Change();
    void txtBitFile_Change();
    void txtBpiFile_Change();
    void txtTimeout_Change();
    void txtTimeoutLimit_Change();
    // Selects a device an SPI run found the chip to be, asking first when told to.
    void offerFlashDevice(const QString& name, bool askFirst);

    // Whether every character is a hexadecimal digit (either case).
    static bool isHexText(const QString& text);

private:
    void applyButtonRules();

    Session& s_;
    Layout& layout_;
};
