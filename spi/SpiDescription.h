#pragma once

#include <QList>
#include <cstdint>

// Everything the generic SPI sequence needs to know about one flash device. The field names are
// the keys of the .sfh file so that a file and the code that uses it read alike.
struct SpiDescription {
    std::int16_t WREN = 0;
    std::int16_t WESR = 0;
    std::int16_t WRDI = 0;
    std::int16_t WDSR = 0;
    std::int16_t RDID = 0;
    std::int16_t RDSR = 0;
    std::int16_t WRSR = 0;
    std::int16_t READ = 0;
    std::int16_t PGPM = 0;
    std::int16_t BLKE = 0;
    std::int16_t ESTM = 0;
    std::int16_t ESST = 0;
    std::int16_t PSTM = 0;
    std::int16_t PSST = 0;
    std::int16_t UABL = 0;
    std::int16_t NIDB = 0;
    // Entries 0..NIDB, entry 0 unused; both empty until a NIDB line has been read.
    // IDM1 holds the values of the IDM lines themselves, IDM2 the expected identification bytes.
    QList<std::int16_t> IDM1;
    QList<std::int16_t> IDM2;
    std::int32_t MBPP = 0;
    std::int32_t BPRD = 0;
    std::int16_t ABSZ = 0;
    std::int16_t MEPI = 0;
    std::int16_t MPPI = 0;
    std::int16_t DUMB = 0;
    // Status bits that still set after the unprotect mean the part is locked (block-protect
    // bits and the status register lock bit); 0 leaves the check out.
    std::int16_t PRTM = 0;
    // The sector (or block) erase opcode, sent with an address, and the bytes it erases; both 0
    // when the part is erased only whole.
    std::int16_t SECE = 0;
    std::int32_t SECS = 0;
    // The part's typical page program time in microseconds; 0 when the file does not say.
    std::int32_t PPTY = 0;

    bool hasIdTables() const { return !IDM1.isEmpty(); }

    bool operator==(const SpiDescription&) const = default;
};
