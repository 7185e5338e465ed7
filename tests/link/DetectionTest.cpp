#include "support/FakeBoardTest.h"

#include <gtest/gtest.h>

namespace {

struct DetectionTest : FakePortTest {
    QStringList listed() const { return h->model.comm.cbCom.items(); }
};

} // namespace

// A controller answering after twenty milliseconds is not the board.
TEST_F(DetectionTest, PutsThePortThatAnswersInTimeFirstAndChoosesIt) {
    struct Case {
        QList<std::pair<int, int>> ports; // number, reply delay in ms (-1: silent)
        QStringList list;
        int detected;
    } cases[] = {{{{3, -1}, {7, 2}}, {"COM7", "COM3"}, 7},
                 {{{3, -1}, {7, -1}}, {"COM3", "COM7"}, 3},
                 {{{3, 2}, {7, -1}}, {"COM3", "COM7"}, 3},
                 {{{3, 2}, {7, 2}}, {"COM7", "COM3"}, 7},
                 {{{2, -1}, {5, 25}}, {"COM2", "COM5"}, 2}};
    for (const auto& c : cases) {
        for (int n : {2, 3, 5, 7})
            port.removePort(n);
        for (auto [number, delay] : c.ports)
            port.addPort(number, delay < 0 ? FakePort::Responder{} : FakePort::controller(delay));
        startWindow();
        EXPECT_EQ(listed(), c.list);
        EXPECT_EQ(h->model.portSettings.detectedPort(), c.detected);
        EXPECT_EQ(port.portNumber(), c.detected);
        EXPECT_EQ(h->ui.btnConnect.text(), QString("Connect to COM%1").arg(c.detected));
        EXPECT_EQ(port.settings(), "115200,N,8,1");
        EXPECT_FALSE(port.isOpen());
    }
}

TEST_F(DetectionTest, ARescanWithFewerPortsDropsTheSurplusAndSelectsTheFirst) {
    port.addPort(3, FakePort::Responder{});
    port.addPort(7, FakePort::Responder{});
    port.addPort(12, FakePort::controller());
    startWindow();
    EXPECT_EQ(listed(), (QStringList{"COM12", "COM7", "COM3"}));
    h->model.comm.cbCom.setSelectedIndex(2);
    port.removePort(7);
    h->ui.mnuComm.click();
    EXPECT_EQ(listed(), (QStringList{"COM12", "COM3"}));
    EXPECT_EQ(h->model.comm.cbCom.selectedIndex(), 0);
    h->model.comm.btnOK.click();
    EXPECT_EQ(port.portNumber(), 12);
    EXPECT_EQ(h->ui.btnConnect.text(), "Connect to COM12");
}

TEST_F(DetectionTest, WithoutAnyPortReportsItAndDisablesConnect) {
    startWindow();
    ASSERT_EQ(h->prompter.shown.size(), 2);
    EXPECT_EQ(h->prompter.shown[1].text, "No Com ports available");
    EXPECT_EQ(h->prompter.shown[1].title, "FATAL: Port Detect Error");
    EXPECT_FALSE(h->ui.btnConnect.enabled());
    EXPECT_TRUE(h->model.portSettings.noPorts());
    EXPECT_EQ(port.portNumber(), 1);
    // OK with nothing listed keeps the port it had.
    h->model.comm.btnOK.click();
    EXPECT_EQ(port.portNumber(), 1);
}

TEST_F(DetectionTest, OkAppliesTheChosenLineSettingsButNotTheFlowControl) {
    port.addPort(12, FakePort::controller());
    startWindow();
    auto& comm = h->model.comm;
    comm.cbBPS.setSelectedIndex(1);
    comm.cbParity.setSelectedIndex(2);
    comm.cbDataBits.setSelectedIndex(1);
    comm.cbStopBits.setSelectedIndex(1);
    comm.btnOK.click();
    EXPECT_EQ(port.settings(), "38400,E,7,2");
    comm.btnRestore.click();
    comm.btnOK.click();
    EXPECT_EQ(port.settings(), "115200,N,8,1");
    EXPECT_EQ(port.portNumber(), 12);
}
