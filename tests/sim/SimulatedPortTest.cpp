#include "SimTestSupport.h"

#include "link/RuntimeError.h"
#include "sim/SimulatedPort.h"

#include <gtest/gtest.h>

using simtest::Ack;
using simtest::command;

namespace {

struct Rig {
    explicit Rig(BoardConfig config = {})
        : board(std::move(config)) {}
    Board board;
    VirtualClock clock;
    SimulatedPort port{board, clock};
};

} // namespace

TEST(SimPort, OpeningAPortWithoutABoardFails) {
    BoardConfig config;
    config.absent = true;
    Rig rig(config);
    try {
        rig.port.open();
        FAIL() << "opened";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), RuntimeError::PortOpenFailed);
    }
    EXPECT_FALSE(rig.port.isOpen());
}

TEST(SimPort, WritingOrReadingAClosedPortFails) {
    Rig rig;
    for (const std::function<void()>& use : std::initializer_list<std::function<void()>>{
             [&] { rig.port.write("x"); }, [&] { rig.port.read(); }}) {
        try {
            use();
            ADD_FAILURE() << "no failure";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), RuntimeError::PortNotOpen);
            EXPECT_EQ(e.description(), "Operation valid only when the port is open");
        }
    }
    EXPECT_EQ(rig.port.bytesWaiting(), 0);
}

TEST(SimPort, AReplyIsWaitingOnlyOnceItsLatencyHasPassedOnTheClock) {
    Rig rig;
    rig.port.open();
    rig.port.write(command("get_config"));
    EXPECT_EQ(rig.port.bytesWaiting(), 0);
    EXPECT_TRUE(rig.port.waitForData(20));
    EXPECT_EQ(rig.clock.nowUs(), rig.board.config().replyLatencyUs);
    rig.port.setReadLength(0);
    EXPECT_EQ(rig.port.read(), Ack);
}

TEST(SimPort, AWaitWithNothingComingTakesTheWholeTime) {
    Rig rig;
    rig.port.open();
    EXPECT_FALSE(rig.port.waitForData(50));
    EXPECT_EQ(rig.clock.nowUs(), 50'000);
    rig.port.write(command("get_ver")); // answered after 2 ms
    EXPECT_FALSE(rig.port.waitForData(1));
    EXPECT_TRUE(rig.port.waitForData(1));
    EXPECT_EQ(rig.clock.nowUs(), 52'000);
}

TEST(SimPort, ReadTakesAtMostTheReadLength) {
    Rig rig;
    rig.port.open();
    rig.port.write(command("get_ver"));
    rig.clock.advance(10'000);
    rig.port.setReadLength(4);
    EXPECT_EQ(rig.port.read(), QByteArray("1.1."));
    rig.port.setReadLength(1);
    EXPECT_EQ(rig.port.read(), QByteArray("0"));
    EXPECT_EQ(rig.port.bytesWaiting(), 5);
}

TEST(SimPort, ReceiveEventsAreRaisedOnlyWhileTheThresholdIsSetAndBytesWait) {
    Rig rig;
    rig.port.open();
    QByteArray seen;
    int events = 0;
    rig.port.onReceiveEvent = [&](int code) {
        EXPECT_EQ(code, SerialPort::EventReceive);
        ++events;
        seen += rig.port.read();
    };
    rig.port.write(command("get_config"));
    rig.clock.advance(1000);
    EXPECT_EQ(rig.port.deliverReceiveEvents(), 0) << "threshold 0";
    rig.port.setReceiveThreshold(1);
    EXPECT_EQ(rig.port.deliverReceiveEvents(), 4) << "one byte per read";
    EXPECT_EQ(seen, Ack);
    EXPECT_EQ(rig.port.deliverReceiveEvents(), 0);
}

TEST(SimPort, AHandlerThatReadsNothingIsNotCalledForEver) {
    Rig rig;
    rig.port.open();
    rig.port.setReceiveThreshold(1);
    rig.port.onReceiveEvent = [](int) {};
    rig.port.write(command("get_config"));
    rig.clock.advance(1000);
    EXPECT_EQ(rig.port.deliverReceiveEvents(), 1);
}

TEST(SimPort, WhatTheBoardSentWhileThePortWasClosedIsGone) {
    Rig rig;
    rig.port.open();
    rig.port.write(command("get_config"));
    rig.port.close();
    rig.clock.advance(1000);
    rig.port.open();
    EXPECT_EQ(rig.port.bytesWaiting(), 0);
}

TEST(SimPort, AWriteBeyondTheTransmitBufferWaitsForTheLine) {
    BoardConfig config;
    config.baud = 115200;
    Rig rig(config);
    rig.port.open();
    const int n = SimulatedPort::TransmitBufferBytes + 1152;
    rig.port.write(command(qPrintable(QString("ss_program %1").arg(n))));
    rig.port.write(QByteArray(n, '\xFF'));
    // The last 1152 bytes beyond the buffer (plus the command) have to leave first: ~100 ms.
    EXPECT_NEAR(double(rig.clock.nowUs()), (1152 + 16) * 1e7 / 115200, 100.0);
    EXPECT_EQ(rig.board.fpga().received().size(), n) << "all of it handed over";
}

TEST(SimPort, UnpacedWritesNeverWait) {
    Rig rig;
    rig.port.open();
    rig.port.write(command("ss_program 100000") + QByteArray(100'000, '\xFF'));
    EXPECT_EQ(rig.clock.nowUs(), 0);
}
