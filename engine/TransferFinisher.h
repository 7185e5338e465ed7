#pragma once

#include "engine/Session.h"

#include <functional>

// Completes a transfer that the controller or the BPI server still expects, so that it reads
// commands again: filler that changes nothing goes out in pieces, between which the program's
// events run and the time left is shown. A second stop, a closed port, or a closed window past
// a few seconds leaves the rest unsent.
class TransferFinisher {
public:
    // `caption`: the status line, with %1 for the seconds left; empty: the status line stays.
    TransferFinisher(Session& session, QString caption);
    // The status line while a stop finishes the controller's or the server's transfer.
    static QString stopping(bool server);

    // Moves up to `most` bytes of filler and returns how many it moved (0: it cannot go on).
    using Send = std::function<std::int64_t(std::int64_t most)>;
    // Filler for the controller: 0xFF programs nothing and is taken as data, never a command.
    static Send controllerFiller(Session& session);
    // Filler for the BPI server, burst by burst, each answered; 0 when an answer does not come.
    static Send serverFiller(Session& session, int burst, int silenceMs);
    // Returns the bytes still expected when it had to leave, 0 once the transfer is complete.
    std::int64_t finish(std::int64_t pending, const Send& send);

    // A closed window cannot show a wait, nor be asked to stop it.
    static constexpr int ClosedWindowLimitMs = 4000;
    // The window's events run at least this often.
    static constexpr int SliceMs = 50;
    // How far the filler may run ahead of the line.
    static constexpr std::int64_t AheadLimitUs = 20000;
    // What `bytes` take at the port's rate.
    static int secondsFor(const SerialPort& port, std::int64_t bytes);
    static std::int64_t lineUs(const SerialPort& port, std::int64_t bytes);

private:
    void show(std::int64_t pending);

    Session& s_;
    QString caption_;
    int shownSeconds_ = -1;
};
