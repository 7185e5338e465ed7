#include "cli/CliRunner.h"

#include "cli/Interrupts.h"

#include "fpga/BitfileHeader.h"
#include "link/RuntimeError.h"
#include "spi/DeviceCatalog.h"
#include "spi/SpiDeviceFile.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

namespace {
// Read creates its file when it is new: the window's dialog would only offer existing ones.
void writeNewFile(const QString& path) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.close();
}
void out(const QString& line) {
    std::printf("%s\n", line.toLocal8Bit().constData());
}
void err(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}
} // namespace

CliRunner::CliRunner(CliOptions options)
    : o_(std::move(options))
    , prompter_(o_.yes) {}

int CliRunner::usage(const QString& why) const {
    err("zbpu-cli: " + why);
    std::fputs(CliUsage, stderr);
    return Usage;
}

int CliRunner::run() {
    const QString cmd = o_.words[0];
    if (cmd == "bitinfo")
        return bitinfo();
    if (cmd == "sfh")
        return sfh();
    if (cmd == "detect")
        return detect();
    if (cmd == "connect")
        return connectCommand();
    if (cmd == "fpga")
        return fpga();
    if (cmd == "spi")
        return spi();
    if (cmd == "bpi")
        return bpi();
    return usage("unknown command " + cmd);
}

int CliRunner::bitinfo() {
    if (o_.words.size() != 2)
        return usage("bitinfo takes one file");
    try {
        const BitfileInfo info = readBitfileHeader(o_.words[1]);
        out("length: " + info.length);
        out("device: " + info.device);
        return Success;
    } catch (const RuntimeError& e) {
        err(QString("Error: %1 %2").arg(e.number()).arg(e.description()));
        return Usage;
    }
}

int CliRunner::sfh() {
    if (o_.words.size() != 2)
        return usage("sfh takes one file");
    SpiDescription d;
    try {
        loadSpiDeviceFile(o_.words[1], d);
    } catch (const RuntimeError& e) {
        err(spiDeviceFailureMessage(e).replace("\r\n", "\n"));
        return Usage;
    }
    const QList<QPair<const char*, int>> fields = {
        {"WREN", d.WREN}, {"WESR", d.WESR}, {"WRDI", d.WRDI}, {"WDSR", d.WDSR}, {"RDID", d.RDID},
        {"RDSR", d.RDSR}, {"WRSR", d.WRSR}, {"READ", d.READ}, {"PGPM", d.PGPM}, {"BLKE", d.BLKE},
        {"ESTM", d.ESTM}, {"ESST", d.ESST}, {"PSTM", d.PSTM}, {"PSST", d.PSST}, {"UABL", d.UABL},
        {"NIDB", d.NIDB}, {"MBPP", d.MBPP}, {"BPRD", d.BPRD}, {"ABSZ", d.ABSZ}, {"MEPI", d.MEPI},
        {"MPPI", d.MPPI}, {"DUMB", d.DUMB}, {"PRTM", d.PRTM}, {"SECE", d.SECE}, {"SECS", d.SECS}};
    for (const auto& [key, value] : fields)
        out(QString("%1: %2").arg(key).arg(value));
    for (int i = 1; i < d.IDM2.size(); ++i)
        out(QString("IDM%1: %2").arg(i).arg(d.IDM2[i]));
    return Success;
}

// Builds the panel as the window does, with the program's folder for every file it lists.
bool CliRunner::boot() {
    const QString folder = QCoreApplication::applicationDirPath();
    ports_ = PortDirectory::fromEnvironment();
    bool isNumber = false;
    const int number = o_.port.toInt(&isNumber);
    if (!o_.port.isEmpty() && !isNumber)
        ports_ = PortDirectory(QStringList{o_.port});
    port_ = std::make_unique<QtSerialPort>(ports_);
    model_ = std::make_unique<MainPanelModel>(*port_, clock_, timer_, prompter_, picker_, skinning_,
                                              MainPanelModel::Folders{folder, folder});
    auto& ui = model_->ui;
    echo_ = std::make_unique<ConsoleEcho>(ui.txtRecvView, ui.hscProgress, ui.lblProgress);
    model_->setProcessEvents([] { QCoreApplication::processEvents(); });
    model_->session.interrupted = [] { return interruptRequested(); };
    // The skin warning means nothing without a window, nor does an offer to select a device.
    ui.mnuSkin.setEnabled(false);
    model_->spi.offerOtherDevice = false;
    model_->startUp();
    if (isNumber) {
        port_->setPortNumber(number);
        ui.btnConnect.setText(QString("Connect to COM%1").arg(number));
    }
    if (!o_.timerMs.isEmpty())
        ui.txtTimeout.setText(o_.timerMs);
    if (!o_.timeoutLimit.isEmpty())
        ui.txtTimeoutLimit.setText(o_.timeoutLimit);
    if (!o_.pollLimit.isEmpty())
        ui.txtSleep.setText(o_.pollLimit);
    if (!o_.burst.isEmpty())
        ui.txtBpiBurstSize.setText(o_.burst);
    if (o_.paced) {
        ui.chkFastAck.setChecked(false);
        ui.chkFastAck.click();
    }
    if (o_.noBoardCheck)
        ui.mnuBoardCheck.click();
    if (!o_.eraseLimit.isEmpty())
        model_->bpi.eraseLimitMs = std::max(1, o_.eraseLimit.toInt()) * 1000;
    return ui.btnConnect.enabled();
}

bool CliRunner::connect() {
    if (!boot())
        return false;
    model_->ui.btnConnect.click();
    return model_->ui.btnDisconnect.visible();
}

void CliRunner::runTimer() {
    while (timer_.isActive()) {
        if (interruptRequested()) {
            model_->dispatcher.abandonOperation("Operation abandoned: interrupted.");
            break;
        }
        // While fast acknowledgement polls, the wait ends as soon as bytes arrive.
        if (model_->session.fastAck && timer_.interval() <= 1) {
            const Sequence& running = model_->session.opState.State() == OpStateObj::FpgaRunning
                                          ? static_cast<const Sequence&>(model_->cfg)
                                          : model_->spi;
            if (port_->bytesWaiting() < running.ReplyLength())
                port_->waitForData(1);
        } else
            clock_.sleepMs(timer_.interval());
        timer_.fire();
    }
}

// Lets what the board sends after an operation reach the receive console.
void CliRunner::drain(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    if (port_->isOpen() && port_->receiveThreshold() >= 1 && port_->bytesWaiting() > 0)
        model_->receivePath.OnComm(SerialPort::EventReceive);
}

// Presses the button and runs the operation to its end; the verdict is the outcome the
// operation recorded, never a message's wording. A press that started nothing has none.
int CliRunner::press(Control& button) {
    if (!button.enabled()) {
        err("zbpu-cli: " + button.text() + " is not available now");
        return Failure;
    }
    return press([&] { button.click(); });
}

int CliRunner::press(const std::function<void()>& start) {
    Session& s = model_->session;
    s.outcome = {};
    start();
    runTimer();
    const auto kind = s.outcome.kind;
    if (!created_.isEmpty() && (kind == Outcome::Kind::None || kind == Outcome::Kind::Refused))
        QFile::remove(created_);
    if (s.outcome.kind == Outcome::Kind::Abandoned)
        return interruptRequested() ? Interrupted : Failure;
    return s.outcome.succeeded() ? Success : Failure;
}

bool CliRunner::chooseFile(const QString& path) {
    picker_.path = QFileInfo(path).absoluteFilePath();
    const int before = int(prompter_.titles.size());
    model_->ui.mnuOpenFile.click();
    return prompter_.titles.size() == before;
}

bool CliRunner::applyRange() {
    auto& ui = model_->ui;
    // A 0x prefix is the usual way to write hexadecimal on a command line.
    QString offset = o_.offset;
    if (offset.startsWith("0x", Qt::CaseInsensitive) && offset.size() > 2)
        offset = offset.mid(2);
    ui.txtOffset.setText(offset);
    if (ui.txtOffset.text() != offset) {
        err("zbpu-cli: the offset must be hexadecimal digits");
        return false;
    }
    if (!o_.bytes.isEmpty()) {
        ui.txtPrgBytes.setText(o_.bytes);
        if (ui.txtPrgBytes.text() != o_.bytes || o_.bytes.toLongLong() < 0) {
            err("zbpu-cli: the byte count must be a number");
            return false;
        }
    }
    return true;
}

// Chooses the data file as the file dialog would, then the range from the options.
bool CliRunner::prepareTransfer(const QString& file, bool isRead) {
    if (isRead && !QFileInfo::exists(file)) {
        writeNewFile(file);
        created_ = file;
    }
    if (!chooseFile(file) || !applyRange())
        return false;
    // An SPI read without a byte count reads to the end of the chip.
    const std::int16_t mode = model_->session.opState.State();
    const bool spiMode = mode == OpStateObj::SpiIdle || mode == OpStateObj::SpiRunning;
    if (model_->ui.txtPrgBytes.text() == "0" && !(isRead && spiMode)) {
        usage("nothing to transfer: give --bytes N");
        return false;
    }
    return true;
}

int CliRunner::detect() {
    boot();
    if (model_->portSettings.noPorts())
        return Failure;
    const int n = port_->portNumber();
    out(QString("COM%1 %2").arg(n).arg(ports_.path(n)));
    return Success;
}

int CliRunner::connectCommand() {
    if (!connect())
        return Failure;
    out("firmware: compatible");
    out(QString("server: ") + (model_->session.BpiServerRunning ? "running" : "not running"));
    return Success;
}

int CliRunner::fpga() {
    if (o_.words.size() != 2)
        return usage("fpga takes one file");
    if (!QFileInfo(o_.words[1]).isFile())
        return usage("cannot read " + o_.words[1]);
    if (!connect())
        return Failure;
    auto& ui = model_->ui;
    ui.mnuFPGA.click();
    if (!chooseFile(o_.words[1]))
        return Usage;
    return press(ui.btnCfgFPGA);
}

int CliRunner::spi() {
    const QStringList& w = o_.words;
    if (w.size() == 2 && w[1] == "detect")
        return spiDetect();
    const QStringList ops = {"id", "erase", "program", "read", "verify", "flash"};
    if (w.size() < 3 || !ops.contains(w[2]))
        return usage("spi detect, or spi DEVICE id|erase|program|read|verify|flash [FILE]");
    // An erase with a range erases the sectors it touches; without, the whole chip.
    const bool ranged = w[2] == "erase" && (!o_.bytes.isEmpty() || o_.offset != "0");
    if (ranged && o_.bytes.isEmpty())
        return usage("an erase from an offset needs --bytes N");
    const bool data = ops.indexOf(w[2]) >= 2;
    if (w.size() != (data ? 4 : 3))
        return usage("spi " + w[2] + (data ? " takes one file" : " takes no file"));
    if (w[2] != "read" && data && !QFileInfo(w[3]).isFile())
        return usage("cannot read " + w[3]);
    if (!connect())
        return Failure;
    auto& ui = model_->ui;
    ui.mnuSPI.click();
    const QStringList devices = ui.cbFlash.items();
    int device = -1;
    for (int i = 0; i < devices.size() && device < 0; ++i)
        if (devices[i].compare(w[1], Qt::CaseInsensitive) == 0)
            device = i;
    if (device < 0)
        return usage("no description file " + w[1] + ".sfh; the devices are " + devices.join(", "));
    ui.cbFlash.setSelectedIndex(device);
    if (data && !prepareTransfer(w[3], w[2] == "read"))
        return Usage;
    // A read without --bytes reads to the end of the chip, whatever the file held before.
    if (w[2] == "read" && o_.bytes.isEmpty())
        ui.txtPrgBytes.setText("0");
    if (ranged) {
        if (!applyRange())
            return Usage;
        return press([&] { model_->launches.eraseSectors(); });
    }
    ui.chkFlashSteps.setChecked(w[2] == "flash");
    Control* buttons[] = {&ui.btnIDecho[0], &ui.btnBulkErase[0], &ui.btnProgram[0],
                          &ui.btnRead[0],   &ui.btnVerify[0],    &ui.btnProgram[0]};
    return press(*buttons[ops.indexOf(w[2])]);
}

int CliRunner::spiDetect() {
    if (!connect())
        return Failure;
    model_->ui.mnuSPI.click();
    if (const int verdict = press(model_->ui.btnDetect); verdict != Success)
        return verdict;
    out("id: " + idText(model_->spi.identification()));
    for (const QString& device : model_->spi.detectedDevices())
        out("device: " + device);
    return Success;
}

int CliRunner::bpi() {
    const QStringList& w = o_.words;
    const QStringList ops = {"load", "id", "erase", "program", "read", "verify"};
    if (w.size() < 2 || !ops.contains(w[1]))
        return usage("bpi load|id|erase|program|read|verify");
    if (w[1] == "load")
        return bpiLoad();
    const bool data = ops.indexOf(w[1]) >= 3;
    if (w.size() != (data ? 3 : 2))
        return usage("bpi " + w[1] + (data ? " takes one file" : " takes no file"));
    if (w[1] != "read" && data && !QFileInfo(w[2]).isFile())
        return usage("cannot read " + w[2]);
    if (!connect())
        return Failure;
    auto& ui = model_->ui;
    ui.mnuBPI.click();
    if (!model_->session.BpiServerRunning) {
        err("zbpu-cli: the BPI server does not run; load it first (bpi load)");
        return Failure;
    }
    if (data && !prepareTransfer(w[2], w[1] == "read"))
        return Usage;
    Control* buttons[] = {nullptr,           &ui.btnIDecho[1], &ui.btnBulkErase[1],
                          &ui.btnProgram[1], &ui.btnRead[1],   &ui.btnVerify[1]};
    if (const int verdict = press(*buttons[ops.indexOf(w[1])]); verdict != Success)
        return verdict;
    // The server's answer to ID arrives after the operation, through the console (the erase
    // waits for its own).
    if (w[1] != "id")
        return Success;
    const qsizetype shown = ui.txtRecvView.text().size();
    drain(300);
    if (ui.txtRecvView.text().size() == shown) {
        err("zbpu-cli: no answer from the BPI server");
        return Failure;
    }
    return Success;
}

int CliRunner::bpiLoad() {
    const QStringList& w = o_.words;
    if (w.size() > 3)
        return usage("bpi load [SERVER] [--custom]");
    if (!connect())
        return Failure;
    auto& ui = model_->ui;
    ui.mnuBPI.click();
    if (o_.custom)
        ui.rbBoard[1].click();
    if (w.size() == 3) {
        const int at = int(ui.cbBpi.items().indexOf(w[2]));
        if (at < 0)
            return usage("no server bitstream " + w[2] + ".bit");
        ui.cbBpi.setSelectedIndex(at);
    }
    if (const int verdict = press(ui.btnLoad); verdict != Success)
        return verdict;
    return model_->session.BpiServerRunning ? Success : Failure;
}
