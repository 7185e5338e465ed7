#include "PtyBridge.h"

#include <algorithm>
#include <unistd.h>

PtyBridge::PtyBridge(Board& board, int masterFd)
    : board_(board)
    , fd_(masterFd)
    , readable_(masterFd, QSocketNotifier::Read)
    , writable_(masterFd, QSocketNotifier::Write) {
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    writable_.setEnabled(false);
    QObject::connect(&readable_, &QSocketNotifier::activated, [this] { readHost(); });
    QObject::connect(&writable_, &QSocketNotifier::activated, [this] { pump(); });
    QObject::connect(&timer_, &QTimer::timeout, [this] { pump(); });
}

void PtyBridge::readHost() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        board_.receive(QByteArray(buffer, n), nowUs());
    }
    pump();
}

void PtyBridge::pump() {
    for (;;) {
        if (pending_.size() < Piece)
            pending_ += board_.takeOutput(nowUs(), Piece - pending_.size());
        if (pending_.isEmpty()) break;
        const ssize_t n = ::write(fd_, pending_.constData(), size_t(pending_.size()));
        if (n <= 0) break; // the terminal is full: wait until it is writable again
        pending_.remove(0, n);
    }
    writable_.setEnabled(!pending_.isEmpty());
    schedule();
}

void PtyBridge::schedule() {
    const std::int64_t next = board_.nextOutputUs();
    if (next < 0 || !pending_.isEmpty()) {
        timer_.stop();
        return;
    }
    const std::int64_t waitUs = std::max<std::int64_t>(0, next - nowUs());
    timer_.start(int(std::min<std::int64_t>((waitUs + 999) / 1000, 60'000)));
}
