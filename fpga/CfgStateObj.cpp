#include "fpga/CfgStateObj.h"

#include "engine/Conversions.h"
#include "engine/RuntimeError.h"
#include "link/ControllerProtocol.h"

void CfgStateObj::SetState(std::int16_t value) {
    if (value < CFG_IDLE || value > CFG_FINISH) {
        s_.prompter.tell("Invalid configuration state", AppTitle, Prompter::Icon::None);
        return;
    }
    state_ = value;
}

void CfgStateObj::begin(const OperationRequest& request, std::int32_t length) {
    runPath_ = request.path;
    length_ = length;
    lengthText_ = QString::number(length);
    bytesSent_ = 0;
    initLevel_ = doneLevel_ = 0;
    replyLength_ = 4;
    state_ = CFG_LOAD_CONFIG_ON;
}

void CfgStateObj::send(const QString& command) {
    s_.port.write(protocol::frame(command));
    // The pin reads answer the acknowledgement, the level and one more byte.
    replyLength_ = command == "read_init" || command == "read_done" ? 6 : 4;
}

int CfgStateObj::readPin() {
    if (s_.port.bytesWaiting() < 2)
        return -1;
    s_.port.setReadLength(0);
    const QByteArray bytes = s_.port.read();
    s_.port.setReadLength(1);
    return static_cast<unsigned char>(bytes[0]);
}

std::int32_t CfgStateObj::fileLength() const {
    return length_;
}

void CfgStateObj::NextStep() {
    try {
        step();
    } catch (const OperationAbandoned&) {
        s_.file.close();
    } catch (const RuntimeError& e) {
        s_.reportError(e);
        s_.file.close();
        state_ = CFG_FINISH;
        s_.ui.hscProgress.setVisible(false);
        s_.ui.lblProgress.setVisible(false);
    }
}

// One row per state: the command it sends and the state after it, and where a missing
// acknowledgement of that command takes the sequence back to (the state that sent it). A hook
// runs first; one that returns false has done the whole step itself.
struct CfgStateObj::Row {
    std::int16_t state;
    const char* command;
    std::int16_t next;
    std::int16_t retry;
    enum Flush : std::int8_t { Keep, Off, On } flush;
    bool (CfgStateObj::*before)();
    void (CfgStateObj::*after)();
};

const CfgStateObj::Row* CfgStateObj::rowFor(std::int16_t state) {
    using F = Row::Flush;
    using C = CfgStateObj;
    static const Row rows[] = {
        {CFG_IDLE, nullptr, CFG_IDLE, -1, F::Keep, nullptr, nullptr},
        {CFG_LOAD_CONFIG_ON, "load_config 1", CFG_PROG_LOW, CFG_IDLE, F::Keep, &C::disableButton,
         nullptr},
        {CFG_PROG_LOW, "drive_prog 0", CFG_DRIVE_MODE_7, CFG_LOAD_CONFIG_ON, F::Keep, nullptr,
         nullptr},
        {CFG_DRIVE_MODE_7, "drive_mode 7", CFG_SPI_MODE_ON, CFG_PROG_LOW, F::Keep, nullptr,
         nullptr},
        {CFG_SPI_MODE_ON, "spi_mode 1", CFG_PROG_HIGH, CFG_DRIVE_MODE_7, F::Keep, nullptr, nullptr},
        {CFG_PROG_HIGH, "drive_prog 1", CFG_READ_INIT, CFG_SPI_MODE_ON, F::Keep, nullptr,
         &C::noteProgHigh},
        {CFG_READ_INIT, "read_init", WAIT_FOR_INIT, CFG_PROG_HIGH, F::Off, nullptr, nullptr},
        // Polls INIT until it rises, then goes on.
        {WAIT_FOR_INIT, "drive_mode 8", CFG_FPGA_RST_ON, CFG_READ_INIT, F::On, &C::awaitInit,
         nullptr},
        {CFG_FPGA_RST_ON, "fpga_rst 1", CFG_SS_PROGRAM, WAIT_FOR_INIT, F::Keep, nullptr, nullptr},
        {CFG_SS_PROGRAM, nullptr, CFG_DOWNLOAD, CFG_FPGA_RST_ON, F::Keep, &C::announceDownload,
         nullptr},
        {CFG_DOWNLOAD, nullptr, CFG_READ_INIT_2, CFG_SS_PROGRAM, F::Keep, &C::download, nullptr},
        // The download has no acknowledgement to miss: this read is retried in place, never
        // the bitstream again.
        {CFG_READ_INIT_2, "read_init", CFG_READ_DONE, CFG_READ_INIT_2, F::Off, &C::hideProgress,
         nullptr},
        {CFG_READ_DONE, "read_done", CFG_WAIT_FOR_DONE, CFG_READ_INIT_2, F::Keep, &C::takeInitLevel,
         nullptr},
        {CFG_WAIT_FOR_DONE, "spi_mode 0", CFG_LOAD_CONFIG_OFF, CFG_READ_DONE, F::Keep,
         &C::judgeDone, nullptr},
        {CFG_LOAD_CONFIG_OFF, "load_config 0", CFG_FINISH, CFG_WAIT_FOR_DONE, F::On, nullptr,
         nullptr},
        {CFG_FINISH, nullptr, CFG_IDLE, CFG_LOAD_CONFIG_OFF, F::Keep, &C::finish, nullptr},
    };
    for (const Row& row : rows)
        if (row.state == state)
            return &row;
    return nullptr;
}

std::int16_t CfgStateObj::GetPreviousState() const {
    const Row* row = rowFor(state_);
    return row ? row->retry : std::int16_t(state_ - 1);
}

void CfgStateObj::step() {
    const Row* row = rowFor(state_);
    if (!row || (!row->command && !row->before)) {
        s_.prompter.tell("Invalid configuration state", "Info", Prompter::Icon::None);
        state_ = CFG_IDLE;
        s_.ui.btnCfgFPGA.setEnabled(true);
        return;
    }
    if (row->flush != Row::Keep)
        s_.FlushInput = row->flush == Row::On;
    if (row->before && !(this->*row->before)())
        return;
    send(row->command);
    state_ = row->next;
    if (row->after)
        (this->*row->after)();
}

void CfgStateObj::advance() {
    state_ = rowFor(state_)->next;
}

bool CfgStateObj::disableButton() {
    s_.ui.btnCfgFPGA.setEnabled(false);
    return true;
}

void CfgStateObj::noteProgHigh() {
    progHighUs_ = s_.clock.nowUs();
}

bool CfgStateObj::awaitInit() {
    const int level = readPin();
    // INIT stays low while the device clears its memory after PROG: data sent meanwhile
    // would be lost, so the level is read again until it rises or the clear overruns.
    if (level >= 0 && level != 1 && s_.clock.nowUs() - progHighUs_ < InitRiseLimitMs * 1000) {
        s_.clock.sleepMs(1);
        s_.FlushInput = false;
        send("read_init");
        return false;
    }
    if (level < 0)
        s_.prompter.tell("No value for Init pin (State: WAIT_FOR_INIT)", "ERROR",
                         Prompter::Icon::Critical);
    initLevel_ = level < 0 ? 0 : std::uint8_t(level);
    if (initLevel_ != 1)
        s_.appendLine("Init value is not high.");
    return true;
}

bool CfgStateObj::announceDownload() {
    auto& ui = s_.ui;
    // Opened before the download is announced: once it is, the controller takes every
    // byte as bitstream, and a file that cannot be read would leave it waiting.
    s_.file.openForReading(runPath_);
    // A file cut short since it was chosen would leave the controller waiting for the rest.
    if (s_.file.size() < fileLength())
        throw RuntimeError(RuntimeError::InputPastEnd, "Input past end of file");
    send("ss_program " + lengthText_);
    advance();
    bytesSent_ = 0;
    ui.hscProgress.setMaximum(100);
    ui.hscProgress.setValue(0);
    ui.hscProgress.setVisible(true);
    ui.lblProgress.setText("FPGA Download Progress");
    ui.lblProgress.setVisible(true);
    return false;
}

bool CfgStateObj::hideProgress() {
    s_.ui.hscProgress.setVisible(false);
    s_.ui.lblProgress.setVisible(false);
    return true;
}

bool CfgStateObj::takeInitLevel() {
    initLevel_ = 0;
    const int level = readPin();
    if (level >= 0)
        initLevel_ = std::uint8_t(level);
    return true;
}

bool CfgStateObj::judgeDone() {
    s_.clock.sleepMs(15);
    const int level = readPin();
    if (level < 0) {
        s_.fail("No value for Done pin");
        s_.prompter.tell("No value for Done pin", "ERROR", Prompter::Icon::Critical);
        return true;
    }
    doneLevel_ = std::uint8_t(level);
    if (doneLevel_ == 1) {
        s_.appendLine("FPGA programmed successfully! ");
        s_.succeed();
    } else {
        // Nothing comes back from a download: a byte lost on its way leaves the same pins as a
        // wrong bitstream, so both causes are named.
        const QString text = initLevel_ == 1
                                 ? "Programming succeeded, but done did not go high.  Make "
                                   "sure start clock is CCLK. \r\nIf it is, bytes were "
                                   "probably lost on the line: configure again."
                                 : "FPGA programming failed! \r\nThe bitstream does not suit "
                                   "this FPGA, or bytes were lost on the line: check the file and "
                                   "configure again.";
        s_.fail(text);
        s_.appendLine(text);
    }
    return true;
}

bool CfgStateObj::finish() {
    advance();
    s_.ui.btnCfgFPGA.setEnabled(true);
    send("fpga_rst 0");
    // Bounded: a silent board must not hold the window.
    if (s_.waitForBytes(4, 32000, protocol::ReplyDeadlineMs)) {
        s_.port.setReadLength(4);
        s_.port.read();
        s_.port.setReadLength(1);
    }
    return false;
}

bool CfgStateObj::download() {
    auto& port = s_.port;
    const std::int32_t length = fileLength();
    if (bytesSent_ == 0 && !s_.file.isOpen())
        s_.file.openForReading(runPath_);
    std::int64_t sliceStart = s_.clock.nowUs();
    for (int chunks = 1;; ++chunks) {
        // The rest of the announced length is completed by the end path.
        if (s_.stopRequested())
            throw OperationAbandoned();
        if (port.bytesWaiting() > 0) {
            port.setReadLength(0);
            port.read();
            port.setReadLength(1);
        }
        // Every chunk is the next one: the download has no acknowledgement to retry on, and a
        // chunk sent again would be taken as more bitstream.
        const std::int32_t size = qMin<std::int32_t>(64, length - bytesSent_);
        if (size <= 0)
            break;
        const QByteArray chunk = s_.file.readAt(bytesSent_, size);
        if (chunk.size() != size)
            throw RuntimeError(RuntimeError::InputPastEnd, "Input past end of file");
        port.write(chunk);
        bytesSent_ += size;
        const int pct = conv::percent(bytesSent_, length);
        // Written only when the whole percentage changes: the control ignores the same value.
        s_.ui.hscProgress.setValue(pct);
        // The window stays answerable and a stop is seen within a slice; a hand-driven clock
        // may stand still, so chunks count as time too.
        if (chunks % 8 == 0 || s_.clock.nowUs() - sliceStart >= SliceMs * 1000LL) {
            sliceStart = s_.clock.nowUs();
            if (s_.processEvents)
                s_.processEvents();
        }
    }
    s_.file.close();
    // The next command's acknowledgement budget starts only once the bitstream has left.
    port.drain();
    advance();
    NextStep();
    return false;
}
