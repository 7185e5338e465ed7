#include "engine/TransferFinisher.h"

#include <utility>

TransferFinisher::TransferFinisher(Session& session, QString caption)
    : s_(session)
    , caption_(std::move(caption)) {}

QString TransferFinisher::stopping(bool server) {
    return QString("Stopping: finishing %1 transfer, %2 s")
        .arg(server ? "the BPI server's" : "the controller's", "%1");
}

TransferFinisher::Send TransferFinisher::controllerFiller(Session& s) {
    return [&s](std::int64_t most) {
        const std::int64_t piece = qMin<std::int64_t>(most, 64);
        s.port.write(QByteArray(piece, char(0xFF)));
        return piece;
    };
}

TransferFinisher::Send TransferFinisher::serverFiller(Session& s, int burst, int silenceMs) {
    return [&s, burst, silenceMs](std::int64_t most) -> std::int64_t {
        const std::int64_t length = qMin<std::int64_t>(qMax(burst, 2), most);
        s.port.write(QByteArray(length + length % 2, char(0xFF)));
        if (!s.waitForBytes(1, INT32_MAX, silenceMs))
            return 0;
        s.port.read();
        return length;
    };
}

// The line's own pace: ten bits a byte at the port's rate.
std::int64_t TransferFinisher::lineUs(const SerialPort& port, std::int64_t bytes) {
    const std::int64_t baud = qMax(300, port.settings().section(',', 0, 0).toInt());
    return bytes * 10 * 1000000 / baud;
}

int TransferFinisher::secondsFor(const SerialPort& port, std::int64_t bytes) {
    return int((lineUs(port, bytes) + 999999) / 1000000);
}

void TransferFinisher::show(std::int64_t pending) {
    const int seconds = secondsFor(s_.port, pending);
    if (caption_.isEmpty() || seconds == shownSeconds_)
        return;
    shownSeconds_ = seconds;
    s_.ui.lblStatus.setText(caption_.arg(seconds));
}

std::int64_t TransferFinisher::finish(std::int64_t pending, const Send& send) {
    const std::int64_t start = s_.clock.nowUs();
    std::int64_t sliceStart = start;
    int pieces = 0;
    // Paced to the line: filler queued far ahead would reach the board after whatever is
    // sent next, and a stop could not cut it short.
    const std::int64_t total = pending;
    const auto aheadUs = [&] {
        return lineUs(s_.port, total - pending) - (s_.clock.nowUs() - start);
    };
    while (pending > 0) {
        if (s_.leaving() || !s_.port.isOpen())
            return pending;
        if (s_.windowClosed && s_.clock.nowUs() - start >= ClosedWindowLimitMs * 1000LL)
            return pending;
        show(pending);
        if (aheadUs() > AheadLimitUs) {
            s_.clock.sleepMs(1);
            continue;
        }
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
    // What was sent is on the line before anything else goes out.
    if (const std::int64_t ahead = aheadUs(); ahead > 0)
        s_.clock.sleepMs(int(ahead / 1000) + 1);
    return 0;
}
