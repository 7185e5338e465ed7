#include "sim/CfiFlash.h"

#include <algorithm>
#include <cmath>

const CfiChipSpec& s29gl128p() {
    static const CfiChipSpec chip{
        "S29GL128P", 0x01, {0x227E, 0x2221, 0x2201}, 16 * 1024 * 1024, 128 * 1024, 64, 480, 500};
    return chip;
}

CfiFlash::CfiFlash(double timeScale, const CfiChipSpec& chip)
    : chip_(chip)
    , timeScale_(timeScale)
    , array_(chip.size) {}

std::int64_t CfiFlash::occupy(double durationUs, std::int64_t nowUs) {
    readyUs_ = std::max(nowUs, readyUs_) + std::llround(durationUs * timeScale_);
    return readyUs_;
}

std::int64_t CfiFlash::eraseChip(std::int64_t nowUs) {
    array_.eraseAll();
    const double blocks = double(chip_.size / chip_.blockSize);
    return occupy(blocks * chip_.blockEraseTypMs * 1000, nowUs);
}

std::int64_t CfiFlash::eraseBlock(qint64 address, std::int64_t nowUs) {
    const qint64 base = address - address % chip_.blockSize;
    array_.erase(base, base + chip_.blockSize);
    return occupy(chip_.blockEraseTypMs * 1000, nowUs);
}

std::int64_t CfiFlash::program(qint64 address, const QByteArray& data, std::int64_t nowUs) {
    if (data.isEmpty())
        return std::max(nowUs, readyUs_);
    for (qint64 i = 0; i < data.size(); ++i)
        array_.program(address + i, quint8(data[i]));
    // One write-buffer operation per buffer-aligned window the data touches.
    const qint64 first = address / chip_.bufferBytes;
    const qint64 last = (address + data.size() - 1) / chip_.bufferBytes;
    const double buffers = double(last - first + 1);
    return occupy(buffers * chip_.bufferProgramTypUs, nowUs);
}
