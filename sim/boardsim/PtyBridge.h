#pragma once

#include "PseudoTerminal.h"
#include "sim/Board.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

// Carries bytes between the pseudo-terminal and the board in the Qt event loop, on the real
// monotonic clock: client bytes as they are read, board bytes when the board says they are
// due. With a line rate the client is held while more than a transmit buffer of its bytes
// still waits for the line.
class PtyBridge {
public:
    PtyBridge(Board& board, PseudoTerminal& terminal);

    // Board output is taken in pieces of this size as the terminal accepts it, so that a
    // client that reads slowly (or not at all) leaves the rest queued in the board.
    static constexpr qsizetype Piece = 64 * 1024;
    // The client is held above the first backlog and let go below the second.
    static constexpr int HoldAboveBytes = 512;
    static constexpr int ReleaseBelowBytes = 256;

public:
    // Bytes written to the host so far (for benchmark reports).
    std::int64_t sentBytes() const { return sentBytes_; }

private:
    std::int64_t sentBytes_ = 0;
    std::int64_t nowUs() const { return clock_.nsecsElapsed() / 1000; }
    double backlogBytes() const;
    void readClient();
    void pump();
    void pace();
    void schedule();

    Board& board_;
    PseudoTerminal& terminal_;
    int fd_;
    QElapsedTimer clock_;
    QSocketNotifier readable_;
    QSocketNotifier writable_;
    QTimer timer_;
    QByteArray pending_;
    bool holding_ = false;
};
