#include "engine/Dispatcher.h"

#include "engine/TransferFinisher.h"
#include "link/ControllerProtocol.h"
#include "panel/PanelRules.h"

#include <QScopeGuard>

Dispatcher::Dispatcher(Session& session, Sequence& cfg, Sequence& spi, Sequence& bpi)
    : s_(session)
    , cfg_(cfg)
    , spi_(spi)
    , bpi_(bpi) {
    s_.timer.onTick = [this] { TimerAckTick(); };
    s_.resynchronise = [this] {
        return resynchronise(s_.opState.State() == OpStateObj::FpgaRunning ? cfg_ : spi_);
    };
}

bool Dispatcher::takeAcknowledgement() {
    if (s_.port.bytesWaiting() < 4)
        return false;
    s_.port.setReadLength(4);
    const QByteArray four = s_.port.read();
    s_.port.setReadLength(1);
    return protocol::isAcknowledgement(four);
}

void Dispatcher::startTimer() {
    s_.stepStartUs = s_.clock.nowUs();
    s_.timer.setInterval(s_.fastAck ? 1 : s_.ackIntervalMs);
    s_.timer.start();
}

// A reply that is not whole yet is waited for, tick after tick, up to the reply deadline:
// answering a late reply by sending the command again would desynchronise the controller,
// which may still be taking the transaction's bytes. In fast mode the tick comes every
// millisecond; by default at the timer interval, so an on-time reply paces as it always did.
bool Dispatcher::replyPending(const Sequence& running) const {
    const std::int64_t elapsed = s_.clock.nowUs() - s_.stepStartUs;
    const std::int64_t deadline = std::int64_t(std::max(s_.ackIntervalMs, ReplyDeadlineMs)) * 1000;
    return elapsed < deadline && s_.port.bytesWaiting() < running.ReplyLength();
}

void Dispatcher::TimerAckTick() {
    s_.timer.stop();
    if (!s_.port.isOpen()) {
        abandonOperation("Operation abandoned: the port was closed.");
        return;
    }
    const std::int16_t op = s_.opState.State();
    const Sequence& running = op == OpStateObj::FpgaRunning ? cfg_ : spi_;
    if (replyPending(running)) {
        s_.timer.start();
        return;
    }
    if (takeAcknowledgement()) {
        s_.TimeoutCnt = 0;
        noteAnswered(running);
        if (s_.port.bytesWaiting() >= 4 && s_.FlushInput) {
            s_.port.setReadLength(0);
            s_.port.read();
            s_.port.setReadLength(1);
        }
    } else {
        if (op == OpStateObj::FpgaRunning) {
            if (!cfg_.FileTransfer()) {
                resynchronise(cfg_);
                cfg_.SetState(cfg_.GetPreviousState());
            }
        } else if (op < OpStateObj::SpiRunning) {
            s_.opState.SetState(0);
        } else if (!spi_.FileTransfer()) {
            resynchronise(spi_);
            spi_.SetState(spi_.GetPreviousState());
        }
        // Wide arithmetic: a limit at the top of the range must not wrap the counter.
        if (s_.TimeoutCnt < INT16_MAX)
            ++s_.TimeoutCnt;
        lastAnswered_ = -1;
        ++missesSinceProgress_;
        if (s_.TimeoutCnt > s_.timeoutLimit || missesSinceProgress_ > 16 * (s_.timeoutLimit + 1)) {
            lostMode_ = OpStateObj::modeOf(op);
            s_.opState.SetState(OpStateObj::LinkLost);
        }
    }
    ticking_ = true;
    DispatchOperation();
    ticking_ = false;
}

// Answered steps reset the consecutive count, so a step that fails each time it is retried
// (a stream out of step, a retry that goes back over answered steps) would loop for ever.
// Misses are therefore also counted until the operation gets further than it ever was, or a
// polling step is answered again.
void Dispatcher::noteAnswered(const Sequence& running) {
    const std::pair mark{running.BytesDone(), running.State()};
    if (mark > furthest_ || running.State() == lastAnswered_) {
        furthest_ = std::max(furthest_, mark);
        missesSinceProgress_ = 0;
    }
    lastAnswered_ = running.State();
}

void Dispatcher::DispatchOperation() {
    if (!ticking_) {
        furthest_ = {};
        lastAnswered_ = -1;
        missesSinceProgress_ = 0;
        if (s_.opState.running())
            s_.beginOperation();
    }
    s_.port.setReceiveThreshold(0);
    s_.timer.stop();
    switch (s_.opState.State()) {
    case OpStateObj::FpgaRunning:
        stepped(cfg_);
        if (s_.stopRequested())
            finishAbandoned();
        else if (cfg_.State() == 0) {
            endOperation(OpStateObj::Start, false);
            s_.ui.txtRecvView.moveCaretToEnd();
        } else {
            startTimer();
        }
        break;
    case OpStateObj::SpiRunning:
        for (auto* set : {&s_.ui.btnIDecho, &s_.ui.btnBulkErase, &s_.ui.btnProgram, &s_.ui.btnRead,
                          &s_.ui.btnVerify})
            (*set)[0].setEnabled(false);
        s_.ui.btnDetect.setEnabled(false);
        stepped(spi_);
        if (s_.stopRequested())
            finishAbandoned();
        else if (spi_.State() == 0)
            endOperation(OpStateObj::SpiIdle, false);
        else
            startTimer();
        break;
    case OpStateObj::BpiRunning:
        stepped(bpi_);
        s_.ui.hscProgress.setVisible(false);
        s_.ui.lblProgress.setVisible(false);
        if (s_.stopRequested())
            finishAbandoned();
        else if (bpi_.State() == 0)
            endOperation(OpStateObj::BpiIdle, false);
        break;
    case OpStateObj::LinkLost:
        lossRecovery();
        break;
    default:
        invalidStateRecovery();
        break;
    }
}

void Dispatcher::stepped(Sequence& running) {
    inStep_ = true;
    const auto leave = qScopeGuard([this] { inStep_ = false; });
    running.NextStep();
}

void Dispatcher::endOperation(std::int16_t idle, bool abandoned) {
    s_.timer.stop();
    s_.file.close();
    s_.TimeoutCnt = 0;
    s_.FlushInput = true;
    s_.ui.hscProgress.setVisible(false);
    s_.ui.lblProgress.setVisible(false);
    const Outcome outcome = s_.closeOperation(abandoned);
    s_.ui.lblStatus.setText(statusLine(
        s_.operationName, outcome, std::max<std::int64_t>(0, s_.outcomeUs - s_.operationStartUs)));
    s_.opState.SetState(idle);
    if (s_.BpiServerLoading) {
        if (outcome.succeeded() && s_.finishBpiServerLoad)
            s_.finishBpiServerLoad();
        else if (s_.cancelBpiServerLoad)
            s_.cancelBpiServerLoad();
    }
    rules::applyIdleRules(s_.ui, s_.BpiServerRunning);
}

namespace {
// What the operator can do about a controller that stopped answering mid-operation.
const QString NoAckCause = "\r\nThe controller stopped answering: bytes were probably lost on the "
                           "line, or the board lost power or its cable.";
} // namespace

void Dispatcher::lossRecovery() {
    s_.TimeoutCnt = 0;
    std::int16_t lostIn = 0;
    std::int16_t idle = 0;
    if (lostMode_ == OpStateObj::Mode::Spi) {
        lostIn = spi_.State();
        releaseAfterAbandon(spi_);
        idle = OpStateObj::SpiIdle;
        spi_.SetState(0);
    } else if (lostMode_ == OpStateObj::Mode::Bpi) {
        lostIn = bpi_.State();
        idle = OpStateObj::BpiIdle;
        bpi_.SetState(0);
    } else {
        lostIn = cfg_.State();
        releaseAfterAbandon(cfg_);
        cfg_.SetState(0);
    }
    const QString text = lostIn == 1 ? QString("Please verify your Com port setting.\n\r"
                                               "(Disconnect, then Options | Comm)")
                                     : QString("No ACK from state %1").arg(lostIn) + NoAckCause;
    s_.fail(text);
    endOperation(idle, false);
    if (!s_.windowClosed)
        s_.prompter.tell(text, "Communication with PSoC lost", Prompter::Icon::Exclamation);
}

// A controller that stopped answering may still be listening: the closing commands go out
// once the line is quiet, without waiting for acknowledgements, and what does come back is
// not the console's. The closing commands do no harm when heard twice.
void Dispatcher::releaseController(const QStringList& commands) {
    if (!s_.port.isOpen())
        return;
    s_.port.setReadLength(0);
    s_.port.read();
    for (const QString& c : commands)
        s_.port.write(protocol::frame(c));
    s_.waitForBytes(4 * int(commands.size()), Session::QuietPollLimit, ReplyDeadlineMs);
    s_.port.read();
    s_.port.setReadLength(1);
}

// Brings the controller back to reading commands after a reply went missing or came garbled,
// without relying on any time-out of its own. It may have taken the command whose reply is
// missing and wait for the bytes of its transfer: sending the command again would become those
// bytes. Harmless filler completes the transfer (0xFF programs nothing and is no command the
// shipped parts act on), and a NUL ends it as an unknown command if the controller never took
// the command. What the controller still sends is let pass until the line is quiet.
bool Dispatcher::resynchronise(Sequence& running) {
    if (!s_.port.isOpen())
        return false;
    const std::int64_t pending = running.PendingBytes();
    const bool filler = pending > 0;
    if (filler) {
        // A retry's few bytes are no news for the status line; a stop's wait is.
        TransferFinisher finisher(s_, s_.stopRequested() ? TransferFinisher::stopping(false)
                                                         : QString());
        const std::int64_t left = finisher.finish(pending, TransferFinisher::controllerFiller(s_));
        if (left > 0) {
            // Bytes still queued here never reach the board once the port closes.
            s_.stuck.record(s_.port.portName(), {false, left + s_.port.unsent(), 0});
            s_.appendOwnLine(QString("The controller still expects %1 bytes of a transfer; power "
                                     "the board off and on before the next operation.")
                                 .arg(left));
            return false;
        }
        s_.port.write(QByteArray(1, '\0'));
        running.FillerSent();
    }
    // The filler's own reply may come as late as any; otherwise what is still coming is in
    // pieces of a reply already overdue.
    s_.waitForBytes(INT32_MAX, Session::QuietPollLimit, filler ? ReplyDeadlineMs : QuietMs);
    s_.port.setReadLength(0);
    s_.port.read();
    s_.port.setReadLength(1);
    return true;
}

void Dispatcher::invalidStateRecovery() {
    s_.prompter.tell("Invalid operational state", "Info", Prompter::Icon::None);
    s_.opState.SetState(0);
    rules::applyAfterInvalidState(s_.ui);
}

void Dispatcher::abandonOperation(const QString& why) {
    if (!s_.opState.running())
        return;
    // A second stop while the first is finishing a transfer leaves at once.
    if (s_.abandonRequested) {
        s_.leaveRequested = true;
        return;
    }
    abandonReason_ = why;
    s_.abandonRequested = true;
    s_.timer.stop();
    // A step under way stops at its next safe point and the dispatcher ends it then.
    if (!inStep_)
        finishAbandoned();
}

Sequence& Dispatcher::sequenceFor(OpStateObj::Mode mode) {
    using Mode = OpStateObj::Mode;
    return mode == Mode::Fpga ? cfg_ : mode == Mode::Spi ? spi_ : bpi_;
}

void Dispatcher::finishAbandoned() {
    const OpStateObj::Mode mode = s_.opState.mode();
    Sequence& running = sequenceFor(mode);
    // The parallel flash sequence has finished the server's transfer, or said why it could not.
    if (mode != OpStateObj::Mode::Bpi)
        releaseAfterAbandon(running);
    running.SetState(0);
    endOperation(OpStateObj::idleOf(mode), true);
    if (abandonReason_.isEmpty())
        abandonReason_ = s_.interrupted && s_.interrupted() ? "Operation abandoned: interrupted."
                                                            : "Operation abandoned.";
    s_.appendOwnLine(abandonReason_);
    abandonReason_.clear();
}

// Whether the operation was abandoned or its link given up, the controller is brought back to
// reading commands and released.
void Dispatcher::releaseAfterAbandon(Sequence& running) {
    const bool unfinishedDesign = running.HoldsUnfinishedDesign();
    if (!resynchronise(running))
        return;
    // An abandoned design, whole or cut short, is not left in the FPGA.
    if (unfinishedDesign) {
        releaseController(
            {"drive_prog 0", "drive_prog 1", "spi_mode 0", "load_config 0", "fpga_rst 0"});
        s_.appendOwnLine("The FPGA was cleared (PROG): it holds no design.");
    } else if (&running == &cfg_)
        releaseController({"spi_mode 0", "load_config 0", "fpga_rst 0"});
    else
        releaseController({"drive_prog 1", "load_config 0"});
}
