#pragma once

#include "sim/ConfigStream.h"

#include <QByteArray>
#include <cstdint>

struct FpgaOptions {
    // Something holds INIT low: the device never takes a configuration.
    bool initStuckLow = false;
    // After PROG rises the device clears its configuration memory with INIT held low.
    std::int64_t clearUs = 1000;
    // The device's JTAG IDCODE: a stream written for another part stops with INIT low.
    quint32 idcode = 0x01C3A093; // XC3S1600E, the part the server design targets
};

// An FPGA in slave-serial mode, seen from its configuration pins: PROG_B, INIT_B, DONE and the
// serial data. It checks the stream as the device does (sync word, IDCODE, packets, start-up).
class Fpga {
public:
    explicit Fpga(FpgaOptions options = {})
        : options_(options) {}

    // PROG_B: low clears the configuration and holds INIT low; rising starts a new one.
    void setProg(bool high, std::int64_t nowUs);
    void receive(quint8 byte, std::int64_t nowUs);
    // The controller has clocked out the whole announced download.
    void endOfStream(std::int64_t nowUs);

    bool init(std::int64_t nowUs) const;
    bool done() const { return done_; }
    bool runsServer() const { return done_ && (serverPreloaded_ || stream_.markerSeen()); }
    // As if the BPI server bitstream had been loaded before the test began.
    void loadServer();

    // Every byte clocked in since the last PROG pulse.
    const QByteArray& received() const { return received_; }
    int progPulses() const { return progPulses_; }

private:
    FpgaOptions options_;
    bool progHigh_ = true;
    std::int64_t clearedAtUs_ = 0;
    bool error_ = false;
    bool done_ = false;
    bool serverPreloaded_ = false;
    int progPulses_ = 0;
    ConfigStream stream_;
    QByteArray received_;
};
