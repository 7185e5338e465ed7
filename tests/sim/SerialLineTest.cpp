#include "sim/SerialLine.h"

#include <gtest/gtest.h>

TEST(SimSerialLine, AtALineRateBytesArriveOneByteTimeApart) {
    OutputQueue queue(115200); // 86.8 us a byte
    queue.push("abcd", 1000);
    EXPECT_EQ(queue.nextUs(), 1087);
    EXPECT_EQ(queue.take(1086), QByteArray());
    EXPECT_EQ(queue.take(1174), QByteArray("ab"));
    EXPECT_EQ(queue.take(1348), QByteArray("cd"));
    EXPECT_EQ(queue.nextUs(), -1);
}

TEST(SimSerialLine, ALaterRunWaitsForTheLineEvenWhenReadyEarlier) {
    OutputQueue queue(0);
    queue.push("late", 5000);
    queue.push("early", 100);
    EXPECT_EQ(queue.take(4999), QByteArray());
    EXPECT_EQ(queue.take(5000), QByteArray("lateearly"));
}

TEST(SimSerialLine, ALimitedTakeLeavesTheRestInOrder) {
    OutputQueue queue(0);
    queue.push("12345", 0);
    queue.push("678", 0);
    EXPECT_EQ(queue.take(0, 3), QByteArray("123"));
    EXPECT_EQ(queue.take(0, 4), QByteArray("4567"));
    EXPECT_EQ(queue.take(0), QByteArray("8"));
}
