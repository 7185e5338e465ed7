#include "spi/SpiStateObj.h"

#include "engine/RequestCheck.h"
#include "engine/RuntimeError.h"
#include "link/ControllerProtocol.h"
#include "link/Conversions.h"
#include "spi/SpiDeviceFile.h"
#include "spi/SpiText.h"

#include <QScopeGuard>
#include <utility>

using namespace spitext;

void SpiStateObj::SetState(std::int16_t value) {
    if (value < CFG_SPI_IDLE || value > CFG_SPI_STAGE_NEXT) {
        s_.prompter.tell("Cannot set SPI program state to Invalid", AppTitle, Prompter::Icon::None);
        return;
    }
    state_ = value;
    if (value == CFG_SPI_IDLE) {
        if (Flash && eraseSent_ && !flashConfirmed_)
            saveErasedSectors();
        resetRun();
        s_.file.close();
        s_.port.setReceiveThreshold(1);
    }
}

void SpiStateObj::resetRun() {
    flashConfirmed_ = false;
    EchoID = BulkErase = Program = ReadSPI = VerifySPI = false;
    Detect = SectorErase = Flash = false;
    stage_ = Stage::Whole;
    image_.reset();
    offer_.clear();
    bytesDone_ = 0;
    eraseSent_ = false;
    guardBefore_ = guardAfter_ = 0;
    guardSeen_.clear();
    guardNow_.clear();
    pendingTransfer_ = 0;
    dropHeld();
    dataFileOpen_ = false;
}

// A missing acknowledgement after a chunk or a page costs that chunk or page, not the whole
// run: a read chunk that awaits its confirmation is read again, and after a page its status
// is polled again before the next one.
std::int16_t SpiStateObj::GetPreviousState() const {
    if ((state_ == CFG_SPI_READ_SETUP || state_ == CFG_SPI_PROG_HIGH ||
         state_ == CFG_SPI_STAGE_NEXT) &&
        heldAt_ >= 0)
        return CFG_SPI_READ_SETUP;
    if (state_ == CFG_SPI_WRITE_ENABLE_SETUP && Program && bytesDone_ > 0)
        return CFG_SPI_PROGRAM_POLL_SETUP;
    // The identification read for ID Check, Read and Verify is read again (the state before
    // would be another operation's).
    if (state_ == CFG_SPI_OPEN_DATA_FILE ||
        (state_ == CFG_SPI_PROG_HIGH && (EchoID || Detect) && !heldSuccess_.isEmpty()) ||
        (state_ == CFG_SPI_STAGE_NEXT && stage_ == Stage::Keep))
        return CFG_SPI_CS_LOW;
    switch (state_) {
    // A sector erase that may not have been heard is sent again, write enable first: erasing
    // an erased sector again does no harm. A status read that was not confirmed is read again.
    case CFG_SPI_SECTOR_ERASE_SETUP:
    case CFG_SPI_SECTOR_ERASE:
    case CFG_SPI_SECTOR_POLL_SETUP:
        return CFG_SPI_WRITE_ENABLE_SETUP;
    case CFG_SPI_SECTOR_POLL:
    case CFG_SPI_SECTOR_NEXT:
        return CFG_SPI_SECTOR_POLL_SETUP;
    case CFG_SPI_STAGE_NEXT:
        return CFG_SPI_PROGRAM_WRITE_DISABLE_SETUP;
    case 6:
    case 8:
    case 10:
    case 12:
    case 14:
    case 16:
    case 18:
    case 20:
        return std::int16_t(state_ - 2);
    case CFG_SPI_PAGE_SETUP:
        return CFG_SPI_WRITE_ENABLE_SETUP;
    case CFG_SPI_PROGRAM_POLL_SETUP:
        return CFG_SPI_PAGE_SETUP;
    case CFG_SPI_PROGRAM_POLL:
        return CFG_SPI_PAGE_PROGRAM;
    case CFG_SPI_PROGRAM_WRITE_DISABLE_SETUP:
        return CFG_SPI_PROGRAM_POLL_SETUP;
    case CFG_SPI_PROG_HIGH:
        return CFG_SPI_PROG_HIGH;
    default:
        return std::int16_t(state_ - 1);
    }
}

bool SpiStateObj::LoadSpiDeviceFile() {
    s_.file.close();
    const QString path = s_.dataFolders.pathFor(device_ + ".sfh");
    try {
        loadSpiDeviceFile(path, d_);
        // Keys a file leaves out keep their values, yet a file that names no device on its own
        // (empty, binary, cut short) would let the operation run on another device's values.
        SpiDescription own;
        loadSpiDeviceFile(path, own);
        if (own.NIDB < 1 || own.MBPP <= 0 || own.BPRD <= 0)
            throw RuntimeError(RuntimeError::InputPastEnd,
                               "Input past end of file: no identification, page size or size");
    } catch (const RuntimeError& e) {
        s_.fail(spiDeviceFailureMessage(e));
        s_.prompter.tell(spiDeviceFailureMessage(e), "Application Error", Prompter::Icon::Critical);
        return false;
    }
    return true;
}

void SpiStateObj::NextStep() {
    // Steps that run straight on into the next (the status polls) share what became of echoes.
    if (nesting_ == 0) {
        echoesLost_ = 0;
        // An acknowledged command shows the line alive; a retry keeps the silence it met.
        if (s_.TimeoutCnt == 0)
            silentUs_ = 0;
    }
    ++nesting_;
    const auto leave = qScopeGuard([this] { --nesting_; });
    const std::int16_t failedIn = state_;
    try {
        step();
    } catch (const RuntimeError& e) {
        s_.reportError(e);
        // The closing states release the controller; a failure there must not loop.
        if (failedIn >= CFG_SPI_PROG_HIGH && failedIn <= CFG_SPI_FINISH) {
            SetState(CFG_SPI_IDLE);
            return;
        }
        state_ = CFG_SPI_PROG_HIGH;
        NextStep();
    }
}

std::int16_t SpiStateObj::ReadEcho() {
    // A few missing echoes are waited for, as a line that dropped a byte comes back in step;
    // past that the link is gone, and waiting for each byte of a page, or for each of hundreds
    // of status polls, would hold the window for minutes before the retry gives up.
    if (echoesLost_ >= MaxEchoesLostPerStep)
        return -1;
    echoCountdown_ = pollLimit_;
    const std::int32_t limit = echoCountdown_;
    const std::int64_t start = s_.clock.nowUs();
    const std::int64_t room = silenceRoomUs();
    while (echoCountdown_ >= 1 && s_.port.bytesWaiting() == 0) {
        // A line silent for the whole budget is not waited on again byte after byte.
        if (s_.clock.nowUs() - start >= room) {
            echoCountdown_ = 0;
            break;
        }
        --echoCountdown_;
        s_.port.waitForData(1);
    }
    const std::int32_t used = limit - echoCountdown_;
    if (conv::toInt32(s_.ui.txtMaxPsoc.text()) < used)
        s_.ui.txtMaxPsoc.setText(QString::number(used));
    if (echoCountdown_ > 0) {
        const QByteArray one = s_.port.read();
        if (!one.isEmpty()) {
            silentUs_ = 0;
            if (pendingTransfer_ > 0)
                --pendingTransfer_;
            return static_cast<unsigned char>(one[0]);
        }
    }
    silentUs_ += s_.clock.nowUs() - start;
    noteEchoLost();
    return -1;
}

void SpiStateObj::dropEchoes(int count) {
    for (int i = 0; i < count; ++i)
        ReadEcho();
}

// The acknowledgements the page loop reads as returned bytes: a lost one is waited for up to
// the reply deadline as a whole, not for a poll limit per byte, so that it costs a moment.
void SpiStateObj::dropAcknowledgements(int count) {
    const std::int64_t start = s_.clock.nowUs();
    const int budgetMs = int(qMin<std::int64_t>(protocol::ReplyDeadlineMs, silenceRoomUs() / 1000));
    if (s_.waitForBytes(count, Session::QuietPollLimit, budgetMs))
        silentUs_ = 0;
    else
        silentUs_ += s_.clock.nowUs() - start;
    for (int i = 0; i < count; ++i) {
        if (s_.port.bytesWaiting() > 0) {
            s_.port.read();
            continue;
        }
        noteEchoLost();
    }
}

void SpiStateObj::noteEchoLost() {
    ++echoesLost_;
    s_.appendLine(QString("Timed out: no PSoC echo in state %1").arg(state_));
    s_.ui.txtRecvView.moveCaretToEnd();
}

std::int64_t SpiStateObj::silenceRoomUs() const {
    return qMax<std::int64_t>(0, std::int64_t(SilenceBudgetMs) * 1000 - silentUs_);
}

void SpiStateObj::discardInput() {
    while (s_.port.bytesWaiting() >= 1)
        s_.port.read();
}

void SpiStateObj::command(const QString& text, std::int16_t next) {
    s_.port.write(protocol::frame(text));
    static const QString announce = QStringLiteral("sf_transfer ");
    pendingTransfer_ = text.startsWith(announce) ? text.mid(announce.size()).toInt() : 0;
    replyLength_ = 4;
    state_ = next;
}

// A transaction ends with two acknowledgements after its returned bytes.
void SpiStateObj::transaction(const QByteArray& out) {
    s_.port.write(out);
    // Until their echoes come back, the controller may still be waiting for some of them.
    pendingTransfer_ = std::int32_t(out.size());
    replyLength_ = 8;
}

// Sends RDSR and a dummy byte; the second returned byte is the status.
int SpiStateObj::readStatus() {
    transaction(bytes({d_.RDSR, d_.DUMB}));
    ReadEcho();
    const int status = ReadEcho();
    if (echoShort())
        return -1;
    return status;
}

// An echo missing while the controller may still be inside the transfer: it is brought back to
// reading commands before anything else is sent.
bool SpiStateObj::echoShort() {
    if (pendingTransfer_ <= 0)
        return false;
    // A line silent past its budget is not brought back poll after poll: the tick gives it up.
    if (silenceRoomUs() > 0 && s_.resynchronise)
        s_.resynchronise();
    return true;
}

void SpiStateObj::lineFailure(const QString& more) {
    const QString text =
        "The controller did not echo the whole transfer: a byte was probably lost on the line." +
        more;
    s_.fail(text);
    s_.prompter.tell(text, "ERROR", Prompter::Icon::Critical);
    state_ = CFG_SPI_PROG_HIGH;
    NextStep();
}

std::int32_t SpiStateObj::offset() const {
    return std::int32_t(offset_);
}
std::int32_t SpiStateObj::byteCount() const {
    return std::int32_t(count_);
}

void SpiStateObj::begin(const OperationRequest& r) {
    using Kind = OperationRequest::Kind;
    resetRun();
    EchoID = r.kind == Kind::SpiIdCheck;
    Detect = r.kind == Kind::SpiDetect;
    BulkErase = r.kind == Kind::SpiBulkErase;
    SectorErase = r.kind == Kind::SpiSectorErase;
    Program = r.kind == Kind::SpiProgram;
    Flash = r.kind == Kind::SpiFlash;
    ReadSPI = r.kind == Kind::SpiRead;
    VerifySPI = r.kind == Kind::SpiVerify;
    MyError = false;
    device_ = r.device;
    runPath_ = r.path;
    // ID Check and Bulk Erase use no range: a range they do not use cannot fail them.
    offset_ = r.usesRange() ? r.offset : 0;
    count_ = r.usesRange() ? r.count : 0;
    pollLimit_ = r.timing.pollLimit;
    pipeline_ = r.timing.pipeline;
    d_ = {};
    idRead_.clear();
    detected_.clear();
    catalog_.clear();
    chunk_.clear();
    chunkLength_ = 0;
    pollsLeft_ = 0;
    echoesLost_ = 0;
    lineRetries_ = 0;
    silentUs_ = 0;
    sectorAt_ = eraseFrom_ = eraseTo_ = 0;
    state_ = CFG_SPI_LOAD_CONFIG_ON;
}

QByteArray SpiStateObj::addressBytes() const {
    return addressOf(std::int64_t(offset()) + bytesDone_);
}

QByteArray SpiStateObj::addressOf(std::int64_t address) const {
    return conv::hexToBytes(conv::hexUpper(address), d_.ABSZ);
}

int SpiStateObj::largestChunk() const {
    return d_.MBPP <= 63 - d_.ABSZ ? int(d_.MBPP) : 63 - d_.ABSZ;
}

// Past the end of the data file the flash is programmed with, and compared against, the
// erased value.
QByteArray SpiStateObj::fileBytes(std::int32_t position, int count) {
    return image_ ? image_->bytes(position, count) : s_.file.readAtOrErased(position, count);
}

void SpiStateObj::showProgress(int percent) {
    s_.ui.lblProgress.setText(title_ + " " + QString::number(percent) + "% done");
    if (int(s_.ui.hscProgress.value()) != percent)
        s_.ui.hscProgress.setValue(percent);
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
        const QString text =
            QString("SPI verification failed after byte %1 - Aborting").arg(heldAt_) +
            QString("\r\nFirst difference at %1: flash %2, file %3")
                .arg(hexAddress(std::int64_t(offset()) + at))
                .arg(hex2(quint8(heldChunk_[heldMismatch_])))
                .arg(hex2(quint8(fileBytes(at, 1)[0])));
        s_.fail(text);
        s_.prompter.tell(text, "ERROR", Prompter::Icon::Critical);
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

// The held chunk goes where the operation keeps what it reads.
void SpiStateObj::storeHeld() {
    if (heldAt_ < 0)
        return;
    if (ReadSPI)
        s_.file.writeAt(heldAt_, heldChunk_);
    if (stage_ == Stage::Guard || stage_ == Stage::Recheck)
        keepGuardBytes();
    if (stage_ == Stage::Keep)
        for (qsizetype i = 0; i < heldChunk_.size(); ++i)
            image_->fill(heldAt_ + i, heldChunk_[i]);
}

void SpiStateObj::step() {
    if (state_ == CFG_SPI_READ_SETUP || state_ == CFG_SPI_ERASE_WRITE_DISABLE_SETUP ||
        state_ == CFG_SPI_PROG_HIGH || state_ == CFG_SPI_STAGE_NEXT)
        commitHeld();
    switch (state_) {
    case CFG_SPI_LOAD_CONFIG_ON:
        prepare();
        break;
    case CFG_SPI_PROG_LOW:
        command("drive_prog 0", CFG_SPI_MODE_OFF);
        break;
    case CFG_SPI_MODE_OFF:
        command("spi_mode 0", CFG_SPI_CS_LOW);
        break;
    case CFG_SPI_CS_LOW:
        command(QString("sf_transfer %1").arg(d_.NIDB + 1), CFG_SPI_READ_ID);
        break;
    case CFG_SPI_READ_ID:
        identify();
        break;
    case UNPROTECT:
        command("sf_transfer 1", CFG_SPI_ENABLE_STATUS_WRITE);
        break;
    case CFG_SPI_ENABLE_STATUS_WRITE:
        pollsLeft_ = d_.MPPI;
        transaction(bytes({d_.WESR}));
        ReadEcho();
        state_ = CFG_SPI_WRITE_STATUS_SETUP;
        break;
    case CFG_SPI_WRITE_STATUS_SETUP:
        command("sf_transfer 2", CFG_SPI_WRITE_STATUS);
        break;
    case CFG_SPI_WRITE_STATUS:
        pollsLeft_ = d_.MPPI;
        transaction(bytes({d_.WRSR, d_.UABL}));
        dropEchoes(2);
        state_ = CFG_SPI_UNPROTECT_POLL_SETUP;
        break;
    case CFG_SPI_UNPROTECT_POLL_SETUP:
        command("sf_transfer 2", CFG_SPI_UNPROTECT_POLL);
        break;
    case CFG_SPI_UNPROTECT_POLL:
        unprotectPoll();
        break;
    case CFG_SPI_DISABLE_STATUS_WRITE_SETUP:
        command("sf_transfer 1", CFG_SPI_DISABLE_STATUS_WRITE);
        break;
    case CFG_SPI_DISABLE_STATUS_WRITE:
        if (Program) {
            bytesDone_ = nextWanted(0);
            s_.ui.hscProgress.setMaximum(100);
            s_.ui.hscProgress.setValue(0);
        }
        transaction(bytes({d_.WDSR}));
        ReadEcho();
        state_ = CFG_SPI_WRITE_ENABLE_SETUP;
        break;
    case CFG_SPI_WRITE_ENABLE_SETUP:
        if (pipelinesPage()) {
            pipelinedPage();
            break;
        }
        discardInput();
        command("sf_transfer 1", CFG_SPI_WRITE_ENABLE_1);
        NextStep();
        break;
    case CFG_SPI_WRITE_ENABLE_1:
        writeEnable();
        break;
    case CFG_SPI_BULK_ERASE_SETUP:
        command("sf_transfer 1", CFG_SPI_BULK_ERASE);
        break;
    case CFG_SPI_BULK_ERASE:
        pollsLeft_ = d_.MEPI;
        s_.ui.hscProgress.setMaximum(d_.MEPI);
        s_.ui.hscProgress.setValue(0);
        transaction(bytes({d_.BLKE}));
        ReadEcho();
        state_ = CFG_SPI_ERASE_POLL_SETUP;
        break;
    case CFG_SPI_ERASE_POLL_SETUP:
        command("sf_transfer 2", CFG_SPI_ERASE_POLL);
        break;
    case CFG_SPI_ERASE_POLL:
        erasePoll();
        break;
    case CFG_SPI_ERASE_WRITE_DISABLE_SETUP:
        command("sf_transfer 1", CFG_SPI_ERASE_WRITE_DISABLE);
        break;
    case CFG_SPI_ERASE_WRITE_DISABLE:
        transaction(bytes({d_.WRDI}));
        ReadEcho();
        state_ = CFG_SPI_PROG_HIGH;
        break;
    case CFG_SPI_PAGE_SETUP:
        pageSetup();
        break;
    case CFG_SPI_PAGE_PROGRAM:
        pageProgram();
        break;
    case CFG_SPI_PROGRAM_POLL_SETUP:
        programPollSetup();
        break;
    case CFG_SPI_PROGRAM_POLL:
        programPoll();
        break;
    case CFG_SPI_PROGRAM_WRITE_DISABLE_SETUP:
        command("sf_transfer 1", CFG_SPI_PROGRAM_WRITE_DISABLE);
        break;
    case CFG_SPI_PROGRAM_WRITE_DISABLE:
        // A flash is not done before its verify.
        if (!Flash)
            heldSuccess_ = QString("SPI programming successful: %1 to %2 ")
                               .arg(hexAddress(offset()), hexAddress(offset() + byteCount() - 1));
        transaction(bytes({d_.WRDI}));
        ReadEcho();
        state_ = Flash ? CFG_SPI_STAGE_NEXT : CFG_SPI_PROG_HIGH;
        break;
    case CFG_SPI_OPEN_DATA_FILE:
        openDataFile();
        break;
    case CFG_SPI_READ_SETUP:
        if (pipeline_)
            pipelinedRead();
        else
            readSetup();
        break;
    case CFG_SPI_READ_DATA:
        readData();
        break;
    case CFG_SPI_PROG_HIGH:
        s_.ui.hscProgress.setVisible(false);
        s_.ui.lblProgress.setVisible(false);
        command("drive_prog 1", CFG_SPI_LOAD_CONFIG_OFF);
        break;
    case CFG_SPI_LOAD_CONFIG_OFF:
        command("load_config 0", CFG_SPI_FINISH);
        break;
    case CFG_SPI_FINISH:
        offerDevice();
        SetState(CFG_SPI_IDLE);
        break;
    case CFG_SPI_SECTOR_ERASE_SETUP:
        command(QString("sf_transfer %1").arg(1 + d_.ABSZ), CFG_SPI_SECTOR_ERASE);
        break;
    case CFG_SPI_SECTOR_ERASE:
        sectorErase();
        break;
    case CFG_SPI_SECTOR_POLL_SETUP:
        command("sf_transfer 2", CFG_SPI_SECTOR_POLL);
        break;
    case CFG_SPI_SECTOR_POLL:
        sectorPoll();
        break;
    case CFG_SPI_SECTOR_NEXT:
        sectorNext();
        break;
    case CFG_SPI_STAGE_NEXT:
        startStage();
        break;
    default:
        s_.prompter.tell("Invalid SPI program state", "Info", Prompter::Icon::None);
        SetState(CFG_SPI_IDLE);
        break;
    }
}

void SpiStateObj::prepare() {
    MyError = false;
    title_ = s_.ui.lblProgress.text();
    if (Detect) {
        prepareDetect();
        return;
    }
    // A description that cannot be read whole is reported and the operation goes on with
    // what was read, as it always has; its verdict can no longer be a success. Values the
    // sequence cannot work with end it here, before anything is sent.
    const bool loaded = LoadSpiDeviceFile();
    if (const QString why = spiDescriptionOutOfRange(d_); !why.isEmpty()) {
        const QString text = why + "\r\nPlease verify the file " + device_ + ".sfh.";
        s_.refuse(text);
        if (loaded)
            s_.prompter.tell(text, "Application Error", Prompter::Icon::Critical);
        SetState(CFG_SPI_IDLE);
        return;
    }
    if (!rangeFits()) {
        SetState(CFG_SPI_IDLE);
        return;
    }
    if (!loadImage() || !prepareRange()) {
        SetState(CFG_SPI_IDLE);
        return;
    }
    if (s_.port.bytesWaiting() >= 1) {
        s_.port.setReadLength(0);
        s_.port.read();
        s_.port.setReadLength(1);
    }
    command("load_config 1", CFG_SPI_PROG_LOW);
}

// The range must lie inside the chip, whose every address the address field reaches (the
// description was checked for that): nothing may wrap to another address.
bool SpiStateObj::rangeFits() {
    const bool writes = Program || Flash;
    if (!(writes || ReadSPI || VerifySPI || SectorErase))
        return true;
    // No byte count reads the chip from the offset to its end.
    if (ReadSPI && count_ == 0 && offset_ >= 0 && offset_ < d_.BPRD)
        count_ = d_.BPRD - offset_;
    OperationRequest asked;
    asked.offset = offset_;
    asked.count = count_;
    const QString why = requestcheck::range(asked, d_.BPRD, device_);
    if (why.isEmpty())
        return true;
    const QString offsetText = conv::hexUpper(offset_);
    const QString first = SectorErase ? QString()
                          : writes
                              ? "File is too large to program from offset 0x" + offsetText
                              : "Length is too large to read/verify from offset 0x" + offsetText;
    const QString text = first.isEmpty() ? why : first + "\r\n" + why;
    s_.refuse(text);
    s_.prompter.tell(text,
                     SectorErase ? "SPI Erase Error"
                     : writes    ? "SPI Program Error"
                                 : "SPI Read Error",
                     Prompter::Icon::Critical);
    return false;
}

void SpiStateObj::unprotectPoll() {
    const int status = readStatus();
    if ((status & d_.PSTM) == d_.PSST) {
        // A part held locked (lock bit set with WP# low) ignores the status write, and then
        // every erase and program: stop before claiming any of them.
        if (status >= 0 && (status & d_.PRTM) != 0) {
            const QString text =
                QString("The SPI flash is write-protected: its status register still reads %1 "
                        "after the unprotect (protection bits %2).\r\nThe lock bit (SRWD) is "
                        "held by the WP# pin: release WP# (the board's write-protect jumper or "
                        "switch), then try again.")
                    .arg(hex2(status))
                    .arg(hex2(status & d_.PRTM));
            s_.fail(text);
            s_.prompter.tell(text, "ERROR", Prompter::Icon::Critical);
            state_ = CFG_SPI_PROG_HIGH;
            return;
        }
        state_ = CFG_SPI_DISABLE_STATUS_WRITE_SETUP;
        return;
    }
    --pollsLeft_;
    if (pollsLeft_ > 0) {
        s_.clock.sleepMs(100);
        state_ = CFG_SPI_UNPROTECT_POLL_SETUP;
        return;
    }
    s_.fail("SPI Unprotect failed! ");
    s_.appendLine("SPI Unprotect failed! ");
    state_ = CFG_SPI_PROG_HIGH;
}

void SpiStateObj::writeEnable() {
    dropAcknowledgements(4);
    discardInput();
    transaction(bytes({d_.WREN}));
    ReadEcho();
    if (SectorErase || stage_ == Stage::Erase) {
        state_ = CFG_SPI_SECTOR_ERASE_SETUP;
    } else if (BulkErase) {
        state_ = CFG_SPI_BULK_ERASE_SETUP;
    } else if (Program) {
        state_ = CFG_SPI_PAGE_SETUP;
        NextStep();
    } else {
        s_.fail("Invalid CFG_SPI_WRITE_ENABLE_1 Mode");
        s_.prompter.tell("Invalid CFG_SPI_WRITE_ENABLE_1 Mode", "ERROR",
                         Prompter::Icon::Exclamation);
        state_ = CFG_SPI_PROG_HIGH;
    }
}

void SpiStateObj::erasePoll() {
    const int status = readStatus();
    if ((status & d_.ESTM) == d_.ESST) {
        // Claimed once the transaction that carried the status has been acknowledged.
        heldSuccess_ = "Bulk Erase confirmed ";
        state_ = CFG_SPI_ERASE_WRITE_DISABLE_SETUP;
        return;
    }
    --pollsLeft_;
    s_.ui.hscProgress.setValue(d_.MEPI - pollsLeft_);
    s_.ui.lblProgress.setText(title_ + " " + QString::number(int(s_.ui.hscProgress.value())) +
                              "% done");
    if (pollsLeft_ > 0) {
        s_.clock.sleepMs(1000);
        state_ = CFG_SPI_ERASE_POLL_SETUP;
        return;
    }
    s_.fail("Bulk Erase failed ");
    s_.appendLine("Bulk Erase failed ");
    state_ = CFG_SPI_PROG_HIGH;
}

void SpiStateObj::pageSetup() {
    dropAcknowledgements(8);
    discardInput();
    if (d_.MBPP <= 0)
        throw RuntimeError(11, "Division by zero");
    // Opened before the transaction is announced: a file that cannot be read must fail while
    // the controller still waits for commands, not for transaction bytes.
    openDataFileForProgram();
    chunkLength_ = std::int16_t(pageChunk());
    command(QString("sf_transfer %1").arg(d_.ABSZ + 1 + chunkLength_), CFG_SPI_PAGE_PROGRAM);
    NextStep();
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
    state_ = CFG_SPI_PROGRAM_POLL_SETUP;
    NextStep();
}

void SpiStateObj::programPollSetup() {
    dropAcknowledgements(8);
    discardInput();
    command("sf_transfer 2", CFG_SPI_PROGRAM_POLL);
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
            if (conv::toInt32(s_.ui.txtMaxSpiPoll.text()) < d_.MPPI - pollsLeft_)
                s_.ui.txtMaxSpiPoll.setText(QString::number(d_.MPPI - pollsLeft_));
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

void SpiStateObj::openDataFile() {
    bytesDone_ = 0;
    dropHeld();
    s_.file.close();
    if (ReadSPI)
        s_.file.openForWriting(runPath_);
    else if (!image_)
        s_.file.openForReading(runPath_);
    state_ = CFG_SPI_READ_SETUP;
    s_.ui.hscProgress.setMaximum(100);
    s_.ui.hscProgress.setValue(0);
    NextStep();
}

void SpiStateObj::readSetup() {
    bytesDone_ = nextWanted(bytesDone_);
    const std::int32_t left = byteCount() - bytesDone_;
    chunkLength_ = std::int16_t(left > 63 - d_.ABSZ ? 63 - d_.ABSZ : left);
    command(QString("sf_transfer %1").arg(chunkLength_ + 1 + d_.ABSZ), CFG_SPI_READ_DATA);
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
    if (stage_ == Stage::Guard || stage_ == Stage::Keep || stage_ == Stage::Recheck) {
        state_ = CFG_SPI_STAGE_NEXT;
        return;
    }
    heldSuccess_ = Flash ? QString("SPI flash programmed and validated: %1 to %2 ")
                               .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1))
                   : ReadSPI ? "SPI data read successfully "
                             : "SPI data validated ";
    state_ = CFG_SPI_PROG_HIGH;
}
