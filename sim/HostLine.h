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
    void mute(std::int64_t atUs) {
        muted_ = true;
        noteFault(atUs);
    }

    // Faults injected so far, and when the last one struck (board time); the board notes
    // those on its receiving side here too.
    int faults() const { return faults_; }
    std::int64_t lastFaultUs() const { return lastFaultUs_; }

    OutputQueue& queue() { return queue_; }
    const OutputQueue& queue() const { return queue_; }

    void noteFault(std::int64_t atUs) {
        ++faults_;
        lastFaultUs_ = qMax(lastFaultUs_, atUs);
    }

private:
    void pushNoisy(const QByteArray& bytes, std::int64_t readyUs);

    const BoardConfig& config_;
    SeededRandom random_;
    OutputQueue queue_;
    bool muted_;
    int faults_ = 0;
    std::int64_t lastFaultUs_ = -1;
};
