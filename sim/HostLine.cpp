#include "sim/HostLine.h"

HostLine::HostLine(const BoardConfig& config)
    : config_(config)
    , random_(config.seed)
    , queue_(config.baud, {config.usbFrameUs, config.latencyTimerUs})
    , muted_(config.silent) {}

void HostLine::send(const QByteArray& bytes, std::int64_t readyUs, Kind kind) {
    if (muted_)
        return;
    if (kind != Kind::Data) {
        if (random_.chance(config_.dropAckRate)) {
            noteFault(readyUs);
            return;
        }
        const std::int64_t late =
            config_.ackDelayUs + (kind == Kind::ClosingAck ? config_.lateAckUs : 0);
        if (late > 0)
            noteFault(readyUs);
        readyUs += late;
    }
    if (config_.jitterUs > 0) {
        if (bytes.size() > 1)
            noteFault(readyUs);
        for (qsizetype at = 0; at < bytes.size();) {
            const qsizetype piece = qMin<qsizetype>(1 + random_.byte() % 8, bytes.size() - at);
            if (at > 0)
                readyUs += std::int64_t(random_.byte()) * config_.jitterUs / 255;
            pushNoisy(bytes.mid(at, piece), readyUs);
            at += piece;
        }
        return;
    }
    pushNoisy(bytes, readyUs);
}

void HostLine::pushNoisy(const QByteArray& bytes, std::int64_t readyUs) {
    if (config_.garbageRate <= 0) {
        queue_.push(bytes, readyUs);
        return;
    }
    QByteArray noisy;
    noisy.reserve(bytes.size() + 8);
    for (char c : bytes) {
        if (random_.chance(config_.garbageRate)) {
            noteFault(readyUs);
            noisy.append(char(random_.byte()));
        }
        noisy.append(c);
    }
    queue_.push(noisy, readyUs);
}
