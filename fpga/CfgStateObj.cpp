#include "fpga/CfgStateObj.h"

#include "engine/RuntimeError.h"
#include "link/ControllerProtocol.h"
#include "link/Conversions.h"

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

std::int16_t CfgStateObj::GetPreviousState() const {
    return state_ == CFG_READ_INIT_2 ? state_ : std::int16_t(state_ - 1);
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

void CfgStateObj::step() {
    auto& ui = s_.ui;
    switch (state_) {
    case CFG_LOAD_CONFIG_ON:
        ui.btnCfgFPGA.setEnabled(false);
        send("load_config 1");
        state_ = CFG_PROG_LOW;
        break;
    case CFG_PROG_LOW:
        send("drive_prog 0");
        state_ = CFG_DRIVE_MODE_7;
        break;
    case CFG_DRIVE_MODE_7:
        send("drive_mode 7");
        state_ = CFG_SPI_MODE_ON;
        break;
    case CFG_SPI_MODE_ON:
        send("spi_mode 1");
        state_ = CFG_PROG_HIGH;
        break;
    case CFG_PROG_HIGH:
        send("drive_prog 1");
        progHighUs_ = s_.clock.nowUs();
        state_ = CFG_READ_INIT;
        break;
    case CFG_READ_INIT:
        s_.FlushInput = false;
        send("read_init");
        state_ = WAIT_FOR_INIT;
        break;
    case WAIT_FOR_INIT: {
        s_.FlushInput = true;
        const int level = readPin();
        // INIT stays low while the device clears its memory after PROG: data sent meanwhile
        // would be lost, so the level is read again until it rises or the clear overruns.
        if (level >= 0 && level != 1 && s_.clock.nowUs() - progHighUs_ < InitRiseLimitMs * 1000) {
            s_.clock.sleepMs(1);
            s_.FlushInput = false;
            send("read_init");
            break;
        }
        if (level < 0)
            s_.prompter.tell("No value for Init pin (State: WAIT_FOR_INIT)", "ERROR",
                             Prompter::Icon::Critical);
        initLevel_ = level < 0 ? 0 : std::uint8_t(level);
        if (initLevel_ != 1)
            s_.appendLine("Init value is not high.");
        send("drive_mode 8");
        state_ = CFG_FPGA_RST_ON;
        break;
    }
    case CFG_FPGA_RST_ON:
        send("fpga_rst 1");
        state_ = CFG_SS_PROGRAM;
        break;
    case CFG_SS_PROGRAM:
        // Opened before the download is announced: once it is, the controller takes every
        // byte as bitstream, and a file that cannot be read would leave it waiting.
        s_.file.openForReading(runPath_);
        // A file cut short since it was chosen would leave the controller waiting for the rest.
        if (s_.file.size() < fileLength())
            throw RuntimeError(RuntimeError::InputPastEnd, "Input past end of file");
        send("ss_program " + lengthText_);
        state_ = CFG_DOWNLOAD;
        bytesSent_ = 0;
        ui.hscProgress.setMaximum(100);
        ui.hscProgress.setValue(0);
        ui.hscProgress.setVisible(true);
        ui.lblProgress.setText("FPGA Download Progress");
        ui.lblProgress.setVisible(true);
        break;
    case CFG_DOWNLOAD:
        download();
        break;
    case CFG_READ_INIT_2:
        ui.hscProgress.setVisible(false);
        ui.lblProgress.setVisible(false);
        s_.FlushInput = false;
        send("read_init");
        state_ = CFG_READ_DONE;
        break;
    case CFG_READ_DONE: {
        initLevel_ = 0;
        const int level = readPin();
        if (level >= 0)
            initLevel_ = std::uint8_t(level);
        send("read_done");
        state_ = CFG_WAIT_FOR_DONE;
        break;
    }
    case CFG_WAIT_FOR_DONE: {
        s_.clock.sleepMs(15);
        const int level = readPin();
        if (level < 0) {
            s_.fail("No value for Done pin");
            s_.prompter.tell("No value for Done pin", "ERROR", Prompter::Icon::Critical);
        } else {
            doneLevel_ = std::uint8_t(level);
            if (doneLevel_ == 1) {
                s_.appendLine("FPGA programmed successfully! ");
                s_.succeed();
            } else if (initLevel_ == 1) {
                const QString text = "Programming succeeded, but done did not go high.  Make "
                                     "sure start clock is CCLK. ";
                s_.fail(text);
                s_.appendLine(text);
            } else {
                s_.fail("FPGA programming failed! ");
                s_.appendLine("FPGA programming failed! ");
            }
        }
        send("spi_mode 0");
        state_ = CFG_LOAD_CONFIG_OFF;
        break;
    }
    case CFG_LOAD_CONFIG_OFF:
        s_.FlushInput = true;
        send("load_config 0");
        state_ = CFG_FINISH;
        break;
    case CFG_FINISH:
        state_ = CFG_IDLE;
        ui.btnCfgFPGA.setEnabled(true);
        send("fpga_rst 0");
        // Bounded: a silent board must not hold the window.
        if (s_.waitForBytes(4, 32000, protocol::ReplyDeadlineMs)) {
            s_.port.setReadLength(4);
            s_.port.read();
            s_.port.setReadLength(1);
        }
        break;
    default:
        s_.prompter.tell("Invalid configuration state", "Info", Prompter::Icon::None);
        state_ = CFG_IDLE;
        ui.btnCfgFPGA.setEnabled(true);
        break;
    }
}

void CfgStateObj::download() {
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
        if (pct != int(s_.ui.hscProgress.value()))
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
    state_ = CFG_READ_INIT_2;
    NextStep();
}
