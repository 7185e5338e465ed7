#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QString uniqueKey() {
    return QString("zbpu-test-%1-%2")
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::global()->generate());
}

// Runs the event loop until the instance is asked to raise, or gives up after a bound.
bool waitForRaise(SingleInstance& instance) {
    QEventLoop loop;
    bool raised = false;
    QObject::connect(&instance, &SingleInstance::raiseRequested, &loop, [&] {
        raised = true;
        loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    return raised;
}

} // namespace

TEST(SingleInstance, ASecondInstanceIsRefusedAndTheFirstIsAskedToComeForward) {
    const QString key = uniqueKey();
    SingleInstance first(key);
    ASSERT_TRUE(first.tryLock());
    int callbacks = 0;
    first.onRaise = [&] { ++callbacks; };

    SingleInstance second(key);
    EXPECT_FALSE(second.tryLock());
    EXPECT_TRUE(second.raiseRunning());
    EXPECT_TRUE(waitForRaise(first));
    EXPECT_EQ(callbacks, 1);
}

TEST(SingleInstance, TheNameIsFreeAgainOnceTheFirstInstanceHasGone) {
    const QString key = uniqueKey();
    {
        SingleInstance first(key);
        ASSERT_TRUE(first.tryLock());
    }
    SingleInstance next(key);
    EXPECT_FALSE(next.raiseRunning());
    EXPECT_TRUE(next.tryLock());
}
