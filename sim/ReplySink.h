#pragma once

#include <QByteArray>
#include <cstdint>

// Where the board's firmware puts the bytes it sends to the host. Acknowledgements are marked
// so that the faults that concern them can find them.
class ReplySink {
public:
    // ClosingAck: the acknowledgement that ends an SPI transaction, after the first.
    enum class Kind { Ack, ClosingAck, Data };

    virtual ~ReplySink() = default;
    virtual void send(const QByteArray& bytes, std::int64_t readyUs, Kind kind = Kind::Data) = 0;
};
