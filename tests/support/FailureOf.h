#pragma once

#include "engine/RuntimeError.h"

#include <functional>

// The number of the run-time failure the call throws, or 0.
inline int failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}
