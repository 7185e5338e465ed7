#pragma once

#include "sim/FlashArray.h"
#include "sim/SpiChipTable.h"

#include <cstdint>

enum class StuckBusy {
    Never,
    EveryCycle,  // WIP never clears once a status write, program or erase has started
    EraseOnly,   // status writes and page programs complete, erases never do
    ProgramOnly, // status writes and erases complete, page programs never do
};

struct SpiFlashOptions {
    double timeScale = 1.0; // busy times relative to the datasheet's typical values
    StuckBusy stuckBusy = StuckBusy::Never;
    bool powerUpProtected = false; // in addition to parts that always power up protected
    // The status register lock bit is set and WP# is held low: status writes are ignored,
    // so the part stays protected whatever the programmer does.
    bool wpLocked = false;
    // Every cycle takes the datasheet's maximum time.
    bool maxTimes = false;
};

// A SPI NOR flash clocked a byte at a time. Program, erase and status writes take effect when
// chip select rises after a complete instruction, as on the real parts, and keep the part busy
// for the datasheet time.
class SpiFlash {
public:
    explicit SpiFlash(const SpiChipSpec& chip, SpiFlashOptions options = {});

    void select(std::int64_t nowUs);
    void deselect(std::int64_t nowUs);
    // One byte on MOSI; returns what the flash drove on MISO meanwhile (FF when it does not).
    quint8 clock(quint8 mosi, std::int64_t nowUs);

    quint8 status(std::int64_t nowUs) const;
    bool busy(std::int64_t nowUs) const;
    void powerCycle();
    // Writes the non-volatile status bits directly, as a programmer on the bench would.
    void setStatusRegister(quint8 value) { statusRegister_ = value & writableStatusBits(); }

    const SpiChipSpec& chip() const { return chip_; }
    FlashArray& array() { return array_; }
    const FlashArray& array() const { return array_; }
    QByteArray& memory() { return array_.bytes(); }

    static constexpr quint8 Wip = 0x01;
    static constexpr quint8 Wel = 0x02;
    static constexpr quint8 Srwd = 0x80;

private:
    enum class Phase {
        Deselected,
        Opcode,
        Address,
        Dummy,
        Reading,
        Status,
        Id,
        PageData,
        StatusData,
        Trailing, // an instruction that takes no further bytes
        Ignored,  // refused while busy, or unknown
    };

    void decode(quint8 opcode, std::int64_t nowUs);
    void addressByte(quint8 byte);
    bool programPage();
    void eraseSector(qint64 size, double typMs, std::int64_t nowUs);
    void finishInstruction(std::int64_t nowUs);
    void startCycle(double durationUs, bool isErase, std::int64_t nowUs);
    // The table gives no maximum for sector erases: they stretch as the bulk erase does.
    double eraseStretch() const {
        return options_.maxTimes ? chip_.bulkEraseMaxMs / chip_.bulkEraseTypMs : 1.0;
    }
    bool isBulkErase(quint8 opcode) const { return chip_.bulkEraseOpcodes.contains(char(opcode)); }
    quint8 writableStatusBits() const { return chip_.protectMask | 0x80; }

    const SpiChipSpec chip_;
    SpiFlashOptions options_;
    FlashArray array_;
    quint8 statusRegister_ = 0; // non-volatile: SRWD and the protection bits
    bool wel_ = false;
    std::int64_t busyUntilUs_ = 0;
    bool stuck_ = false;

    Phase phase_ = Phase::Deselected;
    quint8 opcode_ = 0;
    int count_ = 0; // bytes clocked since chip select fell
    int addressCount_ = 0;
    qint64 address_ = 0;
    int idIndex_ = 0;
    int dataCount_ = 0;
    bool addressComplete_ = false;
    QByteArray page_;       // the page buffer a program loads
    QByteArray pageLoaded_; // which page buffer bytes were loaded
    quint8 statusData_ = 0;
};
