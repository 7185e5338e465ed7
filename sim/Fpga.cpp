#include "sim/Fpga.h"

void Fpga::setProg(bool high, std::int64_t nowUs) {
    if (!high) {
        done_ = false;
        error_ = false;
        serverPreloaded_ = false;
        stream_.reset();
        received_.clear();
    } else if (!progHigh_) {
        ++progPulses_;
        clearedAtUs_ = nowUs + options_.clearUs;
    }
    progHigh_ = high;
}

bool Fpga::init(std::int64_t nowUs) const {
    return !options_.initStuckLow && progHigh_ && !error_ && nowUs >= clearedAtUs_;
}

void Fpga::receive(quint8 byte, std::int64_t nowUs) {
    received_.append(char(byte));
    // The device takes no configuration data while INIT is low.
    if (!init(nowUs) || done_)
        return;
    stream_.feed(byte);
    // The revision nibble does not take part in the check.
    if (stream_.idcodeWritten() && (stream_.idcode() ^ options_.idcode) & 0x0FFFFFFF)
        error_ = true;
    done_ = !error_ && stream_.finished();
}

void Fpga::endOfStream(std::int64_t nowUs) {
    if (init(nowUs) && !done_ && !stream_.syncSeen())
        error_ = true;
}

void Fpga::loadServer() {
    serverPreloaded_ = true;
    done_ = true;
}
