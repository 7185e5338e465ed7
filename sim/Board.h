#pragma once

#include "sim/BoardConfig.h"
#include "sim/BpiServer.h"
#include "sim/CfiFlash.h"
#include "sim/CommandLine.h"
#include "sim/Controller.h"
#include "sim/Fpga.h"
#include "sim/HostLine.h"
#include "sim/SerialLine.h"
#include "sim/SpiFlash.h"

#include <QStringList>
#include <deque>
#include <functional>

// The simulated evaluation board behind the serial port: controller, FPGA, SPI flash, and the
// BPI server with its parallel flash once the FPGA runs it. Time is whatever the caller says:
// the board never reads a clock, so the same input at the same times gives the same output.
class Board {
public:
    // Throws std::invalid_argument for a SPI chip name that is not in the table.
    explicit Board(BoardConfig config = {});
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Bytes from the host, written at nowUs (with a baud rate they arrive one by one after).
    void receive(const QByteArray& bytes, std::int64_t nowUs);
    // Bytes the board has sent and that have arrived at the host by nowUs (at most maxBytes
    // of them when maxBytes >= 0).
    QByteArray takeOutput(std::int64_t nowUs, qint64 maxBytes = -1);
    // When the next byte arrives at the host; -1 when nothing is on its way.
    std::int64_t nextOutputUs() const { return line_.queue().nextUs(); }
    // When the last byte the host wrote will have reached the board.
    std::int64_t inputIdleUs() const { return input_.idleUs(); }
    double byteTimeUs() const { return input_.byteUs(); }

    const BoardConfig& config() const { return config_; }
    bool absent() const { return config_.absent; }
    bool linkClosed() const { return closed_; }
    bool serverRunning() const;

    // Inspection for tests.
    const QStringList& commandsSeen() const { return commands_; }
    const QStringList& serverCommandsSeen() const { return serverCommands_; }
    QByteArray hostBytes() const { return hostBytes_; }
    const HostLine& line() const { return line_; }
    QList<QByteArray> spiTransactions() const { return controller_.spiTransactions(); }
    Fpga& fpga() { return fpga_; }
    SpiFlash& spi() { return spi_; }
    CfiFlash& bpiFlash() { return cfi_; }

    // Every command as the firmware takes it: "load_config 1", "server x", "unknown foo".
    std::function<void(const QString&)> onCommand;

private:
    void arrive(quint8 value, std::int64_t atUs);
    void byte(quint8 value, std::int64_t atUs);
    void controllerCommand(const QString& text, std::int64_t atUs);
    void serverCommand(char letter, std::int64_t atUs);
    void followServer();
    void log(const QString& text);

    BoardConfig config_;
    HostLine line_;
    LineTiming input_;
    Fpga fpga_;
    SpiFlash spi_;
    CfiFlash cfi_;
    Controller controller_;
    BpiServer server_;
    CommandLine commandLine_;

    QStringList commands_;
    QStringList serverCommands_;
    QByteArray hostBytes_;
    SeededRandom inputFaults_;
    // When each byte now in the controller's receive buffer will be read, oldest first.
    std::deque<std::int64_t> buffered_;
    std::int64_t lastReadUs_ = 0;
    std::int64_t bytesReceived_ = 0;
    int controllerCommands_ = 0;
    bool closed_ = false;
    bool serverWasRunning_ = false;
};
