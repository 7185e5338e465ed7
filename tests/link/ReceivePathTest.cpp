#include "support/FakeBoardTest.h"

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

// Each step "hex" chooses the hex display; any other step arrives.
TEST_F(ReceivePathTest, ShowsArrivingBytesAsTextOrHex) {
    const struct {
        const char* what;
        QList<QByteArray> steps;
        QString console;
        int caretMoves = 0;
    } cases[] = {
        {"text line by line, following the prompt", {"ok\r\n> "}, "ok\r\n> ", 2},
        {"every byte in hex", {"hex", QByteArray("a\0\r\n", 4)}, "61 00 0D 0A "},
        {"the clear-screen sequence clears in ASCII", {"old text\x1b[H\x1b[J", "new"}, "new"},
        {"but not in hex", {"hex", "\x1b[H\x1b[J"}, "1B 5B 48 1B 5B 4A "},
        {"switching leaves shown text as it is", {"AB", "hex", "C"}, "AB43 "},
    };
    for (const auto& c : cases) {
        h->ui.btnClr[1].click();
        h->ui.rbRecvMode[0].click();
        const int caret = h->ui.txtRecvView.caretMoves();
        for (const QByteArray& step : c.steps) {
            if (step == "hex")
                h->ui.rbRecvMode[1].click();
            else
                arrive(step);
        }
        EXPECT_EQ(console(), c.console) << c.what;
        EXPECT_GE(h->ui.txtRecvView.caretMoves(), caret + c.caretMoves);
    }
}

TEST_F(ReceivePathTest, SendsTypedCharactersTheWholeConsoleAndTheAsciiTable) {
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
    // Send Ascii Table, then once more when the port is closed.
    h->ui.btnSendBlock.click();
    const QByteArray table = port.written(1).mid(before + 7);
    ASSERT_EQ(table.size(), 256);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(quint8(table[i]), i);
    h->ui.btnDisconnect.click();
    h->ui.btnSendBlock.click();
    EXPECT_EQ(h->prompter.boxes(),
              QStringList{"Lintrek WARNING: Operation valid only when the port is open"});
}
