#pragma once

#include "link/Session.h"

class Dispatcher;
class Layout;
class CfgStateObj;
class SpiStateObj;
class BpiStateObj;

// The operation buttons: their checks, questions and progress display, then the hand-over
// to the dispatcher.
class Launches {
public:
    Launches(Session& session, Dispatcher& dispatcher, Layout& layout, CfgStateObj& cfg,
             SpiStateObj& spi, BpiStateObj& bpi);

    void btnCfgFPGA_Click();
    void btnIDecho_Click(int index);
    void btnBulkErase_Click(int index);
    void btnProgram_Click(int index);
    void btnRead_Click(int index);
    void btnVerify_Click(int index);
    void btnDetect_Click();
    // Erases the sectors that the offset and byte count touch (the command line's ranged erase).
    void eraseSectors();

private:
    bool mayStart() const;
    bool byteCountGiven(const QString& warning);
    void prepareProgress(const QString& caption);
    bool letEventsRun();
    // The SPI sequence from its first state; the caller sets what it is to do.
    void startSpi();
    // Names the operation for its status line, lays the panel out and starts it.
    void handOver(const QString& operation);

    Session& s_;
    Dispatcher& dispatcher_;
    Layout& layout_;
    CfgStateObj& cfg_;
    SpiStateObj& spi_;
    BpiStateObj& bpi_;
};
