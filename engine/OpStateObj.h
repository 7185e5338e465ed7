#pragma once

#include <cstdint>
#include <functional>

class Prompter;
class SerialPort;

// The operation state: which mode the panel is in and whether a sequence runs.
class OpStateObj {
public:
    static constexpr std::int16_t LinkLost = -1, Start = 0, FpgaIdle = 1, FpgaRunning = 2,
                                  SpiIdle = 3, SpiRunning = 4, BpiIdle = 5, BpiRunning = 6;

    OpStateObj(SerialPort& port, Prompter& prompter)
        : port_(port)
        , prompter_(prompter) {}

    // The panel's three modes; the link-lost and start states count as the FPGA mode.
    enum class Mode { Fpga, Spi, Bpi };
    static Mode modeOf(std::int16_t state) {
        return state <= FpgaRunning ? Mode::Fpga : state <= SpiRunning ? Mode::Spi : Mode::Bpi;
    }
    Mode mode() const { return modeOf(state_); }
    static std::int16_t idleOf(Mode mode) {
        return mode == Mode::Fpga ? FpgaIdle : mode == Mode::Spi ? SpiIdle : BpiIdle;
    }

    std::int16_t State() const { return state_; }
    // A sequence runs (2, 4 or 6).
    static bool isRunning(std::int16_t state) {
        return state == FpgaRunning || state == SpiRunning || state == BpiRunning;
    }
    bool running() const { return isRunning(state_); }
    // 0 and 5 switch the port's receive events back on; values outside -1..6 are refused.
    void SetState(std::int16_t value);

    // Told of every accepted change (the panel keeps the Mode menu off while a sequence runs).
    std::function<void(std::int16_t)> onChange;

private:
    SerialPort& port_;
    Prompter& prompter_;
    std::int16_t state_ = 0;
};

// The receive display mode: 0 ASCII, 1 hexadecimal.
class StateControlObj {
public:
    explicit StateControlObj(Prompter& prompter)
        : prompter_(prompter) {}

    std::int16_t State() const { return state_; }
    void SetState(std::int16_t value);
    void nextState();

private:
    Prompter& prompter_;
    std::int16_t state_ = 0;
};
