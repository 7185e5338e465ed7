#pragma once

#include "engine/AckTimer.h"

#include <QTimer>
#include <algorithm>

// The acknowledgement timer on the event loop.
class QtAckTimer : public AckTimer {
public:
    QtAckTimer();

    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }
    void setInterval(int milliseconds) override { timer_.setInterval(std::max(0, milliseconds)); }
    int interval() const override { return timer_.interval(); }

private:
    QTimer timer_;
};
