#pragma once

#include "engine/Clock.h"
#include "link/SerialPort.h"
#include "sim/Board.h"

// The serial port with the simulated board behind it, in process: no pseudo-terminal, and no
// sleeping beyond what the clock does (a VirtualClock makes every wait instant).
class SimulatedPort : public SerialPort {
public:
    SimulatedPort(Board& board, Clock& clock);

    bool isOpen() const override { return open_; }
    void open() override;
    void close() override;
    int bytesWaiting() override;
    void write(const QByteArray& bytes) override;
    // Sleeps the clock until the board's next byte when that comes within the time.
    bool waitForData(int milliseconds) override;
    void drain() override {
        if (board_.inputIdleUs() > clock_.nowUs())
            clock_.sleepUs(board_.inputIdleUs() - clock_.nowUs());
    }

    // Raises the receive event while the threshold asks for it and bytes wait, as the port
    // control's event loop would; returns how many events were raised.
    int deliverReceiveEvents();

    // What the port's transmit buffer holds before a write has to wait for the line (the
    // port control's default output buffer). Only with a baud rate: unpaced writes never wait.
    static constexpr int TransmitBufferBytes = 512;

protected:
    QByteArray take(int maxBytes) override;

private:
    void requireOpen() const;
    void pull();

    Board& board_;
    Clock& clock_;
    bool open_ = false;
    QByteArray received_;
};
