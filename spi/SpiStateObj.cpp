#include "spi/SpiStateObj.h"

#include "link/ControllerProtocol.h"
#include "link/Conversions.h"
#include "link/RuntimeError.h"
#include "spi/SpiDeviceFile.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <utility>

namespace {
QString hex2(int value) {
    return QString("%1").arg(std::uint16_t(value), 2, 16, QChar('0')).toUpper();
}
QString hexAddress(qint64 value) {
    return "0x" + QString::number(value, 16).toUpper();
}
QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v & 0xFF));
    return out;
}
} // namespace

void SpiStateObj::SetState(std::int16_t value) {
    if (value < CFG_SPI_IDLE || value > CFG_SPI_STAGE_NEXT) {
        s_.prompter.tell("Cannot set SPI program state to Invalid", AppTitle, Prompter::Icon::None);
        return;
    }
    state_ = value;
    if (value == CFG_SPI_IDLE) {
        if (Flash && stage_ >= Stage::Erase && !flashConfirmed_)
            saveErasedSectors();
        flashConfirmed_ = false;
        EchoID = BulkErase = Program = ReadSPI = VerifySPI = false;
        Detect = SectorErase = Flash = false;
        stage_ = Stage::Whole;
        image_.reset();
        offer_.clear();
        bytesDone_ = 0;
        inputsTaken_ = false;
        pendingTransfer_ = 0;
        dropHeld();
        s_.file.close();
        dataFileOpen_ = false;
        s_.port.setReceiveThreshold(1);
    }
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

QStringList SpiStateObj::deviceFolders() const {
    return s_.dataFolders.folders();
}

bool SpiStateObj::LoadSpiDeviceFile() {
    s_.file.close();
    const QString device = inputsTaken_ ? device_ : s_.ui.cbFlash.selectedItem();
    const QString path = s_.dataFolders.pathFor(device + ".sfh");
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
    echoCountdown_ = conv::toInt32(s_.ui.txtSleep.text());
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
    pendingTransfer_ = 0;
    replyLength_ = 8;
}

// Sends RDSR and a dummy byte; the second returned byte is the status.
int SpiStateObj::readStatus() {
    transaction(bytes({d_.RDSR, d_.DUMB}));
    ReadEcho();
    return ReadEcho();
}

std::int32_t SpiStateObj::offset() const {
    return offset_;
}
std::int32_t SpiStateObj::byteCount() const {
    return count_;
}

void SpiStateObj::takeInputs() {
    if (inputsTaken_)
        return;
    device_ = s_.ui.cbFlash.selectedItem();
    runPath_ = path_;
    offset_ = count_ = 0;
    // ID Check and Bulk Erase use no range: a range they do not use cannot fail them.
    if (Program || ReadSPI || VerifySPI || Flash || SectorErase) {
        offset_ = conv::hexToInt32(s_.ui.txtOffset.text());
        count_ = conv::toInt32(s_.ui.txtPrgBytes.text());
    }
    inputsTaken_ = true;
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
// erased value: programming 0xFF leaves a NOR cell as it is.
QByteArray SpiStateObj::fileBytes(std::int32_t position, int count) {
    if (image_)
        return image_->bytes(position, count);
    QByteArray data = s_.file.readAt(position, count);
    if (data.size() < count)
        data.append(QByteArray(count - data.size(), char(0xFF)));
    return data;
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
    if (heldAt_ >= 0 && ReadSPI)
        s_.file.writeAt(heldAt_, heldChunk_);
    if (heldAt_ >= 0 && stage_ == Stage::Keep)
        for (qsizetype i = 0; i < heldChunk_.size(); ++i)
            image_->fill(heldAt_ + i, heldChunk_[i]);
    if (!heldSuccess_.isEmpty()) {
        flashConfirmed_ = Flash;
        s_.appendLine(heldSuccess_);
        s_.ui.txtRecvView.moveCaretToEnd();
        s_.succeed();
    }
    dropHeld();
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
            heldSuccess_ = "SPI programming successful ";
        transaction(bytes({d_.WRDI}));
        ReadEcho();
        state_ = Flash ? CFG_SPI_STAGE_NEXT : CFG_SPI_PROG_HIGH;
        break;
    case CFG_SPI_OPEN_DATA_FILE:
        openDataFile();
        break;
    case CFG_SPI_READ_SETUP:
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
    takeInputs();
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
    const auto room = [&] { return std::int64_t(d_.BPRD) - offset(); };
    // A negative count would run the transfer loops backwards without end.
    if ((Program || ReadSPI || VerifySPI || Flash || SectorErase) && byteCount() < 0)
        throw RuntimeError(RuntimeError::Overflow, "Overflow: the byte count is negative");
    // No byte count reads the chip from the offset to its end.
    if (ReadSPI && byteCount() == 0)
        count_ = std::max<std::int32_t>(0, d_.BPRD - offset());
    if (Program || Flash) {
        if (room() < byteCount()) {
            const QString text =
                "File is too large to program from offset 0x" + s_.ui.txtOffset.text();
            s_.refuse(text);
            s_.prompter.tell(text, "SPI Program Error", Prompter::Icon::Critical);
            SetState(CFG_SPI_IDLE);
            s_.ui.btnProgram[0].setEnabled(true);
            Program = false;
            return;
        }
    } else if (ReadSPI || VerifySPI) {
        if (room() < byteCount()) {
            const QString text =
                "Length is too large to read/verify from offset 0x" + s_.ui.txtOffset.text();
            s_.refuse(text);
            s_.prompter.tell(text, "SPI Read Error", Prompter::Icon::Critical);
            SetState(CFG_SPI_IDLE);
            s_.ui.btnRead[0].setEnabled(true);
            s_.ui.btnVerify[0].setEnabled(true);
            ReadSPI = VerifySPI = false;
            return;
        }
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

void SpiStateObj::identify() {
    dropHeld();
    QByteArray out = bytes({d_.RDID});
    out.append(QByteArray(d_.NIDB, char(d_.DUMB & 0xFF)));
    transaction(out);
    ReadEcho();
    QString read;
    idRead_.clear();
    bool complete = true;
    for (int i = 1; i <= d_.NIDB; ++i) {
        const std::int16_t b = ReadEcho();
        if (i >= d_.IDM2.size())
            throw RuntimeError(RuntimeError::SubscriptOutOfRange, "Subscript out of range");
        if (b != d_.IDM2[i])
            MyError = true;
        read += hex2(b) + " ";
        idRead_.append(char(b));
        complete = complete && b >= 0;
    }
    if (Detect) {
        MyError = false;
        detected(complete);
        return;
    }
    // The bytes read are shown once the transaction that carried them has been acknowledged.
    if (EchoID && !MyError)
        heldSuccess_ = read;
    else if (EchoID) {
        s_.appendLine(read);
        s_.ui.txtRecvView.moveCaretToEnd();
    }
    if (!MyError) {
        state_ = Flash                                   ? CFG_SPI_STAGE_NEXT
                 : (BulkErase || Program || SectorErase) ? UNPROTECT
                 : (ReadSPI || VerifySPI)                ? CFG_SPI_OPEN_DATA_FILE
                                                         : CFG_SPI_PROG_HIGH;
        if (Flash && nextWanted(0) < byteCount())
            state_ = CFG_SPI_OPEN_DATA_FILE;
        return;
    }
    reportIdentification(complete);
    state_ = CFG_SPI_PROG_HIGH;
    discardInput();
    NextStep();
}

// A wrong identification says what was read; a known one names its device, and one of all
// 0xFF or 0x00 says that no chip answers at all.
void SpiStateObj::reportIdentification(bool complete) {
    if (const QString none = noFlashAnswering(idRead_); complete && !none.isEmpty()) {
        s_.fail(none);
        s_.prompter.tell(none, "ERROR", Prompter::Icon::Exclamation);
        return;
    }
    QString expected;
    for (int i = 1; i <= d_.NIDB; ++i)
        expected += hex2(d_.IDM2[i]) + " ";
    QString text = "ID code byte read does not match expected value: " + expected + "\r\nRead: " +
                   (complete ? idText(idRead_) : QString("not whole (the link lost bytes)"));
    if (complete) {
        catalog_ = readDeviceCatalog(deviceFolders());
        const QStringList others = devicesAnswering(catalog_, idRead_);
        if (!others.isEmpty())
            text += "\r\nThat is the identification of " + others.join(", ") + ".";
        if (EchoID && offerOtherDevice && others.size() == 1)
            offer_ = others[0];
    }
    s_.fail(text);
    s_.prompter.tell(text, "ERROR", Prompter::Icon::Exclamation);
}

// Detection reads the identification with the standard RDID opcode, as many bytes as the
// longest description compares, and names every description that matches it.
void SpiStateObj::prepareDetect() {
    catalog_ = readDeviceCatalog(deviceFolders());
    if (catalog_.isEmpty()) {
        const QString text = "No flash description files (*.sfh) were found in " +
                             deviceFolders().join(" or ") + ".";
        s_.refuse(text);
        s_.prompter.tell(text, "SPI Detect", Prompter::Icon::Critical);
        SetState(CFG_SPI_IDLE);
        return;
    }
    d_ = SpiDescription{};
    d_.RDID = 0x9F;
    d_.NIDB = std::int16_t(longestIdentification(catalog_));
    d_.IDM1 = d_.IDM2 = QList<std::int16_t>(d_.NIDB + 1, 0);
    d_.ABSZ = 3;
    command("load_config 1", CFG_SPI_PROG_LOW);
}

void SpiStateObj::detected(bool complete) {
    state_ = CFG_SPI_PROG_HIGH;
    detected_.clear();
    if (!complete) {
        s_.fail("The identification was not read whole: the link lost bytes.");
        return;
    }
    if (const QString none = noFlashAnswering(idRead_); !none.isEmpty()) {
        s_.fail(none);
        s_.prompter.tell(none, "ERROR", Prompter::Icon::Exclamation);
        return;
    }
    detected_ = devicesAnswering(catalog_, idRead_);
    if (detected_.isEmpty()) {
        const QString text =
            "No description file matches the identification " + idText(idRead_) + ".";
        s_.fail(text);
        s_.prompter.tell(text, "ERROR", Prompter::Icon::Exclamation);
        return;
    }
    heldSuccess_ = "Detected " + detected_.join(", ") + " (" + idText(idRead_) + ") ";
    if (offerOtherDevice && detected_.size() == 1)
        offer_ = detected_[0];
}

// At the end of a Detect its device is selected; an ID Check that found another known
// device asks first.
void SpiStateObj::offerDevice() {
    const QString name = std::exchange(offer_, QString());
    const int at = int(s_.ui.cbFlash.items().indexOf(name));
    if (name.isEmpty() || at < 0 || s_.windowClosed || at == s_.ui.cbFlash.selectedIndex())
        return;
    if (!Detect && s_.prompter.ask("The flash answers as " + name + ". Select " + name +
                                       " for the next operations?",
                                   "ID Check", Prompter::Icon::Question,
                                   Prompter::Buttons::YesNo) != Prompter::Answer::Yes)
        return;
    s_.ui.cbFlash.setSelectedIndex(at);
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
    chunkLength_ = std::int16_t(largestChunk());
    if (byteCount() - bytesDone_ < chunkLength_)
        chunkLength_ = std::int16_t(byteCount() - bytesDone_);
    const std::int64_t address = std::int64_t(offset()) + bytesDone_;
    const std::int64_t intoPage = address % d_.MBPP;
    if (intoPage != 0 && d_.MBPP - intoPage < chunkLength_)
        chunkLength_ = std::int16_t(d_.MBPP - intoPage);
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
            s_.fail(QString("Timed out: no PSoC echo in state %1").arg(state_));
            state_ = CFG_SPI_PROG_HIGH;
            NextStep();
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
            throw RuntimeError(RuntimeError::InputPastEnd, "Input past end of file");
        chunk_.append(char(b));
    }
    heldAt_ = bytesDone_;
    heldChunk_ = chunk_;
    heldMismatch_ = VerifySPI ? firstDifference(chunk_, bytesDone_) : -1;
    bytesDone_ += chunkLength_;
    if (heldMismatch_ >= 0) {
        state_ = CFG_SPI_READ_SETUP;
        return;
    }
    showProgress(conv::percent(bytesDone_, byteCount()));
    if (nextWanted(bytesDone_) < byteCount()) {
        state_ = CFG_SPI_READ_SETUP;
        return;
    }
    if (stage_ == Stage::Keep) {
        state_ = CFG_SPI_STAGE_NEXT;
        return;
    }
    heldSuccess_ = Flash ? QString("SPI flash programmed and validated: %1 to %2 ")
                               .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1))
                   : ReadSPI ? "SPI data read successfully "
                             : "SPI data validated ";
    state_ = CFG_SPI_PROG_HIGH;
}

qint64 SpiStateObj::firstDifference(const QByteArray& read, std::int32_t at) const {
    const QByteArray expected = const_cast<SpiStateObj*>(this)->fileBytes(at, int(read.size()));
    for (qsizetype i = 0; i < read.size(); ++i)
        if (read[i] != expected[i] && (!image_ || image_->given(at + i)))
            return i;
    return -1;
}

// The next byte from `from` on that the stage has to move: an image's own bytes (a HEX file
// leaves gaps), in a flash's keep stage the bytes the image leaves open, and in its write
// stage only bytes that are not the erased value.
std::int32_t SpiStateObj::nextWanted(std::int32_t from) const {
    if (!image_)
        return from;
    const std::int32_t end = byteCount();
    std::int32_t at = from;
    switch (stage_) {
    case Stage::Keep:
        while (at < end && image_->given(at))
            ++at;
        return at;
    case Stage::Write:
        while (at < end && image_->bytes(at, 1)[0] == char(0xFF))
            ++at;
        return at;
    default:
        at = std::int32_t(image_->firstGiven(at));
        return at >= image_->size() ? std::max(end, from) : at;
    }
}

// Encoded files (Intel HEX, bitstreams) are decoded before anything is sent; raw files are
// read as the transfer goes, except for a flash, which needs the whole image up front.
bool SpiStateObj::loadImage() {
    image_.reset();
    if (!(Program || VerifySPI || Flash))
        return true;
    QByteArray contents;
    {
        QFile file(runPath_);
        if (!file.open(QIODevice::ReadOnly)) {
            if (!Flash)
                return true;
            s_.file.openForReading(runPath_);
        }
        contents = file.readAll();
    }
    if (!Flash && !isEncodedImage(contents))
        return true;
    const QString title = VerifySPI ? "SPI Read Error" : "SPI Program Error";
    try {
        image_ = isEncodedImage(contents) ? readFlashImage(contents)
                                          : FlashImage::raw(contents.left(byteCount()));
        if (image_->isEmpty())
            throw FlashImageError("The file holds no data to program.");
    } catch (const FlashImageError& e) {
        const QString text = e.message() + "\r\nNothing was sent to the board.";
        s_.refuse(text);
        s_.prompter.tell(text, title, Prompter::Icon::Critical);
        return false;
    }
    if (!image_->note().isEmpty())
        s_.appendLine(image_->note());
    return true;
}

// A ranged erase clears every sector the range touches. A flash erases the sectors its image
// touches, so bytes of those sectors outside the image are read first and written back.
bool SpiStateObj::prepareRange() {
    if (!(SectorErase || Flash))
        return true;
    const auto refuse = [&](const QString& text) {
        s_.refuse(text);
        s_.prompter.tell(text, "SPI Erase Error", Prompter::Icon::Critical);
        return false;
    };
    if (d_.SECE == 0 || d_.SECS <= 0)
        return refuse("The description " + device_ +
                      ".sfh gives no sector erase (SECE and SECS): this part can only be erased "
                      "whole (Bulk Erase).");
    std::int64_t first = offset(), end = std::int64_t(offset()) + byteCount();
    if (Flash) {
        first = offset() + image_->firstGiven(0);
        end = offset() + std::min<std::int64_t>(image_->size(), byteCount());
    }
    if (end <= first)
        return refuse("Nothing to erase: the range holds no bytes.");
    const std::int64_t sector = d_.SECS;
    eraseFrom_ = std::int32_t(first / sector * sector);
    eraseTo_ = std::int32_t(std::min<std::int64_t>((end + sector - 1) / sector * sector, d_.BPRD));
    sectorAt_ = eraseFrom_;
    if (Flash) {
        image_ = image_->placed(offset() - eraseFrom_, eraseTo_ - eraseFrom_, byteCount());
        offset_ = eraseFrom_;
        count_ = eraseTo_ - eraseFrom_;
        stage_ = Stage::Keep;
        title_ = "Reading the bytes to keep";
    } else {
        stage_ = Stage::Erase;
    }
    return true;
}

// Moves a flash on to its next stage once the last one is confirmed.
void SpiStateObj::startStage() {
    switch (stage_) {
    case Stage::Keep:
        stage_ = Stage::Erase;
        title_ = "Erasing sectors";
        showProgress(0);
        state_ = UNPROTECT;
        NextStep();
        return;
    case Stage::Erase:
        stage_ = Stage::Write;
        Program = true;
        title_ = "Programming";
        bytesDone_ = nextWanted(0);
        if (bytesDone_ < byteCount()) {
            state_ = CFG_SPI_WRITE_ENABLE_SETUP;
            NextStep();
            return;
        }
        [[fallthrough]];
    case Stage::Write:
        stage_ = Stage::Check;
        Program = false;
        VerifySPI = true;
        title_ = "Verifying";
        bytesDone_ = 0;
        state_ = CFG_SPI_READ_SETUP;
        NextStep();
        return;
    default:
        state_ = CFG_SPI_PROG_HIGH;
    }
}

void SpiStateObj::sectorErase() {
    sectorStartUs_ = s_.clock.nowUs();
    QByteArray out = bytes({d_.SECE});
    out.append(addressOf(sectorAt_));
    transaction(out);
    dropEchoes(1 + d_.ABSZ);
    state_ = CFG_SPI_SECTOR_POLL_SETUP;
}

void SpiStateObj::sectorPoll() {
    const int status = readStatus();
    if ((status & d_.ESTM) == d_.ESST) {
        state_ = CFG_SPI_SECTOR_NEXT;
        return;
    }
    if (s_.clock.nowUs() - sectorStartUs_ < std::int64_t(SectorEraseLimitMs) * 1000) {
        s_.clock.sleepMs(SectorPollMs);
        state_ = CFG_SPI_SECTOR_POLL_SETUP;
        return;
    }
    const QString text = QString("Sector Erase failed: the sector at %1 was still busy after %2 s ")
                             .arg(hexAddress(sectorAt_))
                             .arg(SectorEraseLimitMs / 1000);
    s_.fail(text);
    s_.appendLine(text);
    state_ = CFG_SPI_PROG_HIGH;
}

// Runs only once the status that said the sector is erased has been confirmed.
void SpiStateObj::sectorNext() {
    sectorAt_ += d_.SECS;
    showProgress(conv::percent(sectorAt_ - eraseFrom_, eraseTo_ - eraseFrom_));
    if (sectorAt_ < eraseTo_) {
        state_ = CFG_SPI_WRITE_ENABLE_SETUP;
        NextStep();
        return;
    }
    if (Flash) {
        startStage();
        return;
    }
    heldSuccess_ = QString("Sector Erase confirmed: %1 to %2 ")
                       .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1));
    state_ = CFG_SPI_ERASE_WRITE_DISABLE_SETUP;
    NextStep();
}

// A flash that stops after its erase leaves sectors that held the operator's other data: what
// they are to hold is saved beside the image, to be flashed again at their address.
void SpiStateObj::saveErasedSectors() {
    const QFileInfo image(runPath_);
    const QString path = image.absolutePath() + "/" + image.completeBaseName() + "-sectors-" +
                         hexAddress(eraseFrom_) + ".bin";
    QFile file(path);
    const QByteArray bytes = image_->bytes(0, eraseTo_ - eraseFrom_);
    const bool saved = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    s_.appendLine(
        saved ? QString("The flash stopped after erasing %1 to %2. What those sectors held, with "
                        "the image, is saved in %3: flash it at offset %1.")
                    .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1), path)
              : QString("The flash stopped after erasing %1 to %2, and what those sectors held "
                        "could not be saved in %3.")
                    .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1), path));
}
