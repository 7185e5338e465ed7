#pragma once

#include "engine/OperationRequest.h"
#include "engine/Session.h"

class Dispatcher;
class Layout;
class CfgStateObj;
class SpiStateObj;
class BpiStateObj;

// The operation buttons and every other way an operation starts: a request is checked, its
// questions asked and its progress shown, then its sequence is set up from it and handed to
// the dispatcher.
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

    // Starts what the request describes, in the mode the panel is in; a request refused or a
    // question declined starts nothing and is recorded as refused.
    void launch(const OperationRequest& request);

    // The kind of the operation handed over last, and how many have been.
    OperationRequest::Kind lastKind() const { return lastKind_; }
    int handedOver() const { return handedOver_; }

private:
    using Kind = OperationRequest::Kind;
    void fromPanel(Kind kind);
    bool mayStart() const;
    bool countGiven(const OperationRequest& r, const QString& warning);
    bool refuse(const QString& message);
    // The questions before a program and a read; a No refuses the launch.
    bool erasedConfirmed(const OperationRequest& r);
    bool overwriteConfirmed(const OperationRequest& r, const QString& file);
    void prepareProgress(const QString& caption);
    bool letEventsRun();
    void launchFpga(const OperationRequest& r);
    void launchSpi(const OperationRequest& r);
    void launchBpi(const OperationRequest& r);
    // Names the operation for its status line, lays the panel out and starts it.
    void handOver(const OperationRequest& r, const QString& operation);

    Session& s_;
    Dispatcher& dispatcher_;
    Layout& layout_;
    CfgStateObj& cfg_;
    SpiStateObj& spi_;
    BpiStateObj& bpi_;
    Kind lastKind_ = Kind::SpiIdCheck;
    int handedOver_ = 0;
};
