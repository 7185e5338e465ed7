#pragma once

#include <QString>
#include <cstdint>

// What one operation is to do, taken whole at its launch from its own inputs (the window's
// fields when a button is pressed, the command line's arguments for each operation of a run)
// and never read from a form control again. The sequence that runs it is set up from it.
struct OperationRequest {
    enum class Kind {
        FpgaConfigure,
        ServerLoad,
        SpiIdCheck,
        SpiDetect,
        SpiBulkErase,
        SpiSectorErase,
        SpiProgram,
        SpiFlash,
        SpiRead,
        SpiVerify,
        BpiIdCheck,
        BpiErase,
        BpiProgram,
        BpiRead,
        BpiVerify
    };
    // The debug panel's timing values as they were at launch.
    struct Timing {
        int ackIntervalMs = 15;
        int timeoutLimit = 4;
        // Polls of the waiting-byte count for each returned SPI byte.
        int pollLimit = 1000;
        // SPI transfers sent together rather than step by step.
        bool pipeline = false;
    };

    Kind kind = Kind::SpiIdCheck;
    // The bitstream, or the data file to program, verify, flash or read into.
    QString path;
    // The SPI description's name (the file without ".sfh").
    QString device;
    // The range: an offset into the flash and a byte count. An SPI read with no count reads
    // to the end of the chip.
    std::int64_t offset = 0;
    std::int64_t count = 0;
    int burst = 128;
    Timing timing;
    // How long a parallel flash chip erase is waited for.
    int eraseLimitMs = 10 * 60 * 1000;

    bool isSpi() const { return kind >= Kind::SpiIdCheck && kind <= Kind::SpiVerify; }
    bool isBpi() const { return kind >= Kind::BpiIdCheck; }
    bool isFpga() const { return kind <= Kind::ServerLoad; }
    // Operations that move data between a file and the flash, and so use the range.
    bool usesRange() const {
        return kind == Kind::SpiSectorErase || kind == Kind::SpiProgram || kind == Kind::SpiFlash ||
               kind == Kind::SpiRead || kind == Kind::SpiVerify || kind == Kind::BpiProgram ||
               kind == Kind::BpiRead || kind == Kind::BpiVerify;
    }
    bool readsImage() const {
        return kind == Kind::SpiProgram || kind == Kind::SpiFlash || kind == Kind::SpiVerify ||
               kind == Kind::BpiProgram || kind == Kind::BpiVerify;
    }
    bool isRead() const { return kind == Kind::SpiRead || kind == Kind::BpiRead; }
};
