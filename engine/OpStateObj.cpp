#include "engine/OpStateObj.h"

#include "engine/Prompter.h"
#include "link/SerialPort.h"

void OpStateObj::SetState(std::int16_t value) {
    if (value < LinkLost || value > BpiRunning) {
        prompter_.tell("Can't set operation state to Invalid", AppTitle, Prompter::Icon::None);
        return;
    }
    state_ = value;
    if (value == Start || value == BpiIdle)
        port_.setReceiveThreshold(1);
    if (onChange)
        onChange(value);
}

void StateControlObj::SetState(std::int16_t value) {
    if (value != 0 && value != 1) {
        prompter_.tell("Invalid State", AppTitle, Prompter::Icon::None);
        return;
    }
    state_ = value;
}

void StateControlObj::nextState() {
    if (state_ == 0 || state_ == 1) {
        state_ = std::int16_t(1 - state_);
        return;
    }
    prompter_.tell("Invalid state - resetting...", AppTitle, Prompter::Icon::None);
    state_ = 0;
}
