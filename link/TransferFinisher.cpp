#include "link/TransferFinisher.h"

#include <utility>

TransferFinisher::TransferFinisher(Session& session, QString whose)
    : s_(session)
    , whose_(std::move(whose)) {}

// The line's own pace: ten bits a byte at the port's rate.
int TransferFinisher::secondsFor(std::int64_t bytes) const {
    const std::int64_t baud = qMax(300, s_.port.settings().section(',', 0, 0).toInt());
    return int((bytes * 10 + baud - 1) / baud);
}

void TransferFinisher::show(std::int64_t pending) {
    const int seconds = secondsFor(pending);
    if (seconds == shownSeconds_)
        return;
    shownSeconds_ = seconds;
    s_.ui.lblStatus.setText(
        QString("Stopping: finishing %1 transfer, %2 s").arg(whose_).arg(seconds));
}

std::int64_t TransferFinisher::finish(std::int64_t pending, const Send& send) {
    const std::int64_t start = s_.clock.nowUs();
    std::int64_t sliceStart = start;
    int pieces = 0;
    while (pending > 0) {
        if (s_.leaving() || !s_.port.isOpen())
            return pending;
        if (s_.windowClosed && s_.clock.nowUs() - start >= ClosedWindowLimitMs * 1000LL)
            return pending;
        show(pending);
        const std::int64_t moved = send(pending);
        if (moved <= 0)
            return pending;
        pending -= moved;
        // A hand-driven clock may stand still: pieces count as time too.
        if (++pieces % 8 == 0 || s_.clock.nowUs() - sliceStart >= SliceMs * 1000LL) {
            sliceStart = s_.clock.nowUs();
            if (s_.processEvents && !s_.windowClosed)
                s_.processEvents();
        }
    }
    return 0;
}
