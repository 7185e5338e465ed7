#pragma once

#include "link/Sequence.h"
#include "link/Session.h"

#include <QStringList>
#include <utility>

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
    void noteAnswered(const Sequence& running);
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
    std::pair<std::int64_t, std::int16_t> furthest_;
    std::int16_t lastAnswered_ = -1;
    int missesSinceProgress_ = 0;
    bool ticking_ = false;
};
