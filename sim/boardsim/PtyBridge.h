#pragma once

#include "sim/Board.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

// Carries bytes between the pseudo-terminal and the board in the Qt event loop, on the real
// monotonic clock: host bytes as they are read, board bytes when the board says they are due.
class PtyBridge {
public:
    PtyBridge(Board& board, int masterFd);

    // Board output the terminal would not take (nobody reading) beyond this is dropped.
    static constexpr qsizetype MaxPending = 1 << 20;

private:
    std::int64_t nowUs() const { return clock_.nsecsElapsed() / 1000; }
    void readHost();
    void sendDue();
    void flushPending();
    void schedule();

    Board& board_;
    int fd_;
    QElapsedTimer clock_;
    QSocketNotifier readable_;
    QSocketNotifier writable_;
    QTimer timer_;
    QByteArray pending_;
};
