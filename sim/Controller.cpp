#include "sim/Controller.h"

#include <algorithm>

namespace {

const QByteArray Ack("ack\0", 4);

bool isDecimal(const QString& text) {
    if (text.isEmpty() || text.size() > 12)
        return false;
    for (QChar c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

const Controller::CommandRow Controller::Commands[] = {
    {"get_ver", false, &Controller::getVersion},
    {"get_config", false, &Controller::acknowledgeOnly},
    {"load_config", true, &Controller::acknowledgeOnly},
    {"drive_prog", true, &Controller::driveProg},
    {"drive_mode", true, &Controller::acknowledgeOnly},
    {"spi_mode", true, &Controller::acknowledgeOnly},
    {"fpga_rst", true, &Controller::fpgaRst},
    {"read_init", false, &Controller::readInit},
    {"read_done", false, &Controller::readDone},
    {"ss_program", true, &Controller::ssProgram},
    {"sf_transfer", true, &Controller::sfTransfer},
};

Controller::Controller(const BoardConfig& config, Fpga& fpga, SpiFlash& spi, ReplySink& out)
    : config_(config)
    , fpga_(fpga)
    , spi_(spi)
    , out_(out) {}

bool Controller::command(const QString& text, std::int64_t nowUs) {
    const QString keyword = text.section(' ', 0, 0);
    const QString argument = text.section(' ', 1);
    for (const CommandRow& row : Commands) {
        if (keyword != QLatin1String(row.keyword))
            continue;
        if (row.takesNumber ? !isDecimal(argument) : text != keyword)
            return false;
        (this->*row.handler)(argument.toLongLong(), nowUs);
        return true;
    }
    return false;
}

void Controller::ack(std::int64_t nowUs) {
    busyUntilUs_ = std::max(busyUntilUs_, nowUs + config_.replyLatencyUs);
    out_.send(Ack, nowUs + config_.replyLatencyUs, ReplySink::Kind::Ack);
}

// The level byte is followed by one more byte, so that a reader always finds two.
void Controller::pinLevel(bool high, std::int64_t nowUs) {
    ack(nowUs);
    out_.send(QByteArray(1, high ? '\x01' : '\x00') + '\0', nowUs + config_.replyLatencyUs);
}

void Controller::getVersion(qint64, std::int64_t nowUs) {
    const std::int64_t at = nowUs + config_.versionLatencyUs;
    busyUntilUs_ = std::max(busyUntilUs_, at);
    out_.send(config_.firmwareVersion.toLatin1() + '\0', at);
    out_.send(Ack, at, ReplySink::Kind::Ack);
}

void Controller::acknowledgeOnly(qint64, std::int64_t nowUs) {
    ack(nowUs);
}

void Controller::driveProg(qint64 high, std::int64_t nowUs) {
    fpga_.setProg(high != 0, nowUs);
    ack(nowUs);
}

void Controller::fpgaRst(qint64 on, std::int64_t nowUs) {
    fpgaReset_ = on != 0;
    ack(nowUs);
}

void Controller::readInit(qint64, std::int64_t nowUs) {
    pinLevel(fpga_.init(nowUs), nowUs);
}

void Controller::readDone(qint64, std::int64_t nowUs) {
    pinLevel(fpga_.done(), nowUs);
}

void Controller::ssProgram(qint64 count, std::int64_t nowUs) {
    ack(nowUs);
    raw_ = Raw::Download;
    rawLeft_ = count;
    lastRawUs_ = nowUs;
    if (count == 0) {
        raw_ = Raw::None;
        fpga_.endOfStream(nowUs);
    }
}

void Controller::sfTransfer(qint64 count, std::int64_t nowUs) {
    ack(nowUs);
    spi_.select(nowUs);
    transactions_.append(QByteArray());
    raw_ = Raw::Transaction;
    rawLeft_ = count;
    lastRawUs_ = nowUs;
    if (count == 0)
        endTransaction(nowUs);
}

// Chip select rises after the last byte; the firmware then acknowledges twice.
void Controller::endTransaction(std::int64_t nowUs) {
    raw_ = Raw::None;
    spi_.deselect(nowUs);
    ack(nowUs);
    out_.send(Ack, nowUs + config_.replyLatencyUs, ReplySink::Kind::ClosingAck);
}

bool Controller::takesRawBytes(std::int64_t nowUs) {
    if (raw_ != Raw::None && config_.rawTimeoutUs > 0 &&
        nowUs - lastRawUs_ > config_.rawTimeoutUs) {
        if (raw_ == Raw::Transaction)
            spi_.deselect(lastRawUs_);
        raw_ = Raw::None;
    }
    return raw_ != Raw::None;
}

void Controller::rawByte(quint8 byte, std::int64_t nowUs) {
    lastRawUs_ = nowUs;
    --rawLeft_;
    if (raw_ == Raw::Download) {
        fpga_.receive(byte, nowUs);
        if (rawLeft_ == 0) {
            raw_ = Raw::None;
            fpga_.endOfStream(nowUs);
        }
        return;
    }
    transactions_.last().append(char(byte));
    quint8 miso = spi_.clock(byte, nowUs);
    if (config_.spiMiso != BoardConfig::Miso::Chip)
        miso = config_.spiMiso == BoardConfig::Miso::Floating ? 0xFF : 0x00;
    out_.send(QByteArray(1, char(miso)), nowUs + config_.replyLatencyUs);
    if (rawLeft_ == 0)
        endTransaction(nowUs);
}
