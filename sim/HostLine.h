#pragma once

#include "sim/BoardConfig.h"
#include "sim/ReplySink.h"
#include "sim/SeededRandom.h"
#include "sim/SerialLine.h"

// The board's transmit line to the host, with the faults that concern what it sends: dropped
// and delayed acknowledgements, garbage bytes, a dead transmitter.
class HostLine : public ReplySink {
public:
    explicit HostLine(const BoardConfig& config);

    void send(const QByteArray& bytes, std::int64_t readyUs, Kind kind = Kind::Data) override;
    void mute() { muted_ = true; }

    OutputQueue& queue() { return queue_; }
    const OutputQueue& queue() const { return queue_; }

private:
    void pushNoisy(const QByteArray& bytes, std::int64_t readyUs);

    const BoardConfig& config_;
    SeededRandom random_;
    OutputQueue queue_;
    bool muted_;
};
