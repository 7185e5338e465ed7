#pragma once

#include "sim/SpiChipTable.h"

// The part of the array that the block-protect bits of a status register value lock.
struct ProtectedRange {
    qint64 begin = 0;
    qint64 end = 0; // exclusive

    bool isEmpty() const { return begin >= end; }
    bool overlaps(qint64 from, qint64 to) const { return from < end && begin < to; }
};

ProtectedRange protectedRange(const SpiChipSpec& chip, quint8 status);

// The status value that protects the whole array, as parts that power up protected show.
quint8 protectAllBits(const SpiChipSpec& chip);
