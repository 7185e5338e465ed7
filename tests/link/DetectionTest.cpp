#include "support/FakeBoardTest.h"

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
                 {{{3, 2}, {7, 2}}, {"COM7", "COM3"}, 7},
                 {{{2, -1}, {5, 25}}, {"COM2", "COM5"}, 2}};
    for (const auto& c : cases) {
        for (int n : {2, 3, 5, 7})
            port.removePort(n);
        for (auto [number, delay] : c.ports)
            port.addPort(number, delay < 0 ? FakePort::Responder{} : FakePort::controller(delay));
        startWindow();
        EXPECT_EQ(listed(), c.list);
        EXPECT_EQ(port.portNumber(), c.detected);
        EXPECT_EQ(h->ui.btnConnect.text(), QString("Connect to COM%1").arg(c.detected));
        EXPECT_FALSE(port.isOpen());
    }
}

TEST_F(DetectionTest, ARescanWithFewerPortsDropsTheSurplusAndOkAppliesTheChosenSettings) {
    port.addPort(3, FakePort::Responder{});
    port.addPort(7, FakePort::Responder{});
    port.addPort(12, FakePort::controller());
    startWindow();
    // The board's port on top, the others in ascending order.
    EXPECT_EQ(listed(), (QStringList{"COM12", "COM3", "COM7"}));
    auto& comm = h->model.comm;
    comm.cbCom.setSelectedIndex(1);
    port.removePort(7);
    h->ui.mnuComm.click();
    EXPECT_EQ(listed(), (QStringList{"COM12", "COM3"}));
    EXPECT_EQ(comm.cbCom.selectedIndex(), 0);
    // Cancel keeps the port and its settings, and Connect still works.
    const QString before = port.settings();
    comm.cbCom.setSelectedIndex(1), comm.cbBPS.setSelectedIndex(1);
    comm.btnCancel.click();
    EXPECT_EQ(port.settings(), before);
    EXPECT_EQ(port.portNumber(), 12);
    h->ui.btnConnect.click();
    EXPECT_TRUE(h->model.session.connected()) << h->prompter.last().toStdString();
    h->ui.btnDisconnect.click();
    h->ui.mnuComm.click();
    comm.cbCom.setSelectedIndex(0), comm.cbBPS.setSelectedIndex(1);
    comm.cbParity.setSelectedIndex(2);
    comm.cbDataBits.setSelectedIndex(1);
    comm.cbStopBits.setSelectedIndex(1);
    comm.btnOK.click();
    EXPECT_EQ(port.portNumber(), 12);
    EXPECT_EQ(h->ui.btnConnect.text(), "Connect to COM12");
    EXPECT_EQ(port.settings(), "38400,E,7,2");
}

// Ports that are there but refuse to open are named with their reasons.
TEST_F(DetectionTest, WithoutAPortToOpenSaysWhyAndDisablesConnect) {
    for (const bool refusing : {false, true}) {
        if (refusing) {
            port.refuse(4, RuntimeError::PermissionDenied,
                        "Permission denied on /dev/ttyACM0: ...");
            port.refuse(9, RuntimeError::PortInUse, "ttyUSB0 is busy: another program has it open");
        }
        startWindow();
        ASSERT_EQ(h->prompter.shown.size(), 2);
        EXPECT_EQ(h->prompter.shown[1].text, refusing
                                                 ? "No Com ports available\r\n\r\n"
                                                   "Permission denied on /dev/ttyACM0: ...\r\n"
                                                   "ttyUSB0 is busy: another program has it open"
                                                 : "No Com ports available");
        EXPECT_EQ(h->prompter.shown[1].title, "FATAL: Port Detect Error");
        EXPECT_FALSE(h->ui.btnConnect.enabled());
        EXPECT_TRUE(h->model.portSettings.noPorts());
        EXPECT_EQ(port.portNumber(), 1);
        // OK with nothing listed keeps the port it had.
        h->model.comm.btnOK.click();
        EXPECT_EQ(port.portNumber(), 1);
    }
}

// Outside Windows a port is called by its system name everywhere, and the list says what a
// USB serial port is.
TEST_F(DetectionTest, NamesEachPortByItsSystemNameInTheListCaptionsAndMessages) {
    port.addPort(1, FakePort::Responder{});
    port.name(1, "ttyACM0", "ttyACM0 (USB Serial, serial 77, 1234:5678)");
    port.addPort(2, FakePort::controller(2, QByteArray("1.0.9\0ack\0", 10)));
    port.name(2, "ttyACM1", "ttyACM1 (KitProg3, Cypress, serial 0F1A, 04b4:f155)");
    startWindow();
    EXPECT_EQ(listed(), (QStringList{"ttyACM1 (KitProg3, Cypress, serial 0F1A, 04b4:f155)",
                                     "ttyACM0 (USB Serial, serial 77, 1234:5678)"}));
    EXPECT_EQ(h->ui.btnConnect.text(), "Connect to ttyACM1");
    h->model.comm.cbCom.setSelectedIndex(1);
    h->model.comm.btnOK.click();
    EXPECT_EQ(h->ui.btnConnect.text(), "Connect to ttyACM0");
    h->prompter.shown.clear();
    h->ui.btnConnect.click();
    EXPECT_EQ(
        h->prompter.boxes(),
        QStringList{
            "Warning: Board not detected on ttyACM0.  Please check your Com port selection."});
}
