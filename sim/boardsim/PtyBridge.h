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

    // Board output is taken in pieces of this size as the terminal accepts them, so that a
    // client that reads slowly (or not at all) holds the rest back in the board.
    static constexpr qsizetype Piece = 64 * 1024;

private:
    std::int64_t nowUs() const { return clock_.nsecsElapsed() / 1000; }
    void readHost();
    void pump();
    void schedule();

    Board& board_;
    int fd_;
    QElapsedTimer clock_;
    QSocketNotifier readable_;
    QSocketNotifier writable_;
    QTimer timer_;
    QByteArray pending_;
};
