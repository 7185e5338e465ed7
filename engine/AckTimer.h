#pragma once

#include <functional>

// The acknowledgement timer: started by the dispatcher, stopped by its own tick.
class AckTimer {
public:
    virtual ~AckTimer() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;

    std::function<void()> onTick;
};

// A timer ticked by hand: tests and the command line drive it with a clock.
class ManualAckTimer : public AckTimer {
public:
    void start() override { active_ = true; }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }
    void setInterval(int milliseconds) override { interval_ = milliseconds; }
    int interval() const override { return interval_; }
    // Fires one tick when running.
    bool fire() {
        if (!active_)
            return false;
        if (onTick)
            onTick();
        return true;
    }

private:
    bool active_ = false;
    int interval_ = 15;
};
