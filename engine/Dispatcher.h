#pragma once

#include "engine/Sequence.h"
#include "engine/Session.h"
#include "link/ControllerProtocol.h"

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
    // Ends a running operation at once (Disconnect, window closed, interrupt). While the port
    // is open the controller is first brought back to reading commands and released. A step
    // under way (a parallel flash transfer handling events) is asked to stop and ends itself.
    void abandonOperation(const QString& why);
    static constexpr int ReplyDeadlineMs = protocol::ReplyDeadlineMs;
    static constexpr int QuietMs = 100;

private:
    void noteAnswered(const Sequence& running);
    bool takeAcknowledgement();
    void lossRecovery();
    // The one way out of every operation: file, timer and per-operation flags reset, the
    // outcome recorded, the controls as the mode's idle rule says.
    void endOperation(std::int16_t idle, bool abandoned);
    void stepped(Sequence& running);
    void finishAbandoned();
    void releaseAfterAbandon(Sequence& running);
    bool resynchronise(Sequence& running);
    void releaseController(const QStringList& commands);
    void invalidStateRecovery();
    void startTimer();
    bool replyPending(const Sequence& running) const;
    Sequence& sequenceFor(OpStateObj::Mode mode);

    Session& s_;
    Sequence& cfg_;
    Sequence& spi_;
    Sequence& bpi_;
    std::pair<std::int64_t, std::int16_t> furthest_;
    std::int16_t lastAnswered_ = -1;
    // The mode whose operation lost the link: the state says only that it was lost.
    OpStateObj::Mode lostMode_ = OpStateObj::Mode::Fpga;
    int missesSinceProgress_ = 0;
    bool ticking_ = false;
    bool inStep_ = false;
    QString abandonReason_;
};
