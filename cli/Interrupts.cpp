#include "cli/Interrupts.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t requested = 0;

extern "C" void onInterrupt(int) {
    if (requested < 2)
        requested = requested + 1;
}
} // namespace

#ifdef _WIN32
// Ctrl-C and Ctrl-Break arrive as SIGINT and SIGBREAK; the handler is reset after each one.
extern "C" void onInterruptAgain(int signal) {
    std::signal(signal, onInterruptAgain);
    onInterrupt(signal);
}

void catchInterrupts() {
    std::signal(SIGINT, onInterruptAgain);
    std::signal(SIGBREAK, onInterruptAgain);
}
#else
// sigaction keeps the handler installed after the first signal.
void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
#endif

bool interruptRequested() {
    return requested != 0;
}

bool interruptedTwice() {
    return requested >= 2;
}
