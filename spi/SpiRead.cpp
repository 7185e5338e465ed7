// Read and Verify chunk by chunk, and what waits for the acknowledgement that confirms it:
// data read, a verify's verdict, the line that says an operation succeeded.
#include "spi/SpiStateObj.h"

#include "engine/Conversions.h"
#include "spi/SpiText.h"

using namespace spitext;

void SpiStateObj::openDataFile() {
    bytesDone_ = 0;
    dropHeld();
    // The second pass of a Read keeps the output its first pass wrote.
    if (stage_ != Stage::Reread) {
        s_.file.close();
        if (ReadSPI) {
            s_.file.openForWriting(runPath_);
            firstRead_ = QByteArray(byteCount(), char(0xFF));
        } else if (!image_) {
            s_.file.openForReading(runPath_);
        }
    }
    advance();
    s_.ui.hscProgress.setMaximum(100);
    s_.ui.hscProgress.setValue(0);
    NextStep();
}

// Pipelined reads keep several chunks in flight; a plain read takes the next chunk.
bool SpiStateObj::readChunk() {
    if (pipeline_) {
        pipelinedRead();
        return false;
    }
    takeReadChunk();
    return true;
}

void SpiStateObj::takeReadChunk() {
    bytesDone_ = nextWanted(bytesDone_);
    const std::int32_t left = byteCount() - bytesDone_;
    chunkLength_ = std::int16_t(left > 63 - d_.ABSZ ? 63 - d_.ABSZ : left);
}

void SpiStateObj::readData() {
    QByteArray out = bytes({d_.READ});
    out.append(addressBytes());
    out.append(QByteArray(chunkLength_, char(d_.DUMB & 0xFF)));
    transaction(out);
    dropEchoes(d_.ABSZ + 1);
    chunk_.clear();
    for (int i = 0; i < chunkLength_; ++i) {
        const std::int16_t b = ReadEcho();
        if (b < 0)
            break;
        chunk_.append(char(b));
    }
    if (chunk_.size() < chunkLength_) {
        // Reading changes nothing: once the controller reads commands the chunk is read again.
        if (echoShort() || pendingTransfer_ == 0) {
            if (++lineRetries_ <= MaxLineRetries) {
                state_ = CFG_SPI_READ_SETUP;
                NextStep();
                return;
            }
        }
        lineFailure({});
        return;
    }
    lineRetries_ = 0;
    heldAt_ = bytesDone_;
    heldChunk_ = chunk_;
    heldMismatch_ = VerifySPI ? firstDifference(chunk_, bytesDone_) : -1;
    bytesDone_ += chunkLength_;
    afterChunk();
}

// After the chunk held for its confirmation: the next chunk, the next stage or the end.
void SpiStateObj::afterChunk() {
    if (heldMismatch_ >= 0) {
        state_ = CFG_SPI_READ_SETUP;
        return;
    }
    showProgress(conv::percent(bytesDone_, byteCount()));
    if (nextWanted(bytesDone_) < byteCount()) {
        state_ = CFG_SPI_READ_SETUP;
        return;
    }
    if (stage_ == Stage::Guard || stage_ == Stage::Keep || stage_ == Stage::Recheck ||
        ((ReadSPI || VerifySPI) && stage_ == Stage::Whole)) {
        state_ = CFG_SPI_STAGE_NEXT;
        return;
    }
    heldSuccess_ = Flash ? QString("SPI flash programmed and validated: %1 to %2 ")
                               .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1))
                   : stage_ == Stage::Check
                       ? QString("SPI programming successful: %1 to %2 ")
                             .arg(hexAddress(offset()), hexAddress(offset() + byteCount() - 1))
                   : ReadSPI ? "SPI data read successfully "
                             : "SPI data validated ";
    state_ = CFG_SPI_PROG_HIGH;
}

void SpiStateObj::dropHeld() {
    heldChunk_.clear();
    heldAt_ = -1;
    heldMismatch_ = -1;
    heldSuccess_.clear();
}

// Data read, a verify's verdict and the line that says an operation succeeded wait for the
// acknowledgement that closes their transaction: the tick has seen it when the step after runs
// with no miss counted. A chunk whose transaction was not confirmed is read again.
void SpiStateObj::commitHeld() {
    if (heldAt_ < 0 && heldSuccess_.isEmpty())
        return;
    if (s_.TimeoutCnt != 0) {
        if (heldAt_ >= 0) {
            bytesDone_ = heldAt_;
            dropHeld();
            state_ = CFG_SPI_READ_SETUP;
            return;
        }
        s_.fail("The controller did not confirm the last transfer.");
        dropHeld();
        return;
    }
    if (heldMismatch_ >= 0) {
        const std::int32_t at = heldAt_ + std::int32_t(heldMismatch_);
        const auto [text, title] = mismatchReport(at);
        s_.fail(text);
        s_.prompter.tell(text, title, Prompter::Icon::Critical);
        MyError = true;
        s_.file.close();
        dropHeld();
        state_ = CFG_SPI_PROG_HIGH;
        return;
    }
    storeHeld();
    if (!heldSuccess_.isEmpty() && ReadSPI && !s_.file.commit()) {
        s_.fail(s_.file.commitFailure());
        s_.appendLine(s_.file.commitFailure());
        dropHeld();
        return;
    }
    if (!heldSuccess_.isEmpty()) {
        flashConfirmed_ = Flash;
        s_.appendLine(heldSuccess_);
        s_.ui.txtRecvView.moveCaretToEnd();
        s_.succeed();
    }
    dropHeld();
}

// A Program's and a Read's checks name the line: what they compare came over it twice. The
// text, then the message box's title.
std::pair<QString, QString> SpiStateObj::mismatchReport(std::int32_t at) {
    const QString flash = hex2(quint8(heldChunk_[heldMismatch_]));
    const QString file = hex2(quint8(fileBytes(at, 1)[0]));
    const QString where = hexAddress(std::int64_t(offset()) + at);
    if (stage_ == Stage::Reread && ReadSPI)
        return {QString("SPI read failed: a second read of the flash differs from the first.\r\n"
                        "First difference at %1: first read %2, second %3\r\nA byte was "
                        "probably garbled on the line: read again.")
                    .arg(where, file, flash),
                "SPI Read Error"};
    const QString difference =
        QString("\r\nFirst difference at %1: flash %2, file %3").arg(where, flash, file);
    if (stage_ == Stage::Check && !Flash)
        return {"SPI programming failed: the flash does not hold what was written." + difference +
                    "\r\nA byte was probably garbled on the line: erase the range and program "
                    "again.",
                "SPI Program Error"};
    return {QString("SPI verification failed after byte %1 - Aborting").arg(heldAt_) + difference,
            "ERROR"};
}

// The held chunk goes where the operation keeps what it reads.
void SpiStateObj::storeHeld() {
    if (heldAt_ < 0)
        return;
    if (ReadSPI && stage_ == Stage::Whole) {
        s_.file.writeAt(heldAt_, heldChunk_);
        firstRead_.replace(heldAt_, heldChunk_.size(), heldChunk_);
    }
    if (stage_ == Stage::Guard || stage_ == Stage::Recheck)
        keepGuardBytes();
    if (stage_ == Stage::Keep)
        for (qsizetype i = 0; i < heldChunk_.size(); ++i)
            image_->fill(heldAt_ + i, heldChunk_[i]);
}
