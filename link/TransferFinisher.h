#pragma once

#include "link/Session.h"

#include <functional>

// Completes a transfer that the controller or the BPI server still expects, so that it reads
// commands again: filler that changes nothing goes out in pieces, between which the program's
// events run and the time left is shown. A second stop, a closed port, or a closed window past
// a few seconds leaves the rest unsent.
class TransferFinisher {
public:
    // `whose`: "the controller's" or "the BPI server's", as the status line names it.
    TransferFinisher(Session& session, QString whose);

    // Moves up to `most` bytes of filler and returns how many it moved (0: it cannot go on).
    using Send = std::function<std::int64_t(std::int64_t most)>;
    // Returns the bytes still expected when it had to leave, 0 once the transfer is complete.
    std::int64_t finish(std::int64_t pending, const Send& send);

    // A closed window cannot show a wait, nor be asked to stop it.
    static constexpr int ClosedWindowLimitMs = 4000;
    // The window's events run at least this often.
    static constexpr int SliceMs = 50;

private:
    void show(std::int64_t pending);
    int secondsFor(std::int64_t bytes) const;

    Session& s_;
    QString whose_;
    int shownSeconds_ = -1;
};
