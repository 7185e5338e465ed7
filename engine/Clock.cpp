#include "engine/Clock.h"

#include <chrono>
#include <thread>

static std::int64_t steadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

SystemClock::SystemClock()
    : start_(steadyUs()) {}

std::int64_t SystemClock::nowUs() const {
    return steadyUs() - start_;
}

void SystemClock::sleepUs(std::int64_t us) {
    if (us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}
