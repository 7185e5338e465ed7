#pragma once

#include "sim/BoardConfig.h"
#include "sim/Fpga.h"
#include "sim/ReplySink.h"
#include "sim/SpiFlash.h"

#include <QList>

// The board controller's command firmware: NUL-terminated commands answered with "ack" NUL,
// pin reads, the slave-serial download and SPI transactions that return one byte per byte.
class Controller {
public:
    Controller(const BoardConfig& config, Fpga& fpga, SpiFlash& spi, ReplySink& out);

    // One NUL-terminated command; false when the firmware does not know it (no reply then).
    bool command(const QString& text, std::int64_t nowUs);
    // Whether the next byte belongs to a download or a SPI transaction. A phase that stalled
    // for longer than the raw timeout is abandoned first.
    bool takesRawBytes(std::int64_t nowUs);
    void rawByte(quint8 byte, std::int64_t nowUs);

    bool fpgaInReset() const { return fpgaReset_; }
    // Until when the firmware works on the last command or transaction and reads nothing.
    std::int64_t busyUntilUs() const { return busyUntilUs_; }
    const QList<QByteArray>& spiTransactions() const { return transactions_; }

private:
    using Handler = void (Controller::*)(qint64 argument, std::int64_t nowUs);
    struct CommandRow {
        const char* keyword;
        bool takesNumber;
        Handler handler;
    };
    static const CommandRow Commands[];

    void ack(std::int64_t nowUs);
    void pinLevel(bool high, std::int64_t nowUs);
    void getVersion(qint64, std::int64_t nowUs);
    // Configuration-mode switches the model has no use for beyond their acknowledgement.
    void acknowledgeOnly(qint64, std::int64_t nowUs);
    void driveProg(qint64 high, std::int64_t nowUs);
    void fpgaRst(qint64 on, std::int64_t nowUs);
    void readInit(qint64, std::int64_t nowUs);
    void readDone(qint64, std::int64_t nowUs);
    void ssProgram(qint64 count, std::int64_t nowUs);
    void sfTransfer(qint64 count, std::int64_t nowUs);
    void endTransaction(std::int64_t nowUs);

    const BoardConfig& config_;
    Fpga& fpga_;
    SpiFlash& spi_;
    ReplySink& out_;

    enum class Raw { None, Download, Transaction } raw_ = Raw::None;
    qint64 rawLeft_ = 0;
    std::int64_t lastRawUs_ = 0;
    QList<QByteArray> transactions_;

    std::int64_t busyUntilUs_ = 0;
    // Holds the FPGA's user logic (the server's processor) in reset.
    bool fpgaReset_ = false;
};
