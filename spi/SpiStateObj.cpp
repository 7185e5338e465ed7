// The SPI sequence's run: set up from its request, its checks before anything is sent, its
// end, and the failures its steps report.
#include "spi/SpiStateObj.h"

#include "engine/Conversions.h"
#include "engine/RequestCheck.h"
#include "engine/RuntimeError.h"
#include "spi/SpiDeviceFile.h"

#include <QScopeGuard>
#include <utility>

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
    prepared_ = false;
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
    firstRead_.clear();
    pendingTransfer_ = 0;
    dropHeld();
    dataFileOpen_ = false;
}

void SpiStateObj::begin(const OperationRequest& r, const QString& progressTitle) {
    using Kind = OperationRequest::Kind;
    resetRun();
    title_ = progressTitle;
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

std::int32_t SpiStateObj::offset() const {
    return std::int32_t(offset_);
}

std::int32_t SpiStateObj::byteCount() const {
    return std::int32_t(count_);
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
    s_.ui.hscProgress.setValue(percent);
}

// False when the operation ends here, before anything is sent; the table then sends
// "load_config 1".
bool SpiStateObj::prepare() {
    // A lost acknowledgement early on sends the first command again: what was worked out for
    // the run stands (a flash has already moved its range to the erase span, and would place
    // its image again from there).
    if (prepared_)
        return true;
    MyError = false;
    if (Detect)
        return prepareDetect();
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
        return false;
    }
    if (!rangeFits() || !loadImage() || !prepareRange()) {
        SetState(CFG_SPI_IDLE);
        return false;
    }
    if (s_.port.bytesWaiting() >= 1) {
        s_.port.setReadLength(0);
        s_.port.read();
        s_.port.setReadLength(1);
    }
    prepared_ = true;
    return true;
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

bool SpiStateObj::hideProgress() {
    s_.ui.hscProgress.setVisible(false);
    s_.ui.lblProgress.setVisible(false);
    return true;
}

// At the end of a Detect its device is selected; an ID Check that found another known
// device asks first.
void SpiStateObj::finish() {
    const QString name = std::exchange(offer_, QString());
    if (!name.isEmpty() && offerDevice)
        offerDevice(name, !Detect);
    SetState(CFG_SPI_IDLE);
}
