#include "bpi/BpiStateObj.h"

#include "link/ControllerProtocol.h"
#include "link/Conversions.h"
#include "link/PanelRules.h"
#include "link/RuntimeError.h"

QString BpiStateObj::ServerVersion() const {
    return protocol::ServerVersion;
}

void BpiStateObj::SetState(std::int16_t value) {
    if (value < BPI_IDLE || value > BPI_VERIFY) {
        s_.prompter.tell("Invalid configuration state", AppTitle, Prompter::Icon::None);
        return;
    }
    state_ = value;
}

void BpiStateObj::NextStep() {
    try {
        operation();
    } catch (const RuntimeError& e) {
        s_.prompter.tell(e.description(), "Unexpected Error", Prompter::Icon::Critical);
        // Whatever failed, the window gets its controls back and the file is let go.
        s_.file.close();
        if (s_.port.isOpen())
            s_.port.setReadLength(1);
        rules::EnableFlashControls(s_.ui, 1);
    }
    state_ = BPI_IDLE;
}

void BpiStateObj::waitFor(int count) {
    if (!s_.waitForBytes(count, INT32_MAX, SilenceLimitMs))
        throw RuntimeError(RuntimeError::DeviceIoError,
                           "The BPI server stopped answering (no reply for 5 seconds).");
}

void BpiStateObj::operation() {
    static const char letters[] = {0, 'i', 'e', 'w', 'r', 'v'};
    if (state_ < BPI_ID || state_ > BPI_VERIFY) {
        s_.prompter.tell("Invalid configuration state", "Info", Prompter::Icon::None);
        return;
    }
    QByteArray command(1, letters[state_]);
    command.append('\r');
    if (state_ == BPI_PROGRAM && conv::toInt32(s_.ui.txtBpiBurstSize.text()) % 2 != 0)
        throw RuntimeError(RuntimeError::TypeMismatch,
                           "The BPI burst size must be an even number of bytes.");
    // Everything that can fail is done before the command: once the server has it, it waits
    // for a header and would take the next command for one.
    const QByteArray head = state_ < BPI_PROGRAM ? QByteArray() : prepareTransfer();
    s_.port.write(command);
    if (state_ < BPI_PROGRAM)
        return;
    waitFor(3);
    s_.port.setReadLength(0);
    s_.port.read();
    s_.port.setReadLength(1);
    if (state_ == BPI_PROGRAM)
        programSequence(head);
    else
        transferSequence(state_ == BPI_VERIFY, head);
}

QByteArray BpiStateObj::prepareTransfer() {
    const std::int32_t count = conv::toInt32(s_.ui.txtPrgBytes.text());
    if (count < 0)
        throw RuntimeError(RuntimeError::Overflow, "Overflow: the byte count is negative");
    std::int32_t burst = 0;
    if (state_ == BPI_PROGRAM) {
        burst = conv::toInt32(s_.ui.txtBpiBurstSize.text());
        if (burst <= 0)
            throw RuntimeError(RuntimeError::Overflow, "The BPI burst size must be above 0.");
    }
    const QByteArray head = header(state_ == BPI_PROGRAM, count, burst);
    s_.file.close();
    if (state_ == BPI_READ)
        s_.file.openForWriting(path_);
    else
        s_.file.openForReading(path_);
    return head;
}

QByteArray BpiStateObj::header(bool withBurst, std::int32_t count, std::int32_t burst) const {
    // The offset must fit its 4-byte field.
    conv::hexToInt32(s_.ui.txtOffset.text());
    QByteArray out = conv::hexToBytes(s_.ui.txtOffset.text(), 4);
    out.append(conv::hexToBytes(conv::hexUpper(count), 4));
    if (withBurst)
        out.append(conv::hexToBytes(conv::hexUpper(burst), 4));
    return out;
}

void BpiStateObj::progress(std::int64_t position, std::int64_t count) {
    const int pct = qMin(100, conv::percent(position, count));
    if (int(s_.ui.hscProgress.value()) != pct)
        s_.ui.hscProgress.setValue(pct);
}

void BpiStateObj::programSequence(const QByteArray& head) {
    const std::int32_t burst = conv::toInt32(s_.ui.txtBpiBurstSize.text());
    const std::int32_t count = conv::toInt32(s_.ui.txtPrgBytes.text());
    s_.port.write(head);
    std::int64_t position = 0;
    while (position < count) {
        const std::int64_t length = qMin<std::int64_t>(burst, count - position);
        QByteArray data = s_.file.readAt(position, length);
        // Past the end of the image the erased value is sent: the flash keeps what it has.
        if (data.size() < length)
            data.append(QByteArray(length - data.size(), char(0xFF)));
        if (length % 2 != 0)
            data.append('\0');
        s_.port.write(data);
        const std::int64_t next = position + data.size();
        progress(next, count);
        waitFor(1);
        const QByteArray answer = s_.port.read();
        if (answer != "A")
            s_.appendLine("Unexpected character during BPI Program sequence");
        else if (next < count && s_.processEvents)
            s_.processEvents();
        position = next;
    }
    s_.file.close();
    rules::EnableFlashControls(s_.ui, 1);
}

void BpiStateObj::transferSequence(bool verify, const QByteArray& head) {
    const std::int32_t count = conv::toInt32(s_.ui.txtPrgBytes.text());
    s_.port.write(head);
    std::int64_t position = 0;
    std::int64_t mismatch = -1;
    while (position < count) {
        const int block =
            int(qMin<std::int64_t>(s_.port.receiveBufferSize() / 2, count - position));
        waitFor(block);
        s_.port.setReadLength(block);
        const QByteArray data = s_.port.read();
        s_.port.setReadLength(1);
        if (!verify) {
            s_.file.writeAt(position, data);
        } else if (mismatch < 0) {
            const QByteArray mine = s_.file.readAt(position, block);
            if (mine != data) {
                int same = 0;
                while (same < mine.size() && same < data.size() && mine[same] == data[same])
                    ++same;
                mismatch = position + same;
            }
        }
        position += block;
        progress(position, count);
        if (position < count && s_.processEvents)
            s_.processEvents();
    }
    s_.file.close();
    s_.port.setReadLength(1);
    if (!verify)
        s_.appendLine("BPI Read complete!");
    else if (mismatch >= 0)
        s_.appendLine(QString("BPI compare failed at byte %1").arg(mismatch));
    else
        s_.appendLine("BPI validated!");
    rules::EnableFlashControls(s_.ui, 1);
}
