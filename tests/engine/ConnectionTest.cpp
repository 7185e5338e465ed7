#include "support/FakeBoardTest.h"

namespace {

struct ConnectionTest : FakePortTest {
    void start() {
        startWindow();
        h->prompter.shown.clear();
    }
    // ID Check, Bulk Erase, Program and Verify of the SPI mode.
    QList<bool> spiButtons() {
        return {h->ui.btnIDecho[0].enabled(), h->ui.btnBulkErase[0].enabled(),
                h->ui.btnProgram[0].enabled(), h->ui.btnVerify[0].enabled()};
    }
};

} // namespace

// Without a device every SPI button stays disabled; with one they follow the inputs.
TEST_F(ConnectionTest, ConnectsToAControllerThatAnswersOnTimeAndNamesThePortOnDisconnect) {
    // Its version comes a quarter of a second late, as a slow adapter may deliver it.
    port.addPort(3, FakePort::controller(250));
    start();
    h->ui.btnConnect.click();
    EXPECT_TRUE(h->prompter.shown.isEmpty()) << h->prompter.texts().join("|").toStdString();
    EXPECT_TRUE(h->ui.btnDisconnect.visible() && !h->ui.btnConnect.visible());
    EXPECT_EQ(h->ui.btnDisconnect.text(), "Disconnect from COM3");
    EXPECT_TRUE(port.isOpen());
    EXPECT_TRUE(!h->ui.mnuComm.enabled() && h->ui.btnLoad.enabled());
    EXPECT_EQ(spiButtons(), QList<bool>({false, false, false, false}));
    h->ui.cbFlash.addItem("M25P16");
    h->ui.cbFlash.setSelectedIndex(0);
    EXPECT_EQ(spiButtons(), QList<bool>({true, true, false, false}));
    h->ui.txtSpiFile.setText("data.bin");
    EXPECT_EQ(spiButtons(), QList<bool>({true, true, true, true}));
}

TEST_F(ConnectionTest, RefusesAControllerThatIsLateSilentOrOfAnotherVersion) {
    const QByteArray good("1.1.0\0ack\0", 10);
    const struct {
        const char* what;
        QByteArray reply;
        int delayMs;
        bool portGone;
        QString title, text;
        bool leftOpen;
    } cases[] = {
        // Replies late by a slow adapter or firmware are waited for, up to the reply deadline.
        {"later than the reply deadline", good, 450, false, "Warning",
         "Board not detected on Com3.  Please check your Com port selection.", false},
        {"wrong version", QByteArray("1.0.9\0ack\0", 10), 2, false, "Error", WrongVersion, false},
        {"ack without NUL", "1.0.9ack", 2, false, "Error opening COM3",
         "Invalid procedure call or argument\n\rPlease verify your Com port (Options | Comm)",
         true},
        {"port gone", good, 2, true, "Error opening COM3",
         "Port Open Failed\n\rPlease verify your Com port (Options | Comm)", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        port.addPort(3, FakePort::controller(c.delayMs, c.reply));
        start();
        if (c.portGone)
            port.removePort(3);
        h->ui.btnConnect.click();
        EXPECT_EQ(h->prompter.boxes(), QStringList{c.title + ": " + c.text});
        EXPECT_EQ(port.isOpen(), c.leftOpen);
        EXPECT_TRUE(h->ui.btnConnect.visible());
        port.close();
    }
}

TEST_F(ConnectionTest, EnablesTheParallelFlashSetOnlyWhenTheServerAnswersTheProbe) {
    const QByteArray v036 = "MicroBlaze BPI Server v036\r\n";
    for (const QByteArray& probeReply :
         QList<QByteArray>{"", v036, "MicroBlaze BPI Server v035\r\n"})
        for (const bool bpiFile : {false, true}) {
            SCOPED_TRACE(probeReply.constData() + std::to_string(bpiFile));
            port.addPort(1, FakePort::controller(2, QByteArray("1.1.0\0ack\0", 10), probeReply));
            start();
            if (bpiFile)
                h->ui.txtBpiFile.setText("image.bin");
            h->ui.btnConnect.click();
            const bool answered = probeReply == v036;
            EXPECT_EQ(h->model.session.BpiServerRunning, answered);
            EXPECT_EQ(h->ui.btnIDecho[1].enabled(), answered);
            for (auto* b : {&h->ui.btnProgram[1], &h->ui.btnRead[1], &h->ui.btnVerify[1]})
                EXPECT_EQ(b->enabled(), answered && bpiFile);
            h->ui.btnDisconnect.click();
            h->ui.btnDisconnect.click(); // once more while disconnected: no message
            EXPECT_TRUE(h->prompter.shown.isEmpty());
            EXPECT_TRUE(h->ui.btnConnect.visible() && !port.isOpen());
            EXPECT_FALSE(h->ui.btnIDecho[0].enabled() || h->ui.btnProgram[1].enabled());
            EXPECT_TRUE(!h->ui.btnLoad.enabled() && h->ui.mnuComm.enabled());
        }
}
