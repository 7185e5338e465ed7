// Programming page by page: each page's write enable, its transfer and its status polls.
#include "spi/SpiStateObj.h"

#include "engine/Conversions.h"
#include "engine/RuntimeError.h"
#include "spi/SpiText.h"

using namespace spitext;

// A pipelined page sends its own write enable; a plain one clears the line first.
bool SpiStateObj::pipelinedOrClear() {
    if (pipelinesPage()) {
        pipelinedPage();
        return false;
    }
    discardInput();
    return true;
}

// The page's length, before its transfer is announced.
bool SpiStateObj::preparePage() {
    takeTransactionEnd();
    if (d_.MBPP <= 0)
        throw RuntimeError(11, "Division by zero");
    // Opened before the transaction is announced: a file that cannot be read must fail while
    // the controller still waits for commands, not for transaction bytes.
    openDataFileForProgram();
    chunkLength_ = std::int16_t(pageChunk());
    return true;
}

void SpiStateObj::openDataFileForProgram() {
    if (dataFileOpen_ || image_)
        return;
    s_.file.close();
    s_.file.openForReading(runPath_);
    dataFileOpen_ = true;
}

void SpiStateObj::pageProgram() {
    dropAcknowledgements(4);
    discardInput();
    openDataFileForProgram();
    if (s_.TimeoutCnt == 0)
        chunk_ = fileBytes(bytesDone_, chunkLength_);
    QByteArray out = bytes({d_.PGPM});
    out.append(addressBytes());
    out.append(chunk_);
    transaction(out);
    bytesDone_ += chunkLength_;
    for (int i = 0; i < d_.ABSZ + 1 + chunkLength_; ++i) {
        if (ReadEcho() == -1) {
            // The page may have been programmed with its bytes shifted: only an erase mends it.
            echoShort();
            lineFailure(pageMayHoldWrongData(std::int64_t(offset()) + bytesDone_ - chunkLength_));
            return;
        }
    }
    pollsLeft_ = d_.MPPI;
    advance();
    NextStep();
}

void SpiStateObj::programPoll() {
    dropAcknowledgements(4);
    discardInput();
    int status = readStatus();
    if (status == 'c' || status == 'a' || status == 'k') {
        s_.appendLine("Unexpected ack detected in RDSR loop.  Attempting to resynchronize.");
        s_.clock.sleepMs(100);
        char last = 1;
        while (s_.port.bytesWaiting() >= 3 && last != 0) {
            const QByteArray one = s_.port.read();
            last = one.isEmpty() ? 0 : one[0];
        }
        ReadEcho();
        status = ReadEcho();
    }
    if ((status & d_.PSTM) != d_.PSST) {
        // Busy means wait: poll the same page again, nothing is sent twice.
        --pollsLeft_;
        if (pollsLeft_ > 0) {
            if (maxPagePolls_ < d_.MPPI - pollsLeft_) {
                maxPagePolls_ = d_.MPPI - pollsLeft_;
                s_.ui.txtMaxSpiPoll.setText(QString::number(maxPagePolls_));
            }
            state_ = CFG_SPI_PROGRAM_POLL_SETUP;
            NextStep();
            return;
        }
        s_.fail("SPI programming failed ");
        s_.appendLine("SPI programming failed ");
        state_ = CFG_SPI_PROG_HIGH;
        return;
    }
    pageDone();
}

// The page is programmed: the next one, or the end of the writing.
void SpiStateObj::pageDone() {
    bytesDone_ = nextWanted(bytesDone_);
    if (bytesDone_ < byteCount()) {
        showProgress(conv::percent(bytesDone_, byteCount()));
        state_ = CFG_SPI_WRITE_ENABLE_SETUP;
        return;
    }
    s_.file.close();
    state_ = CFG_SPI_PROGRAM_WRITE_DISABLE_SETUP;
}

// Nothing the controller returns during a page shows a byte garbled on its way there, and
// the flash programs it as it came: what was written is read back before it is a success.
void SpiStateObj::programWriteDisable() {
    sendOpcode(d_.WRDI);
    stage_ = Stage::Write;
    state_ = CFG_SPI_STAGE_NEXT;
}

int SpiStateObj::pageChunk() const {
    int length = largestChunk();
    if (byteCount() - bytesDone_ < length)
        length = byteCount() - bytesDone_;
    const std::int64_t intoPage = (std::int64_t(offset()) + bytesDone_) % d_.MBPP;
    if (intoPage != 0 && d_.MBPP - intoPage < length)
        length = int(d_.MBPP - intoPage);
    return length;
}

QString SpiStateObj::pageMayHoldWrongData(std::int64_t address) const {
    return QString("\r\nThe page at %1 may hold wrong data: erase it and program again.")
        .arg(hexAddress(address));
}
