#pragma once

#include <QtGlobal>

// splitmix64: the same seed gives the same sequence on every platform and library, which
// std::uniform_*_distribution does not promise.
class SeededRandom {
public:
    explicit SeededRandom(quint64 seed)
        : state_(seed) {}

    quint64 next() {
        quint64 z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    quint8 byte() { return quint8(next() >> 56); }
    // True with the given probability (0 never draws, so a fault-free run consumes nothing).
    bool chance(double rate) {
        if (rate <= 0)
            return false;
        return double(next() >> 11) * (1.0 / 9007199254740992.0) < rate;
    }

private:
    quint64 state_;
};
