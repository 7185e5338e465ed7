#include "bpi/BpiStateObj.h"

#include "engine/Conversions.h"
#include "engine/ReceivePath.h"
#include "engine/RequestCheck.h"
#include "engine/RuntimeError.h"
#include "engine/TransferFinisher.h"
#include "link/ControllerProtocol.h"

#include <QDateTime>

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
    position_ = pieceAt_ = 0;
    answerOwed_ = false;
    pieceCount_ = 0;
    firstRead_.clear();
    image_.reset();
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
        if (!settle())
            s_.BpiServerRunning = false;
        if (state_ == BPI_ERASE)
            eraseLeftRunning();
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

// A transfer stopped halfway leaves the server taking (or sending) the rest of its command,
// and it reads no command until it has. While the port is open the rest is completed: erased-
// value filler to program (it changes no cell), the data read discarded. Returns whether the
// server reads commands again.
bool BpiStateObj::settle() {
    if (transferring_ == Transfer::None)
        return true;
    if (!s_.port.isOpen())
        return false;
    const bool sending = transferring_ == Transfer::Sending;
    s_.port.setReadLength(0);
    if (sending && answerOwed_ && s_.waitForBytes(1, INT32_MAX, SilenceLimitMs))
        s_.port.read();
    answerOwed_ = false;
    TransferFinisher finisher(s_, TransferFinisher::stopping(true));
    const auto discard = [this](std::int64_t) -> std::int64_t {
        if (!s_.waitForBytes(1, INT32_MAX, SilenceLimitMs))
            return 0;
        return s_.port.read().size();
    };
    const std::int64_t left = finisher.finish(
        pieceCount_ - position_,
        sending ? TransferFinisher::serverFiller(s_, burst_, SilenceLimitMs) : discard);
    s_.port.setReadLength(1);
    transferring_ = Transfer::None;
    if (left == 0)
        return true;
    // Data the server still sends ends by itself; bytes it still waits for keep it deaf.
    if (!sending) {
        s_.appendOwnLine(
            QString("The BPI server was still sending %1 bytes; they are let pass.").arg(left));
        return false;
    }
    s_.stuck.record(s_.port.portName(), {true, left + s_.port.unsent(), burst_});
    s_.appendOwnLine(QString("The BPI server still expects %1 bytes of a transfer; power the board "
                             "off and on before the next operation.")
                         .arg(left));
    return false;
}

// An erase goes on in the chip, and the server answers nothing until it is over: said now, and
// to the next run on the port, which would otherwise find a board that does not answer.
void BpiStateObj::eraseLeftRunning() {
    s_.BpiServerRunning = false;
    const QDateTime until = QDateTime::currentDateTime().addMSecs(eraseLimitMs_);
    s_.stuck.record(s_.port.portName(), {true, 0, 0, until.toMSecsSinceEpoch()});
    s_.appendOwnLine(QString("The chip goes on erasing by itself, up to %1 s, and the BPI server "
                             "answers nothing until it has finished.")
                         .arg(eraseLimitMs_ / 1000));
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
                       "The BPI server stopped answering (no reply for 5 seconds): bytes were "
                       "probably lost on the line, or the server hung. Load the server again "
                       "before the next parallel flash operation.");
}

// A chip erase keeps the server busy for up to minutes, and it answers nothing meanwhile: what
// it says is shown as it comes, and the operation ends when it says the erase is complete.
void BpiStateObj::awaitErase() {
    static const QByteArray done = "Erase complete";
    const std::int64_t start = s_.clock.nowUs();
    const std::int64_t deadline = start + std::int64_t(eraseLimitMs_) * 1000;
    QByteArray heard;
    s_.port.setReadLength(0);
    while (!heard.contains(done)) {
        // The server says it is erasing at once: one that says nothing is not erasing.
        if (heard.isEmpty() && s_.clock.nowUs() - start >= std::int64_t(SilenceLimitMs) * 1000) {
            s_.BpiServerRunning = false;
            throw RuntimeError(RuntimeError::DeviceIoError,
                               "The BPI server did not answer the erase command (nothing for 5 "
                               "seconds): a byte was probably lost on the line. Load the server "
                               "again before the next parallel flash operation.");
        }
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
    if (state_ < BPI_ID || state_ > BPI_VERIFY) {
        s_.prompter.tell("Invalid configuration state", "Info", Prompter::Icon::None);
        return;
    }
    // Everything that can fail is done before the command: once the server has it, it waits
    // for a header and would take the next command for one.
    if (state_ >= BPI_PROGRAM) {
        if (!loadImage())
            return;
        prepareTransfer();
    }
    if (state_ == BPI_ERASE) {
        sendCommand();
        awaitErase();
        return;
    }
    if (state_ == BPI_ID) {
        sendCommand();
        awaitIdentification();
        return;
    }
    transfer();
}

void BpiStateObj::sendCommand() {
    static const char letters[] = {0, 'i', 'e', 'w', 'r', 'v'};
    QByteArray command(1, letters[state_]);
    command.append('\r');
    s_.port.write(command);
}

// A transfer goes to the server as commands of at most PieceBytes each, so that a stop
// finishes the one under way in a few seconds.
void BpiStateObj::transfer() {
    allAnswered_ = true;
    mismatch_ = -1;
    movePieces();
    // A header byte garbled on its way compares another place, which may hold the same: a
    // match counts once a second pass agrees.
    if (state_ == BPI_VERIFY) {
        if (mismatch_ >= 0)
            transferEnd(Pass::Verify);
        else if (!extraBytes())
            checkPass(Pass::Verify);
        return;
    }
    if (state_ == BPI_PROGRAM) {
        s_.file.close();
        if (!allAnswered_)
            return;
        // The server answers each burst whatever bytes it took, and programs them as they
        // came: a byte garbled on its way shows only in what the flash now holds.
        if (!image_)
            s_.file.openForReading(runPath_);
        checkPass(Pass::ProgramCheck);
        return;
    }
    // A header byte garbled on its way reads another place, and the data does not show it: the
    // range is read again, and the two reads must agree.
    if (extraBytes())
        return;
    image_ = FlashImage::raw(firstRead_);
    checkPass(Pass::ReadCheck);
}

void BpiStateObj::checkPass(Pass pass) {
    state_ = BPI_VERIFY;
    movePieces();
    transferEnd(pass);
}

void BpiStateObj::movePieces() {
    const bool program = state_ == BPI_PROGRAM;
    for (pieceAt_ = 0; pieceAt_ < count_; pieceAt_ += pieceCount_) {
        if (pieceAt_ > 0)
            letEventsRun();
        pieceCount_ = std::int32_t(qMin<std::int64_t>(PieceBytes, count_ - pieceAt_));
        sendCommand();
        waitFor(3);
        s_.port.setReadLength(0);
        s_.port.read();
        s_.port.setReadLength(1);
        s_.port.write(header(program, offset_ + pieceAt_, pieceCount_, burst_));
        if (program)
            programPiece();
        else
            receivePiece(state_ == BPI_VERIFY);
        transferring_ = Transfer::None;
    }
    s_.port.setReadLength(1);
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

void BpiStateObj::prepareTransfer() {
    s_.file.close();
    if (state_ == BPI_READ) {
        s_.file.openForWriting(runPath_);
        firstRead_ = QByteArray(count_, char(0xFF));
    } else if (!image_)
        s_.file.openForReading(runPath_);
}

// Past the end of the image the erased value: the flash keeps what it has.
QByteArray BpiStateObj::imageBytes(std::int64_t position, std::int64_t length) {
    return image_ ? image_->bytes(position, length) : s_.file.readAtOrErased(position, length);
}

QByteArray BpiStateObj::header(bool withBurst, std::int64_t offset, std::int32_t count,
                               std::int32_t burst) const {
    // Taken by value: leading zeros are allowed, and the field is four bytes whatever was typed.
    QByteArray out = conv::hexToBytes(conv::hexUpper(offset), 4);
    out.append(conv::hexToBytes(conv::hexUpper(count), 4));
    if (withBurst)
        out.append(conv::hexToBytes(conv::hexUpper(burst), 4));
    return out;
}

void BpiStateObj::progress(std::int64_t position, std::int64_t count) {
    const int pct = qMin(100, conv::percent(position, count));
    // Written only when the whole percentage changes: the control ignores the same value.
    s_.ui.hscProgress.setValue(pct);
}

void BpiStateObj::programPiece() {
    std::int64_t& position = position_;
    position = 0;
    transferring_ = Transfer::Sending;
    while (position < pieceCount_) {
        const std::int64_t length = qMin<std::int64_t>(burst_, pieceCount_ - position);
        QByteArray data = imageBytes(pieceAt_ + position, length);
        if (length % 2 != 0)
            data.append('\0');
        s_.port.write(data);
        // Counted as sent at once: a stop while the answer is awaited must not send it again.
        const std::int64_t next = position + data.size();
        position = next;
        answerOwed_ = true;
        progress(pieceAt_ + next, count_);
        waitFor(1);
        const QByteArray answer = s_.port.read();
        answerOwed_ = false;
        if (answer != "A") {
            allAnswered_ = false;
            s_.fail("Unexpected character during BPI Program sequence");
            s_.appendLine("Unexpected character during BPI Program sequence");
        } else if (next < pieceCount_) {
            letEventsRun();
        }
    }
}

void BpiStateObj::receivePiece(bool verify) {
    std::int64_t& position = position_;
    position = 0;
    transferring_ = Transfer::Receiving;
    while (position < pieceCount_) {
        const int block =
            int(qMin<std::int64_t>(s_.port.receiveBufferSize() / 2, pieceCount_ - position));
        waitFor(block);
        s_.port.setReadLength(block);
        const QByteArray data = s_.port.read();
        s_.port.setReadLength(1);
        const std::int64_t at = pieceAt_ + position;
        if (!verify) {
            s_.file.writeAt(at, data);
            firstRead_.replace(at, data.size(), data);
        } else if (mismatch_ < 0) {
            // Past the end of the file the flash holds what Program leaves there: 0xFF. What a
            // HEX file leaves open is not compared.
            const QByteArray mine = imageBytes(at, block);
            for (int i = 0; i < block && mismatch_ < 0; ++i)
                if (mine[i] != data[i] && (!image_ || image_->given(at + i)))
                    mismatch_ = at + i;
        }
        position += block;
        progress(pieceAt_ + position, count_);
        if (position < pieceCount_)
            letEventsRun();
    }
}

// Nothing more may come: a byte more than asked for (noise on the line) means some byte taken
// was not the flash's, and the other way round.
bool BpiStateObj::extraBytes() {
    if (!s_.waitForBytes(1, Session::QuietPollLimit, ExtraByteWaitMs))
        return false;
    failWith("The BPI server sent more bytes than were asked for; the data is not to be trusted.");
    return true;
}

void BpiStateObj::failWith(const QString& text) {
    s_.fail(text);
    s_.appendLine(text);
}

void BpiStateObj::transferEnd(Pass pass) {
    if (extraBytes())
        return;
    const QString at = "0x" + conv::hexUpper(offset_ + mismatch_);
    if (mismatch_ >= 0 && pass == Pass::ProgramCheck) {
        failWith("BPI programming failed: the flash at " + at +
                 " does not hold what was written.\r\nA byte was probably garbled on the line: "
                 "erase the flash and program again.");
        return;
    }
    if (mismatch_ >= 0 && pass == Pass::ReadCheck) {
        failWith("BPI read failed: a second read of the flash differs from the first at " + at +
                 ".\r\nA byte was probably garbled on the line: read again.");
        s_.file.close();
        return;
    }
    if (mismatch_ >= 0) {
        failWith(QString("BPI compare failed at byte %1").arg(mismatch_));
        return;
    }
    if (pass == Pass::ReadCheck && !s_.file.commit()) {
        failWith(s_.file.commitFailure());
        return;
    }
    s_.file.close();
    s_.succeed();
    if (pass != Pass::ProgramCheck)
        s_.appendLine(pass == Pass::Verify ? "BPI validated!" : "BPI Read complete!");
}
