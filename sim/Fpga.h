#pragma once

#include "sim/ConfigStream.h"

#include <QByteArray>

// An FPGA in slave-serial mode, seen from its configuration pins: PROG_B, INIT_B, DONE and the
// serial data. It checks the stream as the device does (sync word, packets, start-up).
class Fpga {
public:
    explicit Fpga(bool initStuckLow = false)
        : initStuckLow_(initStuckLow) {}

    // PROG_B: low clears the configuration and holds INIT low; rising starts a new one.
    void setProg(bool high);
    void receive(quint8 byte);
    // The controller has clocked out the whole announced download.
    void endOfStream();

    bool init() const { return !initStuckLow_ && progHigh_ && !error_; }
    bool done() const { return done_; }
    bool runsServer() const { return done_ && (serverPreloaded_ || stream_.markerSeen()); }
    // As if the BPI server bitstream had been loaded before the test began.
    void loadServer();

    // Every byte clocked in since the last PROG pulse.
    const QByteArray& received() const { return received_; }
    int progPulses() const { return progPulses_; }

private:
    bool initStuckLow_;
    bool progHigh_ = true;
    bool error_ = false;
    bool done_ = false;
    bool serverPreloaded_ = false;
    int progPulses_ = 0;
    ConfigStream stream_;
    QByteArray received_;
};
