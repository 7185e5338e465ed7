// Images and ranges: what an operation moves, and the stages of a one-step flash (keep the
// bytes beside the image, erase the sectors, write, verify).
#include "spi/SpiStateObj.h"

#include "engine/Conversions.h"
#include "spi/SpiText.h"

#include <QFile>
#include <QFileInfo>

using namespace spitext;

qint64 SpiStateObj::firstDifference(const QByteArray& read, std::int32_t at) {
    const QByteArray expected = fileBytes(at, int(read.size()));
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
    case Stage::Guard:
    case Stage::Recheck:
        // The middle of the window is the erase span itself.
        return at < guardBefore_ || at >= end - guardAfter_ ? at : end - guardAfter_;
    case Stage::Keep:
        while (at < end && image_->given(at))
            ++at;
        return at;
    case Stage::Write:
        while (at < end && image_->at(at) == char(0xFF))
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
        if (!Flash && !mayBeEncodedImage(file.peek(4096)))
            return true;
        contents = file.readAll();
    }
    if (!Flash && !isEncodedImage(contents))
        return true;
    const QString title = VerifySPI ? "SPI Read Error" : "SPI Program Error";
    try {
        // Records beyond the chip are refused by address before anything is built for them.
        image_ = isEncodedImage(contents) ? readFlashImage(contents, d_.BPRD - offset())
                                          : FlashImage::raw(contents.left(byteCount()));
        if (image_->isEmpty())
            throw FlashImageError("The file holds no data to program.");
        // A count that ends before the image's first byte would leave nothing to move.
        if (image_->firstGiven(0) >= byteCount())
            throw FlashImageError(
                QString("The file gives no byte within the %1 bytes asked for; its data starts "
                        "at 0x%2.")
                    .arg(byteCount())
                    .arg(QString::number(image_->firstGiven(0), 16).toUpper()));
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
        guardBefore_ = std::min<std::int32_t>(GuardBytes, eraseFrom_);
        guardAfter_ = std::int32_t(std::min<std::int64_t>(GuardBytes, d_.BPRD - eraseTo_));
        title_ = "Reading the bytes to keep";
        if (guardBefore_ + guardAfter_ > 0) {
            readGuard(Stage::Guard);
            return true;
        }
        useEraseSpan();
        stage_ = Stage::Keep;
        return true;
    }
    stage_ = Stage::Erase;
    // Whole sectors go: bytes around the range asked are erased too, and the operator says so.
    const std::int64_t beyond = (first - eraseFrom_) + (eraseTo_ - end);
    if (beyond == 0)
        return true;
    const QString widened = QString("The erase takes whole sectors: it erases %1 to %2, %3 bytes "
                                    "beyond the range asked. Erase them?")
                                .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1))
                                .arg(beyond);
    if (s_.prompter.ask(widened, "Warning", Prompter::Icon::Question, Prompter::Buttons::YesNo) ==
        Prompter::Answer::Yes)
        return true;
    s_.refuse("Nothing was erased: the sectors reach beyond the range asked.");
    return false;
}

// Moves a flash on to its next stage once the last one is confirmed.
void SpiStateObj::startStage() {
    switch (stage_) {
    case Stage::Guard:
        guardSeen_ = guardNow_;
        useEraseSpan();
        stage_ = Stage::Keep;
        bytesDone_ = 0;
        if (nextWanted(0) < byteCount()) {
            state_ = CFG_SPI_READ_SETUP;
            NextStep();
            return;
        }
        [[fallthrough]];
    case Stage::Keep:
        stage_ = Stage::Erase;
        title_ = "Erasing sectors";
        showProgress(0);
        state_ = UNPROTECT;
        NextStep();
        return;
    case Stage::Erase:
        if (guardBefore_ + guardAfter_ > 0) {
            readGuard(Stage::Recheck);
            title_ = "Checking the neighbouring sectors";
            state_ = CFG_SPI_READ_SETUP;
            NextStep();
            return;
        }
        [[fallthrough]];
    case Stage::Recheck:
        if (stage_ == Stage::Recheck && !neighboursKept()) {
            state_ = CFG_SPI_PROG_HIGH;
            return;
        }
        if (startWrite())
            return;
        [[fallthrough]];
    case Stage::Write:
        Program = false;
        comparePass(Stage::Check, "Verifying");
        return;
    case Stage::Whole:
        // An address or opcode byte garbled on its way reads another place (or nothing: the
        // erased value), and nothing returned shows it: a Read reads again and the two must
        // agree; a Verify compares again.
        if (ReadSPI || VerifySPI) {
            if (ReadSPI)
                image_ = FlashImage::raw(firstRead_);
            showProgress(0);
            comparePass(Stage::Reread, ReadSPI ? "Checking what was read" : "Verifying again");
            return;
        }
        [[fallthrough]];
    default:
        state_ = CFG_SPI_PROG_HIGH;
    }
}

// The image's bytes that are not the erased value; false when there are none.
bool SpiStateObj::startWrite() {
    useEraseSpan();
    stage_ = Stage::Write;
    Program = true;
    title_ = "Programming";
    bytesDone_ = nextWanted(0);
    if (bytesDone_ >= byteCount())
        return false;
    state_ = CFG_SPI_WRITE_ENABLE_SETUP;
    NextStep();
    return true;
}

// The range read again from its start and compared, as a Verify compares.
void SpiStateObj::comparePass(Stage stage, const QString& title) {
    // A program's raw file was closed after its last page.
    if (stage == Stage::Check && !image_) {
        s_.file.close();
        s_.file.openForReading(runPath_);
    }
    stage_ = stage;
    VerifySPI = true;
    title_ = title;
    bytesDone_ = 0;
    state_ = CFG_SPI_READ_SETUP;
    NextStep();
}

// A flash that stops after its erase leaves sectors that held the operator's other data: what
// they are to hold is saved beside the image, to be flashed again at their address.
void SpiStateObj::saveErasedSectors() {
    const QFileInfo image(runPath_);
    const QString stem = image.absolutePath() + "/" + image.completeBaseName() + "-sectors-" +
                         hexAddress(eraseFrom_);
    // An earlier rescue file may hold data that is nowhere else: it is never written over.
    QString path = stem + ".bin";
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = QString("%1-%2.bin").arg(stem).arg(n);
    QFile file(path);
    const QByteArray bytes = image_->bytes(0, eraseTo_ - eraseFrom_);
    const bool saved = file.open(QIODevice::NewOnly | QIODevice::WriteOnly) &&
                       file.write(bytes) == bytes.size() && file.flush();
    s_.appendLine(
        saved ? QString("The flash stopped after erasing %1 to %2. What those sectors held, with "
                        "the image, is saved in %3: flash it at offset %1.")
                    .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1), path)
              : QString("The flash stopped after erasing %1 to %2, and what those sectors held "
                        "could not be saved in %3.")
                    .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1), path));
}

// The guard window runs from just before the erase span to just after it; only its ends are
// read.
void SpiStateObj::readGuard(Stage stage) {
    stage_ = stage;
    offset_ = eraseFrom_ - guardBefore_;
    count_ = std::int64_t(eraseTo_ - eraseFrom_) + guardBefore_ + guardAfter_;
    guardNow_ = QByteArray(guardBefore_ + guardAfter_, char(0xFF));
    bytesDone_ = 0;
}

void SpiStateObj::keepGuardBytes() {
    const std::int32_t afterAt = byteCount() - guardAfter_;
    for (qsizetype i = 0; i < heldChunk_.size(); ++i) {
        const std::int32_t at = heldAt_ + std::int32_t(i);
        if (at < guardBefore_)
            guardNow_[at] = heldChunk_[i];
        else if (at >= afterAt)
            guardNow_[guardBefore_ + at - afterAt] = heldChunk_[i];
    }
}

void SpiStateObj::useEraseSpan() {
    offset_ = eraseFrom_;
    count_ = eraseTo_ - eraseFrom_;
}

// Parts that share one identification may erase larger blocks than the description says; the
// bytes beside the span tell, as long as they held anything but the erased value.
bool SpiStateObj::neighboursKept() {
    qsizetype i = 0;
    while (i < guardSeen_.size() && guardSeen_[i] == guardNow_[i])
        ++i;
    if (i == guardSeen_.size())
        return true;
    const std::int64_t at = i < guardBefore_ ? std::int64_t(eraseFrom_) - guardBefore_ + i
                                             : std::int64_t(eraseTo_) + (i - guardBefore_);
    // Erase blocks are aligned powers of two, 64 KiB the common one: the smallest that holds
    // both the changed byte and the span's end beside it is what was lost at least.
    const std::int64_t inside = at < eraseFrom_ ? eraseFrom_ : eraseTo_ - 1;
    std::int64_t block = 64 * 1024;
    while (block < 2 * d_.SECS || at / block != inside / block)
        block *= 2;
    const std::int64_t from = eraseFrom_ / block * block;
    const std::int64_t to = std::min<std::int64_t>((eraseTo_ + block - 1) / block * block, d_.BPRD);
    const QString text =
        QString(
            "The erase of %1 to %2 also changed %3, outside those sectors: it held 0x%4 and now "
            "reads 0x%5. This part erases more than the %6 bytes SECS gives, so data from %7 "
            "to %8, or beyond, may be lost.\r\nNothing more was written. Set SECE and SECS "
            "in %9.sfh to the part's real sector erase, then flash again.")
            .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1), hexAddress(at))
            .arg(hex2(quint8(guardSeen_[i])), hex2(quint8(guardNow_[i])))
            .arg(d_.SECS)
            .arg(hexAddress(from), hexAddress(to - 1), device_);
    s_.fail(text);
    s_.prompter.tell(text, "SPI Erase Error", Prompter::Icon::Critical);
    return false;
}
