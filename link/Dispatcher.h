#pragma once

#include "link/Sequence.h"
#include "link/Session.h"

#include <QStringList>

// Drives the running sequence: one NextStep per acknowledged command, a retry for each
// missing acknowledgement, and the recoveries when the link is lost or nothing runs.
class Dispatcher {
public:
    Dispatcher(Session& session, Sequence& cfg, Sequence& spi, Sequence& bpi);

    void DispatchOperation();
    // The acknowledgement timer's tick.
    void TimerAckTick();
    // Ends a running operation without touching the port (it has been closed under it).
    void abandonOperation();

private:
    bool takeAcknowledgement();
    void afterSpiFinished();
    void lossRecovery();
    void releaseController(const QStringList& commands);
    void invalidStateRecovery();
    void enableFromInputs();
    void startTimer();
    bool replyPending(const Sequence& running) const;

    Session& s_;
    Sequence& cfg_;
    Sequence& spi_;
    Sequence& bpi_;
};
