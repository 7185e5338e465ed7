#include "sim/SpiChipTable.h"

namespace {

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * KiB;

// Numonyx M25P16/32/64 dies append an EDID length of 16 and 16 bytes of UID/CFD data.
QByteArray numonyxUid() {
    return QByteArray::fromHex("10") + QByteArray(16, '\x00');
}
// Spansion FL-P parts append the ID-CFI length and the extended device information.
QByteArray spansionTail() {
    return QByteArray::fromHex("4d00");
}

const QByteArray c7 = QByteArray::fromHex("c7");
const QByteArray c7or60 = QByteArray::fromHex("c760");

QList<SpiChipSpec> makeTable() {
    const auto id = [](const char* hex) { return QByteArray::fromHex(hex); };
    const QByteArray noTail;
    // name, JEDEC ID, extra RDID bytes, page, size, address bytes, BP mask,
    // page program typ/max (us), bulk erase typ/max (ms), status write (ms),
    // bulk erase opcodes, protected at power-up, sector size and erase time (ms), 4 KiB sector
    // size and erase time (ms). Sector erase times are datasheet typical values recalled, not
    // re-checked: M25P 0.6-2 s, S25FL-P 0.5 s, W25Q 150/45 ms, MX25L 700/60 ms.
    // clang-format off
    return {
        {"M25P16",     id("202015"), numonyxUid(),   256, 2 * MiB,  3, 0x1C, 640,  5000, 13000,  40000,  5,  c7,     false, 64 * KiB, 600, 0, 0},
        {"M25P32",     id("202016"), numonyxUid(),   256, 4 * MiB,  3, 0x1C, 640,  5000, 23000,  80000,  5,  c7,     false, 64 * KiB, 600, 0, 0},
        {"M25P64",     id("202017"), numonyxUid(),   256, 8 * MiB,  3, 0x1C, 1400, 5000, 68000,  160000, 5,  c7,     false, 64 * KiB, 1000, 0, 0},
        {"M25P128",    id("202018"), noTail,         256, 16 * MiB, 3, 0x1C, 2500, 7000, 100000, 250000, 5,  c7,     false, 256 * KiB, 2000, 0, 0},
        {"S25FL032P",  id("010215"), spansionTail(), 256, 4 * MiB,  3, 0x1C, 1500, 3000, 32000,  64000,  50, c7,     false, 64 * KiB, 500, 0, 0},
        {"S25FL064P",  id("010216"), spansionTail(), 256, 8 * MiB,  3, 0x1C, 1500, 3000, 64000,  128000, 50, c7,     false, 64 * KiB, 500, 0, 0},
        {"W25Q32",     id("ef4016"), noTail,         256, 4 * MiB,  3, 0x7C, 700,  3000, 10000,  50000,  10, c7or60, false, 64 * KiB, 150, 4 * KiB, 45},
        {"W25Q64",     id("ef4017"), noTail,         256, 8 * MiB,  3, 0x7C, 700,  3000, 20000,  100000, 10, c7or60, false, 64 * KiB, 150, 4 * KiB, 45},
        {"W25Q128",    id("ef4018"), noTail,         256, 16 * MiB, 3, 0x7C, 700,  3000, 40000,  200000, 10, c7or60, false, 64 * KiB, 150, 4 * KiB, 45},
        {"MX25L3206E", id("c22016"), noTail,         256, 4 * MiB,  3, 0x3C, 1400, 5000, 25000,  50000,  40, c7or60, false, 64 * KiB, 700, 4 * KiB, 60},
        {"MX25L6406E", id("c22017"), noTail,         256, 8 * MiB,  3, 0x3C, 1400, 5000, 50000,  80000,  40, c7or60, false, 64 * KiB, 700, 4 * KiB, 60},
    };
    // clang-format on
}

} // namespace

const QList<SpiChipSpec>& spiChipTable() {
    static const QList<SpiChipSpec> table = makeTable();
    return table;
}

const SpiChipSpec* findSpiChip(const QString& name) {
    for (const SpiChipSpec& chip : spiChipTable())
        if (chip.name.compare(name, Qt::CaseInsensitive) == 0)
            return &chip;
    return nullptr;
}
