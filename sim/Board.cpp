#include "sim/Board.h"

#include <algorithm>
#include <stdexcept>

namespace {

const SpiChipSpec& chipNamed(const QString& name) {
    const SpiChipSpec* chip = findSpiChip(name);
    if (!chip)
        throw std::invalid_argument("unknown SPI flash " + name.toStdString());
    return *chip;
}

SpiFlashOptions spiOptions(const BoardConfig& config) {
    SpiFlashOptions options;
    options.timeScale = config.timeScale;
    options.stuckBusy = config.spiStuckBusy;
    options.powerUpProtected = config.spiPowerUpProtected;
    options.wpLocked = config.wpLocked;
    options.maxTimes = config.maxBusyTimes;
    return options;
}

} // namespace

Board::Board(BoardConfig config)
    : config_(std::move(config))
    , line_(config_)
    , input_(config_.baud)
    , fpga_({config_.initStuckLow, config_.initClearUs, config_.fpgaIdcode})
    , spi_(chipNamed(config_.spiChip), spiOptions(config_))
    , cfi_(config_.timeScale)
    , controller_(config_, fpga_, spi_, line_)
    , server_(cfi_, line_, config_.replyLatencyUs, config_.serverSilentAfterBytes)
    // Its own generator, so that faults in one direction leave the other's sequence as it was.
    , inputFaults_(config_.seed ^ 0x5DEECE66Dull) {
    if (config_.serverRunning)
        fpga_.loadServer();
    serverWasRunning_ = serverRunning();
}

bool Board::serverRunning() const {
    return fpga_.runsServer() && !controller_.fpgaInReset();
}

void Board::receive(const QByteArray& bytes, std::int64_t nowUs) {
    hostBytes_ += bytes;
    const double start = input_.occupy(bytes.size(), nowUs);
    for (qint64 i = 0; i < bytes.size(); ++i) {
        if (config_.closeAfterBytes >= 0 && bytesReceived_ >= config_.closeAfterBytes) {
            closed_ = true;
            line_.mute(input_.arrivalUs(start, i));
        }
        if (closed_)
            return;
        ++bytesReceived_;
        arrive(quint8(bytes[i]), input_.arrivalUs(start, i));
    }
}

// The line may lose or garble a byte; the controller's interrupt puts it in the receive buffer,
// which the firmware reads whenever it is not working on a command.
void Board::arrive(quint8 value, std::int64_t atUs) {
    if (inputFaults_.chance(config_.hostLossRate)) {
        line_.noteFault(atUs);
        log("lost a host byte");
        return;
    }
    if (inputFaults_.chance(config_.hostGarbleRate)) {
        line_.noteFault(atUs);
        value ^= quint8(1 + inputFaults_.byte() % 255);
    }
    while (!buffered_.empty() && buffered_.front() <= atUs)
        buffered_.pop_front();
    if (config_.rxBufferBytes > 0 && qsizetype(buffered_.size()) >= config_.rxBufferBytes) {
        line_.noteFault(atUs);
        log("receive buffer full: a host byte lost");
        return;
    }
    const std::int64_t readUs = std::max({atUs, lastReadUs_, controller_.busyUntilUs()});
    if (readUs > atUs)
        buffered_.push_back(readUs);
    lastReadUs_ = readUs;
    byte(value, readUs);
}

QByteArray Board::takeOutput(std::int64_t nowUs, qint64 maxBytes) {
    return line_.queue().take(nowUs, maxBytes);
}

// Downloads and SPI transactions take every byte; so does a server command under way; the
// rest is command text.
void Board::byte(quint8 value, std::int64_t atUs) {
    if (controller_.takesRawBytes(atUs)) {
        controller_.rawByte(value, atUs);
        followServer();
        return;
    }
    if (serverRunning() && server_.takesData()) {
        server_.receive(value, atUs);
        return;
    }
    const CommandLine::Event event = commandLine_.feed(value);
    if (event.kind == CommandLine::Event::Controller)
        controllerCommand(event.text, atUs);
    else if (event.kind == CommandLine::Event::Server && serverRunning())
        serverCommand(event.text[0].toLatin1(), atUs);
}

void Board::controllerCommand(const QString& text, std::int64_t atUs) {
    if (!controller_.command(text, atUs)) {
        log("unknown " + text);
        return;
    }
    commands_ << text;
    log(text);
    if (++controllerCommands_ == config_.silentAfterCommands)
        line_.mute(atUs);
    followServer();
}

void Board::serverCommand(char letter, std::int64_t atUs) {
    // The letter and its CR.
    if (!server_.fifoTakes(atUs, 2)) {
        log(QString("lost ") + letter);
        return;
    }
    serverCommands_ << QString(QChar(letter));
    log(QString("server ") + letter);
    server_.command(letter, atUs);
}

// The server's processor runs while the FPGA holds its design and the user reset is off; it
// starts afresh each time.
void Board::followServer() {
    const bool running = serverRunning();
    if (running == serverWasRunning_)
        return;
    server_.stop();
    serverWasRunning_ = running;
}

void Board::log(const QString& text) {
    if (onCommand)
        onCommand(text);
}
