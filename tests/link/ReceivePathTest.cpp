#include "support/FakeBoardTest.h"

#include <gtest/gtest.h>

namespace {

struct ReceivePathTest : FakeBoardTest {
    void SetUp() override { start(true); }
    // Bytes arrive and the port reports them with one notification.
    void arrive(const QByteArray& bytes) {
        port.inject(bytes);
        port.onReceiveEvent(SerialPort::EventReceive);
    }
    const QString& console() { return h->ui.txtRecvView.text(); }
};

} // namespace

TEST_F(ReceivePathTest, ShowsTextLineByLineAndFollowsThePrompt) {
    const int caret = h->ui.txtRecvView.caretMoves();
    arrive("ok\r\n> ");
    EXPECT_EQ(console(), "ok\r\n> ");
    EXPECT_GE(h->ui.txtRecvView.caretMoves(), caret + 2);
}

TEST_F(ReceivePathTest, ShowsEveryByteInHexWhenAsked) {
    h->ui.rbRecvMode[1].click();
    EXPECT_TRUE(h->ui.rbRecvMode[1].checked());
    EXPECT_FALSE(h->ui.rbRecvMode[0].checked());
    arrive(QByteArray("a\0\r\n", 4));
    EXPECT_EQ(console(), "61 00 0D 0A ");
}

TEST_F(ReceivePathTest, ClearsTheConsoleOnTheClearScreenSequenceOnlyInAscii) {
    arrive("old text\x1b[H\x1b[J");
    EXPECT_EQ(console(), "");
    arrive("new");
    EXPECT_EQ(console(), "new");
    h->ui.btnClr[1].click();
    h->ui.rbRecvMode[1].click();
    arrive("\x1b[H\x1b[J");
    EXPECT_EQ(console(), "1B 5B 48 1B 5B 4A ");
}

TEST_F(ReceivePathTest, SwitchingTheDisplayModeLeavesShownTextAsItIs) {
    arrive("AB");
    h->ui.rbRecvMode[1].click();
    arrive("C");
    EXPECT_EQ(console(), "AB43 ");
}

TEST_F(ReceivePathTest, RefusesToShowBytesWhileASequenceRuns) {
    h->model.session.opState.SetState(4);
    arrive("x");
    ASSERT_EQ(h->prompter.shown.size(), 1);
    EXPECT_EQ(h->prompter.shown[0].text, "In serial event function in the wrong state");
    EXPECT_EQ(h->prompter.shown[0].title, "ERROR");
    EXPECT_EQ(console(), "");
    EXPECT_EQ(port.bytesWaiting(), 1);
}

TEST_F(ReceivePathTest, SendsTypedCharactersInCharModeAndTheWholeConsoleOnSend) {
    const int before = int(port.written(1).size());
    auto& send = h->ui.txtSendView;
    h->ui.rbTransmitMode[0].click();
    send.keyPress('a');
    send.setText("a");
    send.keyPress('b');
    send.setText("ab");
    send.keyPress(13);
    h->ui.btnTransmitWnd.click();
    EXPECT_EQ(port.written(1).mid(before), QByteArray("ab\rab\0", 6));
    EXPECT_EQ(send.text(), "");
    h->ui.rbTransmitMode[1].click();
    send.keyPress('z');
    h->ui.btnTransmitWnd.click();
    EXPECT_EQ(port.written(1).mid(before + 6), QByteArray("\0", 1));
}

TEST_F(ReceivePathTest, SendsTheAsciiTableAndWarnsWhenThePortIsClosed) {
    const int before = int(port.written(1).size());
    h->ui.btnSendBlock.click();
    const QByteArray table = port.written(1).mid(before);
    ASSERT_EQ(table.size(), 256);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(quint8(table[i]), i);
    h->ui.btnDisconnect.click();
    h->ui.btnSendBlock.click();
    ASSERT_EQ(h->prompter.shown.size(), 1);
    EXPECT_EQ(h->prompter.shown[0].title, "Lintrek WARNING");
    EXPECT_EQ(h->prompter.shown[0].text, "Operation valid only when the port is open");
}
