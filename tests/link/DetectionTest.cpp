#include "support/FakeBoardTest.h"

#include <gtest/gtest.h>

namespace {

struct DetectionTest : FakePortTest {
    void start() { startWindow(); }
    QStringList listed() const { return h->model.comm.cbCom.items(); }
};

FakePort::Responder silent() {
    return [](const QByteArray&) { return QList<FakePort::Reply>{}; };
}

} // namespace

TEST_F(DetectionTest, PutsTheAnsweringPortFirstAndChoosesIt) {
    struct Case {
        bool threeAnswers, sevenAnswers;
        QStringList list;
        int detected;
    } cases[] = {{false, true, {"COM7", "COM3"}, 7},
                 {false, false, {"COM3", "COM7"}, 3},
                 {true, false, {"COM3", "COM7"}, 3},
                 {true, true, {"COM7", "COM3"}, 7}};
    for (const auto& c : cases) {
        port.removePort(3);
        port.removePort(7);
        port.addPort(3, c.threeAnswers ? FakePort::controller() : silent());
        port.addPort(7, c.sevenAnswers ? FakePort::controller() : silent());
        start();
        EXPECT_EQ(listed(), c.list);
        EXPECT_EQ(h->model.portSettings.detectedPort(), c.detected);
        EXPECT_EQ(port.portNumber(), c.detected);
        EXPECT_EQ(h->ui.btnConnect.text(), QString("Connect to COM%1").arg(c.detected));
        EXPECT_EQ(port.settings(), "115200,N,8,1");
        EXPECT_FALSE(port.isOpen());
    }
}

TEST_F(DetectionTest, AControllerAnsweringAfterTwentyMillisecondsIsNotTheBoard) {
    port.addPort(2, silent());
    port.addPort(5, FakePort::controller("1.1.0", 25));
    start();
    EXPECT_EQ(listed(), (QStringList{"COM2", "COM5"}));
    EXPECT_EQ(h->model.portSettings.detectedPort(), 2);
}

TEST_F(DetectionTest, ARescanWithFewerPortsDropsTheSurplusAndSelectsTheFirst) {
    port.addPort(3, silent());
    port.addPort(7, silent());
    port.addPort(12, FakePort::controller());
    start();
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
    start();
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
    start();
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
