#include "cli/Interrupts.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t requested = 0;

extern "C" void onInterrupt(int) {
    requested = 1;
}
} // namespace

void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interruptRequested() {
    return requested != 0;
}
