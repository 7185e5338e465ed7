#include "app/QtAckTimer.h"

QtAckTimer::QtAckTimer() {
    // Ticks of a few milliseconds: a coarse timer would stretch every acknowledgement wait.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(15);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        if (onTick)
            onTick();
    });
}
