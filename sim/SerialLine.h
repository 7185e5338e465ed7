#pragma once

#include <QByteArray>
#include <cstdint>
#include <deque>

// One direction of the serial line. With a baud rate a byte takes ten bit times (8N1), so
// 115200 baud carries 11,520 bytes/s; without one (0) bytes pass as soon as they are ready.
// Bytes keep their order either way.
class LineTiming {
public:
    explicit LineTiming(int baud)
        : byteUs_(baud > 0 ? 1e7 / baud : 0) {}

    double byteUs() const { return byteUs_; }
    // A run of bytes ready at readyUs takes the line after what is already on it; returns the
    // time its first byte starts. Byte k has arrived at start + (k + 1) byte times.
    double occupy(qint64 count, std::int64_t readyUs);
    std::int64_t arrivalUs(double startUs, qint64 index) const;
    // When everything given so far has arrived.
    std::int64_t idleUs() const { return std::int64_t(freeUs_ + 0.999); }

private:
    double byteUs_;
    double freeUs_ = -1e18;
};

// The board's transmit queue: bytes become readable by the host as they arrive.
class OutputQueue {
public:
    explicit OutputQueue(int baud)
        : timing_(baud) {}

    void push(const QByteArray& bytes, std::int64_t readyUs);
    // At most maxBytes of what has arrived by nowUs (all of it when maxBytes < 0).
    QByteArray take(std::int64_t nowUs, qint64 maxBytes = -1);
    std::int64_t nextUs() const; // -1 when nothing is queued
    bool isEmpty() const { return chunks_.empty(); }

private:
    struct Chunk {
        double startUs;
        QByteArray bytes;
        qint64 taken = 0;
    };

    LineTiming timing_;
    std::deque<Chunk> chunks_;
};
