#include "support/FakePort.h"
#include "support/PanelFixture.h"

#include "engine/Dispatcher.h"

#include <gtest/gtest.h>

namespace {

// A sequence that only records what the dispatcher and the timer ask of it.
struct RecordingSequence : Sequence {
    std::int16_t state = 0;
    int steps = 0;
    std::int16_t State() const override { return state; }
    void SetState(std::int16_t v) override { state = v; }
    void NextStep() override { ++steps; }
    bool FileTransfer() const override { return false; }
    std::int16_t GetPreviousState() const override { return state; }
    int ReplyLength() const override { return 4; }
};

struct DispatcherTest : ::testing::Test {
    VirtualClock clock;
    FakePort port{clock};
    MainPanelControls ui;
    ManualAckTimer timer;
    ScriptedPrompter prompter;
    ScriptedPicker picker;
    Session s{ui, port, clock, timer, prompter, picker};
    RecordingSequence cfg, spi, bpi;
    Dispatcher d{s, cfg, spi, bpi};

    void SetUp() override {
        port.addPort(1);
        port.open();
        s.opState.SetState(OpStateObj::SpiRunning);
        spi.state = 8;
        ui.btnIDecho[0].setVisible(true);
        ui.btnIDecho[1].setVisible(false);
    }
    // A tick once the reply deadline is over: what is waiting then is all there will be.
    void tick() {
        clock.advance(std::int64_t(Dispatcher::ReplyDeadlineMs) * 1000);
        timer.start();
        timer.fire();
    }
};

} // namespace

TEST_F(DispatcherTest, TakesFourBytesAsAnAcknowledgementAndFlushesOnlyWhenAskedTo) {
    const struct {
        QByteArray waiting;
        bool flush;
        int left;
        int misses;
    } cases[] = {
        {QByteArray("ack\0WXYZ", 8), true, 0, 0}, {QByteArray("ack\0WXYZ", 8), false, 4, 0},
        {QByteArray("ack\0XYZ", 7), true, 3, 0},  {"ack", true, 0, 1},
        {QByteArray("ACK\0", 4), true, 0, 1},     {"ack\r", true, 0, 1}};
    for (const auto& c : cases) {
        port.setReadLength(0);
        port.read();
        port.setReadLength(1);
        s.TimeoutCnt = 0;
        s.FlushInput = c.flush;
        port.inject(c.waiting);
        const int steps = spi.steps;
        tick();
        EXPECT_EQ(port.bytesWaiting(), c.left) << c.waiting.constData();
        EXPECT_EQ(s.TimeoutCnt, c.misses) << c.waiting.constData();
        EXPECT_EQ(spi.steps, steps + 1);
        EXPECT_EQ(port.readLength(), 1);
    }
}

TEST_F(DispatcherTest, CalledWithNothingRunningRecoversToTheStartState) {
    s.opState.SetState(OpStateObj::SpiIdle);
    ui.btnIDecho[0].setEnabled(false);
    d.DispatchOperation();
    EXPECT_EQ(prompter.boxes(), QStringList{"Info: Invalid operational state"});
    EXPECT_EQ(s.opState.State(), 0);
    EXPECT_TRUE(ui.btnIDecho[0].enabled());
}

TEST_F(DispatcherTest, FastAcknowledgementProceedsOnTheReplyAndWaitsForALateOneUntilTheDeadline) {
    s.fastAck = true;
    d.DispatchOperation();
    ASSERT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 1);
    // The reply is in after 2 ms: the next step runs then, not at 15 ms.
    clock.advance(1000);
    timer.fire();
    EXPECT_EQ(spi.steps, 1);
    port.inject(QByteArray("ack\0", 4));
    clock.advance(1000);
    timer.fire();
    EXPECT_EQ(spi.steps, 2);
    EXPECT_EQ(s.TimeoutCnt, 0);
    // Without a reply the miss is counted once the reply deadline is over, not before.
    int ticks = 0;
    for (; spi.steps == 2 && ticks < 1000; ++ticks)
        clock.advance(1000), timer.fire();
    EXPECT_EQ(ticks, Dispatcher::ReplyDeadlineMs);
    EXPECT_EQ(s.TimeoutCnt, 1);
}
