#include "sim/SpiProtection.h"

#include <algorithm>

namespace {

constexpr quint8 WinbondSec = 0x40;
constexpr quint8 WinbondTb = 0x20;

// Winbond keeps TB and SEC above BP0-BP2; on the others every masked bit is a BP bit.
bool isWinbondLayout(const SpiChipSpec& chip) {
    return chip.protectMask & WinbondSec;
}

quint8 levelBits(const SpiChipSpec& chip) {
    return isWinbondLayout(chip) ? 0x1C : (chip.protectMask & 0x3C);
}

} // namespace

ProtectedRange protectedRange(const SpiChipSpec& chip, quint8 status) {
    const quint8 bits = levelBits(chip);
    const int level = (status & bits) >> 2;
    const int topLevel = bits >> 2;
    if (level == 0)
        return {};
    // Level 1 locks the top 1/64 of the array (one sector where sectors are larger), and
    // each further level doubles that until the top level locks everything.
    qint64 unit = std::max(chip.sectorSize, chip.size / 64);
    qint64 bytes = level == topLevel ? chip.size : std::min(chip.size, unit << (level - 1));
    const bool winbond = isWinbondLayout(chip);
    if (winbond && (status & WinbondSec) && level != topLevel)
        bytes = std::min<qint64>(32 * 1024, qint64(4 * 1024) << (level - 1));
    if (winbond && (status & WinbondTb))
        return {0, bytes};
    return {chip.size - bytes, chip.size};
}

quint8 protectAllBits(const SpiChipSpec& chip) {
    return levelBits(chip);
}
