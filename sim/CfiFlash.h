#pragma once

#include "sim/FlashArray.h"

#include <QList>
#include <QString>
#include <cstdint>

struct CfiChipSpec {
    QString name;
    quint8 manufacturer;
    QList<quint16> deviceId; // the three autoselect device words
    qint64 size;
    qint64 blockSize;          // uniform erase blocks
    int bufferBytes;           // write buffer
    double bufferProgramTypUs; // one full write buffer
    double blockEraseTypMs;
};

// Spansion S29GL128P, the 16 MiB parallel NOR of many MicroBlaze boards.
const CfiChipSpec& s29gl128p();

// A parallel CFI NOR flash as the server firmware drives it: erase by block or chip, buffered
// programming that can only clear bits, and the time each takes.
class CfiFlash {
public:
    explicit CfiFlash(double timeScale = 1.0, const CfiChipSpec& chip = s29gl128p());

    const CfiChipSpec& chip() const { return chip_; }
    // Each returns the time at which the flash is ready again.
    std::int64_t eraseChip(std::int64_t nowUs);
    std::int64_t eraseBlock(qint64 address, std::int64_t nowUs);
    std::int64_t program(qint64 address, const QByteArray& data, std::int64_t nowUs);
    QByteArray read(qint64 address, qint64 count) const { return array_.read(address, count); }
    bool busy(std::int64_t nowUs) const { return nowUs < readyUs_; }

    FlashArray& array() { return array_; }
    QByteArray& memory() { return array_.bytes(); }

private:
    std::int64_t occupy(double durationUs, std::int64_t nowUs);

    const CfiChipSpec chip_;
    double timeScale_;
    FlashArray array_;
    std::int64_t readyUs_ = 0;
};
