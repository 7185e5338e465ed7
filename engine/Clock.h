#pragma once

#include <cstdint>

// Time as the sequences see it: fixed waits and a monotonic reading. Tests use a virtual
// clock that advances only when waited on.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowUs() const = 0;
    virtual void sleepUs(std::int64_t us) = 0;
    void sleepMs(int ms) { sleepUs(std::int64_t(ms) * 1000); }
};

class SystemClock : public Clock {
public:
    SystemClock();
    std::int64_t nowUs() const override;
    void sleepUs(std::int64_t us) override;

private:
    std::int64_t start_;
};

// Advances only when slept on, or by advance(): deterministic time for tests and the
// in-process simulated board.
class VirtualClock : public Clock {
public:
    std::int64_t nowUs() const override { return now_; }
    void sleepUs(std::int64_t us) override { advance(us); }
    void advance(std::int64_t us) {
        if (us > 0)
            now_ += us;
    }

private:
    std::int64_t now_ = 0;
};
