#include "sim/SimulatedPort.h"

#include "engine/RuntimeError.h"

#include <cmath>

SimulatedPort::SimulatedPort(Board& board, Clock& clock)
    : board_(board)
    , clock_(clock) {}

void SimulatedPort::open() {
    if (board_.absent())
        throw RuntimeError(RuntimeError::PortOpenFailed, "Port open failed: no such port");
    // What the board sent while nobody listened is gone.
    board_.takeOutput(clock_.nowUs());
    received_.clear();
    open_ = true;
}

void SimulatedPort::close() {
    open_ = false;
    received_.clear();
}

void SimulatedPort::requireOpen() const {
    if (!open_)
        throw RuntimeError(RuntimeError::PortNotOpen, "Operation valid only when the port is open");
}

void SimulatedPort::pull() {
    received_ += board_.takeOutput(clock_.nowUs());
}

int SimulatedPort::bytesWaiting() {
    if (!open_)
        return 0;
    pull();
    return int(received_.size());
}

QByteArray SimulatedPort::take(int maxBytes) {
    requireOpen();
    pull();
    const QByteArray out = received_.left(maxBytes);
    received_.remove(0, out.size());
    return out;
}

void SimulatedPort::write(const QByteArray& bytes) {
    requireOpen();
    board_.receive(bytes, clock_.nowUs());
    // A full transmit buffer holds the writer until the line has made room.
    const double room = TransmitBufferBytes * board_.byteTimeUs();
    const std::int64_t wait = board_.inputIdleUs() - std::llround(room) - clock_.nowUs();
    if (board_.byteTimeUs() > 0 && wait > 0)
        clock_.sleepUs(wait);
}

// As a serial port's wait for ready-read: for new bytes, whatever is already waiting.
bool SimulatedPort::waitForData(int milliseconds) {
    const std::int64_t now = clock_.nowUs();
    const std::int64_t next = board_.nextOutputUs();
    const std::int64_t limit = now + std::int64_t(milliseconds) * 1000;
    if (open_ && next >= 0 && next <= limit) {
        clock_.sleepUs(next - now);
        return true;
    }
    clock_.sleepUs(limit - now);
    return false;
}

int SimulatedPort::deliverReceiveEvents() {
    int events = 0;
    while (onReceiveEvent && receiveThreshold() >= 1) {
        const int waiting = bytesWaiting();
        if (waiting == 0)
            break;
        onReceiveEvent(EventReceive);
        ++events;
        // A handler that reads nothing would be called for ever.
        if (bytesWaiting() >= waiting)
            break;
    }
    return events;
}
