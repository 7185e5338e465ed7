#include "sim/Fpga.h"

void Fpga::setProg(bool high) {
    if (!high) {
        done_ = false;
        error_ = false;
        serverPreloaded_ = false;
        stream_.reset();
        received_.clear();
    } else if (!progHigh_) {
        ++progPulses_;
    }
    progHigh_ = high;
}

void Fpga::receive(quint8 byte) {
    received_.append(char(byte));
    // The device takes no configuration data while INIT is held low.
    if (!init() || done_)
        return;
    stream_.feed(byte);
    done_ = stream_.finished();
}

void Fpga::endOfStream() {
    if (init() && !done_ && !stream_.syncSeen())
        error_ = true;
}

void Fpga::loadServer() {
    serverPreloaded_ = true;
    done_ = true;
}
