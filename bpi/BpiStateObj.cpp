#include "bpi/BpiStateObj.h"

#include "engine/RequestCheck.h"
#include "link/ControllerProtocol.h"
#include "link/Conversions.h"
#include "link/ReceivePath.h"
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

void BpiStateObj::begin(const OperationRequest& r) {
    using Kind = OperationRequest::Kind;
    runPath_ = r.path;
    offset_ = r.offset;
    count_ = std::int32_t(r.count);
    burst_ = r.burst;
    eraseLimitMs_ = r.eraseLimitMs;
    transferring_ = Transfer::None;
    position_ = 0;
    state_ = r.kind == Kind::BpiIdCheck   ? BPI_ID
             : r.kind == Kind::BpiErase   ? BPI_ERASE
             : r.kind == Kind::BpiProgram ? BPI_PROGRAM
             : r.kind == Kind::BpiRead    ? BPI_READ
                                          : BPI_VERIFY;
}

void BpiStateObj::NextStep() {
    try {
        operation();
    } catch (const OperationAbandoned&) {
        s_.file.close();
        settle();
    } catch (const RuntimeError& e) {
        s_.fail(e.description());
        if (!s_.windowClosed)
            s_.prompter.tell(e.description(), "Unexpected Error", Prompter::Icon::Critical);
        s_.file.close();
        if (s_.port.isOpen())
            s_.port.setReadLength(1);
    }
    state_ = BPI_IDLE;
    transferring_ = Transfer::None;
}

// A transfer stopped halfway leaves the server taking (or sending) the rest of it, and it
// reads no command until it has. While the port is open the rest is completed, for a few
// seconds at most: erased-value filler to program (it changes no cell), the data read
// discarded. What cannot be completed in time is said.
void BpiStateObj::settle() {
    if (transferring_ == Transfer::None || !s_.port.isOpen())
        return;
    const std::int64_t deadline = s_.clock.nowUs() + std::int64_t(SettleLimitMs) * 1000;
    const auto inTime = [&] { return s_.clock.nowUs() < deadline; };
    s_.port.setReadLength(0);
    std::int64_t left = count_ - position_;
    while (left > 0 && inTime()) {
        if (transferring_ == Transfer::Sending) {
            const std::int64_t length = qMin<std::int64_t>(burst_, left);
            s_.port.write(QByteArray(length + length % 2, char(0xFF)));
            while (s_.port.bytesWaiting() < 1 && inTime())
                s_.port.waitForData(1);
            s_.port.read();
            left -= length;
        } else if (s_.port.bytesWaiting() > 0) {
            left -= s_.port.read().size();
        } else {
            s_.port.waitForData(1);
        }
    }
    s_.port.setReadLength(1);
    if (left > 0)
        s_.appendLine(QString("The BPI server is still in the middle of a transfer (%1 bytes "
                              "left). Load the server again before the next parallel flash "
                              "operation.")
                          .arg(left));
}

void BpiStateObj::waitFor(int count) {
    if (s_.waitForBytes(count, INT32_MAX, SilenceLimitMs, true))
        return;
    if (s_.stopRequested())
        throw OperationAbandoned();
    // A server that went quiet may still be busy, or in the middle of a transfer: nothing
    // more may be sent to it until it has been loaded again.
    s_.BpiServerRunning = false;
    throw RuntimeError(RuntimeError::DeviceIoError,
                       "The BPI server stopped answering (no reply for 5 seconds). Load the "
                       "server again before the next parallel flash operation.");
}

// A chip erase keeps the server busy for up to minutes, and it answers nothing meanwhile: what
// it says is shown as it comes, and the operation ends when it says the erase is complete.
void BpiStateObj::awaitErase() {
    static const QByteArray done = "Erase complete";
    const std::int64_t deadline = s_.clock.nowUs() + std::int64_t(eraseLimitMs_) * 1000;
    QByteArray heard;
    s_.port.setReadLength(0);
    while (!heard.contains(done)) {
        if (s_.clock.nowUs() >= deadline) {
            s_.BpiServerRunning = false;
            throw RuntimeError(RuntimeError::DeviceIoError,
                               QString("The BPI server did not finish the chip erase within %1 "
                                       "seconds. Load the server again before the next parallel "
                                       "flash operation.")
                                   .arg(eraseLimitMs_ / 1000));
        }
        if (s_.port.bytesWaiting() == 0) {
            s_.port.waitForData(50);
            letEventsRun();
            continue;
        }
        const QByteArray more = s_.port.read();
        heard += more;
        const bool hex = s_.displayMode.State() == 1;
        for (char c : more)
            s_.appendToConsole(ReceivePath::render(c, hex));
        // The server says two lines, the second once the erase is over: a second line that is
        // not the one expected (noise on the line) is not waited on for the whole bound.
        if (!heard.contains(done) && heard.count('\n') >= 2) {
            s_.BpiServerRunning = false;
            throw RuntimeError(RuntimeError::DeviceIoError,
                               "The BPI server's answer to the erase was not understood; the "
                               "erase may not be complete. Load the server again and erase "
                               "again.");
        }
    }
    s_.port.setReadLength(1);
    s_.succeed();
}

// The identification is the server's line: it is shown as it comes, and the check succeeds only
// once it is whole. A server that does not answer is not running.
void BpiStateObj::awaitIdentification() {
    QByteArray heard;
    s_.port.setReadLength(0);
    while (!heard.contains('\n')) {
        waitFor(1);
        const QByteArray more = s_.port.read();
        heard += more;
        const bool hex = s_.displayMode.State() == 1;
        for (char c : more)
            s_.appendToConsole(ReceivePath::render(c, hex));
    }
    s_.port.setReadLength(1);
    s_.succeed();
}

void BpiStateObj::letEventsRun() {
    if (s_.processEvents)
        s_.processEvents();
    if (s_.stopRequested())
        throw OperationAbandoned();
}

void BpiStateObj::operation() {
    static const char letters[] = {0, 'i', 'e', 'w', 'r', 'v'};
    if (state_ < BPI_ID || state_ > BPI_VERIFY) {
        s_.prompter.tell("Invalid configuration state", "Info", Prompter::Icon::None);
        return;
    }
    QByteArray command(1, letters[state_]);
    command.append('\r');
    // Everything that can fail is done before the command: once the server has it, it waits
    // for a header and would take the next command for one.
    if (state_ >= BPI_PROGRAM && !loadImage())
        return;
    const QByteArray head = state_ < BPI_PROGRAM ? QByteArray() : prepareTransfer();
    s_.port.write(command);
    if (state_ == BPI_ERASE) {
        awaitErase();
        return;
    }
    if (state_ == BPI_ID) {
        awaitIdentification();
        return;
    }
    waitFor(3);
    s_.port.setReadLength(0);
    s_.port.read();
    s_.port.setReadLength(1);
    if (state_ == BPI_PROGRAM)
        programSequence(head);
    else
        transferSequence(state_ == BPI_VERIFY, head);
}

// Intel HEX and bitstreams are decoded, as for the SPI flash, before the server is told
// anything; a file that starts like one but cannot be read as one is refused, never sent raw.
bool BpiStateObj::loadImage() {
    image_.reset();
    if (state_ != BPI_PROGRAM && state_ != BPI_VERIFY)
        return true;
    QFile file(runPath_);
    if (!file.open(QIODevice::ReadOnly) || !mayBeEncodedImage(file.peek(4096)))
        return true;
    const QByteArray contents = file.readAll();
    if (!isEncodedImage(contents))
        return true;
    try {
        image_ = readFlashImage(contents, requestcheck::BpiFlashSize - offset_);
    } catch (const FlashImageError& e) {
        const QString text = e.message() + "\r\nNothing was sent to the board.";
        s_.refuse(text);
        if (!s_.windowClosed)
            s_.prompter.tell(text, "BPI Error", Prompter::Icon::Critical);
        return false;
    }
    if (!image_->note().isEmpty())
        s_.appendLine(image_->note());
    return true;
}

QByteArray BpiStateObj::prepareTransfer() {
    const QByteArray head = header(state_ == BPI_PROGRAM, count_, burst_);
    s_.file.close();
    if (state_ == BPI_READ)
        s_.file.openForWriting(runPath_);
    else if (!image_)
        s_.file.openForReading(runPath_);
    return head;
}

// Past the end of the image the erased value: the flash keeps what it has.
QByteArray BpiStateObj::imageBytes(std::int64_t position, std::int64_t length) {
    if (image_)
        return image_->bytes(position, length);
    QByteArray data = s_.file.readAt(position, length);
    if (data.size() < length)
        data.append(QByteArray(length - data.size(), char(0xFF)));
    return data;
}

QByteArray BpiStateObj::header(bool withBurst, std::int32_t count, std::int32_t burst) const {
    // Taken by value: leading zeros are allowed, and the field is four bytes whatever was typed.
    QByteArray out = conv::hexToBytes(conv::hexUpper(offset_), 4);
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
    const std::int32_t burst = burst_, count = count_;
    s_.port.write(head);
    bool allAnswered = true;
    std::int64_t& position = position_;
    position = 0;
    transferring_ = Transfer::Sending;
    while (position < count) {
        const std::int64_t length = qMin<std::int64_t>(burst, count - position);
        QByteArray data = imageBytes(position, length);
        if (length % 2 != 0)
            data.append('\0');
        s_.port.write(data);
        const std::int64_t next = position + data.size();
        progress(next, count);
        waitFor(1);
        const QByteArray answer = s_.port.read();
        if (answer != "A") {
            allAnswered = false;
            s_.fail("Unexpected character during BPI Program sequence");
            s_.appendLine("Unexpected character during BPI Program sequence");
        } else if (next < count) {
            letEventsRun();
        }
        position = next;
    }
    s_.file.close();
    if (allAnswered)
        s_.succeed();
}

void BpiStateObj::transferSequence(bool verify, const QByteArray& head) {
    const std::int32_t count = count_;
    s_.port.write(head);
    std::int64_t& position = position_;
    position = 0;
    transferring_ = Transfer::Receiving;
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
            // Past the end of the file the flash holds what Program leaves there: 0xFF. What a
            // HEX file leaves open is not compared.
            const QByteArray mine = imageBytes(position, block);
            for (int i = 0; i < block && mismatch < 0; ++i)
                if (mine[i] != data[i] && (!image_ || image_->given(position + i)))
                    mismatch = position + i;
        }
        position += block;
        progress(position, count);
        if (position < count)
            letEventsRun();
    }
    s_.port.setReadLength(1);
    // Nothing more may come: a byte more than asked for (noise on the line) means some byte
    // taken was not the flash's, and the other way round.
    if (s_.waitForBytes(1, Session::QuietPollLimit, ExtraByteWaitMs)) {
        const QString text = "The BPI server sent more bytes than were asked for; the data is "
                             "not to be trusted.";
        s_.fail(text);
        s_.appendLine(text);
        return;
    }
    if (mismatch >= 0) {
        const QString text = QString("BPI compare failed at byte %1").arg(mismatch);
        s_.fail(text);
        s_.appendLine(text);
        return;
    }
    if (!verify && !s_.file.commit()) {
        s_.fail(s_.file.commitFailure());
        s_.appendLine(s_.file.commitFailure());
        return;
    }
    s_.file.close();
    s_.succeed();
    s_.appendLine(verify ? "BPI validated!" : "BPI Read complete!");
}
