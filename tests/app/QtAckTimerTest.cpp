#include "app/QtAckTimer.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

TEST(QtAckTimer, ATickThatStopsTheTimerIsTheLastUntilItIsStartedAgain) {
    QtAckTimer timer;
    timer.setInterval(0);
    int ticks = 0;
    timer.onTick = [&] {
        ++ticks;
        timer.stop(); // as the acknowledgement check does on every tick
    };
    timer.start();
    for (int i = 0; i < 20 && ticks == 0; ++i)
        QCoreApplication::processEvents();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(timer.isActive());

    timer.start();
    for (int i = 0; i < 20 && ticks == 1; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(ticks, 2);
}
