#include "PtyBridge.h"

#include <algorithm>
#include <chrono>
#include <thread>

PtyBridge::PtyBridge(Board& board, PseudoTerminal& terminal)
    : board_(board)
    , terminal_(terminal)
    , fd_(terminal.masterFd())
    , readable_(fd_, QSocketNotifier::Read)
    , writable_(fd_, QSocketNotifier::Write) {
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    writable_.setEnabled(false);
    QObject::connect(&readable_, &QSocketNotifier::activated, [this] { readClient(); });
    QObject::connect(&writable_, &QSocketNotifier::activated, [this] { pump(); });
    QObject::connect(&timer_, &QTimer::timeout, [this] { pump(); });
}

double PtyBridge::backlogBytes() const {
    const double byteUs = board_.byteTimeUs();
    return byteUs > 0 ? double(board_.inputIdleUs() - nowUs()) / byteUs : 0;
}

void PtyBridge::readClient() {
    char buffer[4096];
    for (;;) {
        const qint64 n = terminal_.read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        board_.receive(QByteArray(buffer, n), nowUs());
    }
    pump();
}

void PtyBridge::pump() {
    for (;;) {
        if (pending_.size() < Piece)
            pending_ += board_.takeOutput(nowUs(), Piece - pending_.size());
        if (pending_.isEmpty())
            break;
        const qint64 n = terminal_.write(pending_.constData(), pending_.size());
        if (n <= 0)
            break; // the terminal is full: wait until it is writable again
        pending_.remove(0, n);
        sentBytes_ += n;
    }
    writable_.setEnabled(!pending_.isEmpty());
    pace();
    schedule();
}

void PtyBridge::pace() {
    const double backlog = backlogBytes();
    const bool hold = holding_ ? backlog > ReleaseBelowBytes : backlog > HoldAboveBytes;
    if (hold != holding_)
        terminal_.holdClient(hold);
    holding_ = hold;
}

// Wakes for the board's next byte, and while the client is held, for its release.
void PtyBridge::schedule() {
    std::int64_t wake = pending_.isEmpty() ? board_.nextOutputUs() : -1;
    if (holding_) {
        const auto release =
            board_.inputIdleUs() - std::int64_t(ReleaseBelowBytes * board_.byteTimeUs());
        wake = wake < 0 ? release : std::min(wake, release);
    }
    if (wake < 0) {
        timer_.stop();
        return;
    }
    const std::int64_t waitUs = std::max<std::int64_t>(0, wake - nowUs());
    // Timers count whole milliseconds; a reply due sooner is waited for here, so that the
    // board answers with its own latency and not the timer's.
    if (waitUs < 1000) {
        if (waitUs > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(waitUs));
        timer_.start(0);
        return;
    }
    timer_.start(int(std::min<std::int64_t>((waitUs + 999) / 1000, 60'000)));
}
