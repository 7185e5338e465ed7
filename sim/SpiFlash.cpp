#include "sim/SpiFlash.h"

#include "sim/SpiProtection.h"

#include <cmath>

namespace {

enum Opcode : quint8 {
    Wren = 0x06,
    Wrdi = 0x04,
    Rdsr = 0x05,
    Wrsr = 0x01,
    Rdid = 0x9F,
    Read = 0x03,
    FastRead = 0x0B,
    PageProgram = 0x02,
    SectorErase = 0xD8,
    SmallSectorErase = 0x20,
};

} // namespace

SpiFlash::SpiFlash(const SpiChipSpec& chip, SpiFlashOptions options)
    : chip_(chip)
    , options_(options)
    , array_(chip.size) {
    powerCycle();
}

void SpiFlash::powerCycle() {
    wel_ = false;
    busyUntilUs_ = 0;
    stuck_ = false;
    phase_ = Phase::Deselected;
    if (chip_.powerUpProtected || options_.powerUpProtected || options_.wpLocked)
        statusRegister_ |= protectAllBits(chip_);
    if (options_.wpLocked)
        statusRegister_ |= Srwd;
}

bool SpiFlash::busy(std::int64_t nowUs) const {
    return stuck_ || nowUs < busyUntilUs_;
}

quint8 SpiFlash::status(std::int64_t nowUs) const {
    // WEL is cleared only when the cycle completes, so it still reads 1 while busy.
    if (busy(nowUs))
        return statusRegister_ | Wip | Wel;
    return statusRegister_ | (wel_ ? Wel : 0);
}

void SpiFlash::select(std::int64_t) {
    phase_ = Phase::Opcode;
    count_ = 0;
}

void SpiFlash::deselect(std::int64_t nowUs) {
    if (phase_ != Phase::Deselected && phase_ != Phase::Ignored && count_ > 0)
        finishInstruction(nowUs);
    phase_ = Phase::Deselected;
}

quint8 SpiFlash::clock(quint8 mosi, std::int64_t nowUs) {
    if (phase_ == Phase::Deselected)
        return 0xFF;
    ++count_;
    switch (phase_) {
    case Phase::Opcode:
        decode(mosi, nowUs);
        return 0xFF;
    case Phase::Address:
        addressByte(mosi);
        return 0xFF;
    case Phase::Dummy:
        phase_ = Phase::Reading;
        return 0xFF;
    case Phase::Reading: {
        const quint8 value = array_.at(address_);
        address_ = (address_ + 1) % chip_.size;
        return value;
    }
    case Phase::Status:
        return status(nowUs);
    case Phase::Id: {
        const QByteArray full = chip_.id + chip_.idTail;
        return idIndex_ < full.size() ? quint8(full[idIndex_++]) : 0x00;
    }
    case Phase::PageData: {
        // The page buffer wraps: bytes beyond the page end overwrite its start.
        const int column = int((address_ + dataCount_++) % chip_.pageSize);
        page_[column] = char(mosi);
        pageLoaded_[column] = 1;
        return 0xFF;
    }
    case Phase::StatusData:
        if (dataCount_++ == 0)
            statusData_ = mosi;
        return 0xFF;
    default:
        return 0xFF;
    }
}

void SpiFlash::decode(quint8 opcode, std::int64_t nowUs) {
    opcode_ = opcode;
    addressCount_ = 0;
    address_ = 0;
    dataCount_ = 0;
    addressComplete_ = false;
    if (busy(nowUs) && opcode != Rdsr) {
        phase_ = Phase::Ignored;
        return;
    }
    switch (opcode) {
    case Rdsr:
        phase_ = Phase::Status;
        return;
    case Wrsr:
        phase_ = Phase::StatusData;
        return;
    case Rdid:
        idIndex_ = 0;
        phase_ = Phase::Id;
        return;
    case Read:
    case FastRead:
    case PageProgram:
    case SectorErase:
        phase_ = Phase::Address;
        return;
    case SmallSectorErase:
        phase_ = chip_.smallSectorSize > 0 ? Phase::Address : Phase::Ignored;
        return;
    case Wren:
    case Wrdi:
        phase_ = Phase::Trailing;
        return;
    default:
        phase_ = isBulkErase(opcode) ? Phase::Trailing : Phase::Ignored;
    }
}

void SpiFlash::addressByte(quint8 byte) {
    address_ = (address_ << 8) | byte;
    if (++addressCount_ < chip_.addressBytes)
        return;
    address_ %= chip_.size;
    addressComplete_ = true;
    switch (opcode_) {
    case Read:
        phase_ = Phase::Reading;
        break;
    case FastRead:
        phase_ = Phase::Dummy;
        break;
    case PageProgram:
        page_ = QByteArray(chip_.pageSize, '\xFF');
        pageLoaded_ = QByteArray(chip_.pageSize, '\0');
        phase_ = Phase::PageData;
        break;
    default:
        phase_ = Phase::Trailing;
    }
}

// Each instruction is carried out only when chip select rises on the byte boundary the
// datasheet names, and only with the write-enable latch set.
void SpiFlash::finishInstruction(std::int64_t nowUs) {
    const int addressEnd = 1 + chip_.addressBytes;
    switch (opcode_) {
    case Wren:
        if (count_ == 1)
            wel_ = true;
        return;
    case Wrdi:
        if (count_ == 1)
            wel_ = false;
        return;
    case Wrsr:
        // Hardware-protected mode: the write is not carried out and WEL stays as it was.
        if (options_.wpLocked && (statusRegister_ & Srwd))
            return;
        if (count_ >= 2 && wel_) {
            statusRegister_ = statusData_ & writableStatusBits();
            startCycle(chip_.statusWriteMs * 1000, false, nowUs);
        }
        return;
    case PageProgram:
        if (count_ > addressEnd && wel_ && phase_ == Phase::PageData && programPage())
            startCycle(options_.maxTimes ? chip_.pageProgramMaxUs : chip_.pageProgramTypUs, false,
                       nowUs);
        stuck_ = stuck_ || options_.stuckBusy == StuckBusy::ProgramOnly;
        return;
    case SectorErase:
        if (count_ == addressEnd && wel_ && addressComplete_)
            eraseSector(chip_.sectorSize, chip_.sectorEraseTypMs, nowUs);
        return;
    case SmallSectorErase:
        if (count_ == addressEnd && wel_ && addressComplete_)
            eraseSector(chip_.smallSectorSize, chip_.smallSectorEraseTypMs, nowUs);
        return;
    default:
        if (isBulkErase(opcode_) && count_ == 1 && wel_ &&
            protectedRange(chip_, statusRegister_).isEmpty()) {
            array_.eraseAll();
            startCycle((options_.maxTimes ? chip_.bulkEraseMaxMs : chip_.bulkEraseTypMs) * 1000,
                       true, nowUs);
        }
    }
}

bool SpiFlash::programPage() {
    const qint64 base = address_ - address_ % chip_.pageSize;
    if (protectedRange(chip_, statusRegister_).overlaps(base, base + chip_.pageSize))
        return false;
    for (int column = 0; column < chip_.pageSize; ++column)
        if (pageLoaded_[column])
            array_.program(base + column, quint8(page_[column]));
    return true;
}

void SpiFlash::eraseSector(qint64 size, double typMs, std::int64_t nowUs) {
    const qint64 base = address_ - address_ % size;
    if (protectedRange(chip_, statusRegister_).overlaps(base, base + size))
        return;
    array_.erase(base, base + size);
    startCycle(typMs * eraseStretch() * 1000, true, nowUs);
}

void SpiFlash::startCycle(double durationUs, bool isErase, std::int64_t nowUs) {
    wel_ = false;
    busyUntilUs_ = nowUs + std::llround(durationUs * options_.timeScale);
    stuck_ = options_.stuckBusy == StuckBusy::EveryCycle ||
             (options_.stuckBusy == StuckBusy::EraseOnly && isErase);
}
