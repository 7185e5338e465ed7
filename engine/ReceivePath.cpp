#include "engine/ReceivePath.h"

#include "engine/RuntimeError.h"

ReceivePath::ReceivePath(Session& session)
    : s_(session) {
    s_.port.onReceiveEvent = [this](int code) { OnComm(code); };
}

void ReceivePath::OnComm(int eventCode) {
    if (eventCode != SerialPort::EventReceive)
        return;
    if (!s_.opState.running()) {
        // One notification may report several characters: show each once, in order.
        while (s_.port.isOpen() && s_.port.receiveThreshold() >= 1 && s_.port.bytesWaiting() > 0)
            DisplayReceived();
        return;
    }
    s_.prompter.tell("In serial event function in the wrong state", "ERROR",
                     Prompter::Icon::Critical);
}

QString ReceivePath::render(char byte, bool hex) {
    const unsigned char c = static_cast<unsigned char>(byte);
    if (hex) {
        static const char digits[] = "0123456789ABCDEF";
        const QChar three[] = {QChar(digits[c >> 4]), QChar(digits[c & 15]), QChar(' ')};
        return QString(three, 3);
    }
    if (c == '\r')
        return QStringLiteral("\r\n");
    if (c == '\n')
        return {};
    return QString(QChar(c));
}

void ReceivePath::DisplayReceived() {
    auto& view = s_.ui.txtRecvView;
    try {
        const QByteArray one = s_.port.read();
        if (one.isEmpty())
            throw RuntimeError(RuntimeError::InputPastEnd, "Input past end of file");
        const bool hex = s_.displayMode.State() == 1;
        s_.appendToConsole(render(one[0], hex));
        if (!hex && one[0] == '\r')
            view.moveCaretToEnd();
        if (!s_.clearScreen.isEmpty() && view.text().size() >= 6 &&
            view.text().endsWith(s_.clearScreen))
            view.setText("");
        if (s_.scrollRequest) {
            view.moveCaretToEnd();
            s_.scrollRequest = false;
        }
        if (view.text().size() > 2 && view.text().endsWith("> "))
            view.moveCaretToEnd();
    } catch (const RuntimeError& e) {
        s_.prompter.tell(e.description(), "Application Error", Prompter::Icon::Critical);
    }
}
