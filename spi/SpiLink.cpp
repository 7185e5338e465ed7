// The line to the controller as the SPI sequence uses it: commands, transactions and their
// echoes, and what is done when echoes go missing.
#include "spi/SpiStateObj.h"

#include "link/ControllerProtocol.h"
#include "spi/SpiText.h"

using namespace spitext;

std::int16_t SpiStateObj::ReadEcho() {
    // A few missing echoes are waited for, as a line that dropped a byte comes back in step;
    // past that the link is gone, and waiting for each byte of a page, or for each of hundreds
    // of status polls, would hold the window for minutes before the retry gives up.
    if (echoesLost_ >= MaxEchoesLostPerStep)
        return -1;
    echoCountdown_ = pollLimit_;
    const std::int32_t limit = echoCountdown_;
    const std::int64_t start = s_.clock.nowUs();
    const std::int64_t room = silenceRoomUs();
    while (echoCountdown_ >= 1 && s_.port.bytesWaiting() == 0) {
        // A line silent for the whole budget is not waited on again byte after byte.
        if (s_.clock.nowUs() - start >= room) {
            echoCountdown_ = 0;
            break;
        }
        --echoCountdown_;
        s_.port.waitForData(1);
    }
    const std::int32_t used = limit - echoCountdown_;
    if (maxEchoPolls_ < used) {
        maxEchoPolls_ = used;
        s_.ui.txtMaxPsoc.setText(QString::number(used));
    }
    if (echoCountdown_ > 0) {
        const QByteArray one = s_.port.read();
        if (!one.isEmpty()) {
            silentUs_ = 0;
            if (pendingTransfer_ > 0)
                --pendingTransfer_;
            return static_cast<unsigned char>(one[0]);
        }
    }
    silentUs_ += s_.clock.nowUs() - start;
    noteEchoLost();
    return -1;
}

void SpiStateObj::dropEchoes(int count) {
    for (int i = 0; i < count; ++i)
        ReadEcho();
}

// The acknowledgements the page loop reads as returned bytes: a lost one is waited for up to
// the reply deadline as a whole, not for a poll limit per byte, so that it costs a moment.
void SpiStateObj::dropAcknowledgements(int count) {
    awaitBytes(count);
    for (int i = 0; i < count; ++i) {
        if (s_.port.bytesWaiting() > 0) {
            s_.port.read();
            continue;
        }
        noteEchoLost();
    }
}

// Waits up to the reply deadline as a whole, or what is left of the silence budget, until
// count bytes are in.
void SpiStateObj::awaitBytes(int count) {
    const std::int64_t start = s_.clock.nowUs();
    const int budgetMs = int(qMin<std::int64_t>(protocol::ReplyDeadlineMs, silenceRoomUs() / 1000));
    if (s_.waitForBytes(count, Session::QuietPollLimit, budgetMs))
        silentUs_ = 0;
    else
        silentUs_ += s_.clock.nowUs() - start;
}

// Waits, as for acknowledgements, until count bytes are in, and takes them.
QByteArray SpiStateObj::awaitReply(int count) {
    awaitBytes(count);
    s_.port.setReadLength(count);
    const QByteArray reply = s_.port.read();
    s_.port.setReadLength(1);
    return reply;
}

// A transaction's two closing acknowledgements, and anything after them.
bool SpiStateObj::takeTransactionEnd() {
    dropAcknowledgements(8);
    discardInput();
    return true;
}

void SpiStateObj::noteEchoLost() {
    ++echoesLost_;
    s_.appendLine(QString("Timed out: no PSoC echo in state %1").arg(state_));
    s_.ui.txtRecvView.moveCaretToEnd();
}

std::int64_t SpiStateObj::silenceRoomUs() const {
    return qMax<std::int64_t>(0, std::int64_t(SilenceBudgetMs) * 1000 - silentUs_);
}

void SpiStateObj::discardInput() {
    while (s_.port.bytesWaiting() >= 1)
        s_.port.read();
}

void SpiStateObj::command(const QString& text, std::int16_t next) {
    s_.port.write(protocol::frame(text));
    static const QString announce = QStringLiteral("sf_transfer ");
    pendingTransfer_ = text.startsWith(announce) ? text.mid(announce.size()).toInt() : 0;
    replyLength_ = 4;
    state_ = next;
}

// A transaction ends with two acknowledgements after its returned bytes.
void SpiStateObj::transaction(const QByteArray& out) {
    s_.port.write(out);
    // Until their echoes come back, the controller may still be waiting for some of them.
    pendingTransfer_ = std::int32_t(out.size());
    replyLength_ = 8;
}

void SpiStateObj::sendOpcode(std::int16_t opcode) {
    transaction(bytes({opcode}));
    ReadEcho();
}

// Sends RDSR and a dummy byte; the second returned byte is the status.
int SpiStateObj::readStatus() {
    transaction(bytes({d_.RDSR, d_.DUMB}));
    ReadEcho();
    const int status = ReadEcho();
    if (echoShort())
        return -1;
    return status;
}

// An echo missing while the controller may still be inside the transfer: it is brought back to
// reading commands before anything else is sent.
bool SpiStateObj::echoShort() {
    if (pendingTransfer_ <= 0)
        return false;
    // A line silent past its budget is not brought back poll after poll: the tick gives it up.
    if (silenceRoomUs() > 0 && s_.resynchronise)
        s_.resynchronise();
    return true;
}

void SpiStateObj::lineFailure(const QString& more) {
    const QString text =
        "The controller did not echo the whole transfer: a byte was probably lost on the line." +
        more;
    s_.fail(text);
    s_.prompter.tell(text, "ERROR", Prompter::Icon::Critical);
    state_ = CFG_SPI_PROG_HIGH;
    NextStep();
}
