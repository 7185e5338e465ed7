#include "sim/HostLine.h"

HostLine::HostLine(const BoardConfig& config)
    : config_(config)
    , random_(config.seed)
    , queue_(config.baud)
    , muted_(config.silent) {}

void HostLine::send(const QByteArray& bytes, std::int64_t readyUs, Kind kind) {
    if (muted_)
        return;
    if (kind == Kind::Ack) {
        if (random_.chance(config_.dropAckRate))
            return;
        readyUs += config_.ackDelayUs;
    }
    if (config_.garbageRate <= 0) {
        queue_.push(bytes, readyUs);
        return;
    }
    QByteArray noisy;
    noisy.reserve(bytes.size() + 8);
    for (char c : bytes) {
        if (random_.chance(config_.garbageRate))
            noisy.append(char(random_.byte()));
        noisy.append(c);
    }
    queue_.push(noisy, readyUs);
}
