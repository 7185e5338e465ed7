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

// The USB serial bridge between the line and the host: it collects what the line brings into
// a packet and hands the packet over at the start of a USB frame, once the packet is full or
// its latency timer (counted from the packet's first byte) has run out.
struct UsbFraming {
    std::int64_t frameUs = 0;        // 0: no bridge, bytes reach the host as they arrive
    std::int64_t latencyTimerUs = 0; // 0: the next frame takes whatever waits
    int packetBytes = 62;            // payload of a full-speed packet after the status bytes
};

// The board's transmit queue: bytes become readable by the host as they are handed over.
class OutputQueue {
public:
    explicit OutputQueue(int baud, UsbFraming usb = {})
        : timing_(baud)
        , usb_(usb) {}

    void push(const QByteArray& bytes, std::int64_t readyUs);
    // At most maxBytes of what has reached the host by nowUs (all of it when maxBytes < 0).
    QByteArray take(std::int64_t nowUs, qint64 maxBytes = -1);
    std::int64_t nextUs() const; // -1 when nothing is queued
    bool isEmpty() const { return bytes_.empty(); }

private:
    struct Byte {
        std::int64_t atUs;
        char value;
    };
    void hand(char value, std::int64_t arrivalUs);
    std::int64_t nextFrameUs(std::int64_t us) const {
        return (us / usb_.frameUs + 1) * usb_.frameUs;
    }

    LineTiming timing_;
    UsbFraming usb_;
    std::deque<Byte> bytes_;
    // The packet still open in the bridge: its bytes are the last packetCount_ queued.
    int packetCount_ = 0;
    std::int64_t packetDueUs_ = -1;
};
