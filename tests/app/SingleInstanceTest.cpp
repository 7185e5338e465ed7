#include "app/SingleInstance.h"

#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>
#include <gtest/gtest.h>

TEST(SingleInstance, ASecondInstanceIsRefusedAndTheFirstIsAskedToComeForward) {
    const QString key = "zbpu-test-" + QString::number(QRandomGenerator::global()->generate64());
    SingleInstance first(key);
    ASSERT_TRUE(first.tryLock());
    QEventLoop loop;
    int raised = 0;
    first.onRaise = [&] { ++raised, loop.quit(); };
    SingleInstance second(key);
    EXPECT_FALSE(second.tryLock());
    EXPECT_TRUE(second.raiseRunning());
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(raised, 1);
}
