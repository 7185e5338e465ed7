#include "cli/CliRunner.h"

#include "cli/Interrupts.h"

#include "fpga/BitfileHeader.h"
#include "link/RuntimeError.h"
#include "spi/DeviceCatalog.h"
#include "spi/SpiDeviceFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {
// Read creates its file when it is new: the window's dialog would only offer existing ones.
void writeNewFile(const QString& path) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.close();
}
// Thrown where a checked operation would first touch the board.
struct CheckedOnly {};

// The operation's name without its files and device: "spi program", "bpi load", "fpga".
QString operationName(const QStringList& words) {
    static const QStringList verbs = {"id",   "erase",  "program", "read",  "verify",
                                      "load", "detect", "flash",   "write", "blank"};
    for (int i = 1; i < words.size(); ++i)
        if (verbs.contains(words[i]))
            return words[0] + " " + words[i];
    return words.value(0);
}

// An SPI operation names its flash by a description file in the program's folder.
bool knownDevice(const QStringList& words) {
    if (words.value(0) != "spi" || words.size() < 3)
        return true;
    const QStringList files =
        QDir(QCoreApplication::applicationDirPath()).entryList({"*.sfh"}, QDir::Files);
    return std::any_of(files.begin(), files.end(), [&](const QString& f) {
        return f.compare(words[1] + ".sfh", Qt::CaseInsensitive) == 0;
    });
}

// Operations that ask the operator before they start.
bool asksQuestion(const QStringList& words) {
    const QString op = operationName(words);
    return op == "fpga" || op == "bpi load" || op.endsWith(" program") ||
           (op.endsWith(" read") && words.last() != "-");
}
} // namespace

CliRunner::CliRunner(QList<CliOptions> chain)
    : chain_(std::move(chain))
    , o_(chain_.first())
    , prompter_(o_.yes, stdin, isatty(STDIN_FILENO)) {}

void CliRunner::out(const QString& line) const {
    std::fprintf(text_, "%s\n", line.toLocal8Bit().constData());
}

void CliRunner::err(const QString& line) {
    message_ = line.startsWith("zbpu-cli: ") ? line.mid(10) : line;
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

int CliRunner::usage(const QString& why) {
    err("zbpu-cli: " + why);
    std::fputs(CliUsage, stderr);
    return Usage;
}

int CliRunner::run() {
    bool toStdout = false;
    for (const CliOptions& o : chain_)
        toStdout |= operationName(o.words).endsWith(" read") && o.words.last() == "-";
    if (toStdout && o_.json)
        return usage("--json and a read to - both want standard output");
    if (toStdout || o_.json)
        text_ = stderr;
    if (!choosePorts())
        return Usage;
    if (chain_.size() > 1)
        if (const int code = checkChain(); code != Success)
            return code;
    for (const CliOptions& o : chain_) {
        o_ = o;
        message_.clear();
        created_.clear();
        bytes_ = 0;
        prompter_.declined = false;
        boxesBefore_ = prompter_.texts.size();
        const std::int64_t start = clock_.nowUs();
        if (echo_)
            echo_->begin(0);
        if (model_)
            model_->session.outcome = {};
        const int code = runOperation();
        report(code, double(clock_.nowUs() - start) / 1e6);
        if (code != Success)
            return code;
        if (interruptRequested())
            return Interrupted;
    }
    return Success;
}

// The ports of the run: a port is named by its path, system name or USB serial number, else
// by its number.
bool CliRunner::choosePorts() {
    ports_ = PortDirectory::fromEnvironment(o_.all);
    if (o_.port.isEmpty())
        return true;
    const PortDirectory every = PortDirectory::fromEnvironment(true);
    bool isNumber = false;
    const int n = o_.port.toInt(&isNumber);
    if (const int found = every.find(o_.port); found > 0) {
#ifdef Q_OS_WIN
        ports_ = every;
        portNumber_ = found;
#else
        ports_ = PortDirectory(QList<PortInfo>{every.info(found)});
#endif
    } else if (isNumber) {
        portNumber_ = n;
    } else if (o_.port.contains('/')) {
        ports_ = PortDirectory(QStringList{o_.port});
    } else {
        QStringList names;
        for (const QString& path : every.paths())
            names << every.info(every.find(path)).name;
        usage("no port " + o_.port + "; the ports are " +
              (names.isEmpty() ? QString("none") : names.join(", ")));
        return false;
    }
    return true;
}

int CliRunner::runOperation() {
    const QString cmd = o_.words[0];
    if (checking_ && (cmd == "bitinfo" || cmd == "sfh"))
        return Success;
    if (cmd == "bitinfo")
        return bitinfo();
    if (cmd == "sfh")
        return sfh();
    if (cmd == "ports")
        return ports();
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

// A run that would stop halfway for want of a word or an answer is refused before anything
// reaches the board.
int CliRunner::checkChain() {
    checking_ = true;
    const auto done = qScopeGuard([this] { checking_ = false; });
    for (const CliOptions& o : chain_) {
        o_ = o;
        int code = Success;
        try {
            code = runOperation();
        } catch (const CheckedOnly&) {
        }
        if (code == Success && !knownDevice(o.words))
            code = usage("no description file " + o.words[1] + ".sfh");
        if (code == Success && !o.yes && !isatty(STDIN_FILENO) && asksQuestion(o.words)) {
            err("zbpu-cli: " + operationName(o.words) +
                " asks a question and standard input is not a terminal; run with --yes to "
                "answer Yes");
            code = Usage;
        }
        if (code != Success) {
            report(code, 0);
            return code;
        }
    }
    return Success;
}

// One JSON object per operation, for production logs.
void CliRunner::report(int code, double seconds) {
    if (!o_.json)
        return;
    const Outcome& outcome = model_ ? model_->session.outcome : Outcome{};
    QString result = code == Success ? "succeeded" : code == Usage ? "refused" : "failed";
    if (code == Interrupted || outcome.kind == Outcome::Kind::Abandoned)
        result = "abandoned";
    else if (code != Success && (prompter_.declined || outcome.kind == Outcome::Kind::Refused))
        result = "refused";
    // A failure says what failed: the operation's own account, then the program's word, then
    // the last message box of the operation.
    QString message = code != Success ? outcome.message : QString();
    if (message.isEmpty())
        message = message_;
    const bool boxShown = prompter_.texts.size() > boxesBefore_;
    if (message.isEmpty() && code != Success && boxShown)
        message = (prompter_.declined ? "declined: " : "") + prompter_.texts.last();
    if (message.isEmpty() && echo_)
        message = echo_->lastLine();
    QJsonValue device;
    const QString op = operationName(o_.words);
    if (op.startsWith("spi ") && o_.words.size() >= 3) {
        // The description file's own spelling of the name given.
        device = o_.words[1];
        for (const QString& name : model_ ? model_->ui.cbFlash.items() : QStringList{})
            if (name.compare(o_.words[1], Qt::CaseInsensitive) == 0)
                device = name;
    } else if (model_ && op.startsWith("spi ") && model_->ui.cbFlash.selectedIndex() >= 0)
        device = model_->ui.cbFlash.selectedItem();
    else if (model_ && op == "fpga" && model_->ui.txtDevice.text() != "None")
        device = model_->ui.txtDevice.text();
    else if (model_ && op == "bpi load" && model_->ui.cbBpi.selectedIndex() >= 0)
        device = model_->ui.cbBpi.selectedItem();
    const qint64 bytes =
        code == Success ? bytes_ : bytes_ * (echo_ ? echo_->percentSeen() : 0) / 100;
    const QJsonObject record{
        {"operation", op},
        {"device", device},
        {"port", port_ ? QJsonValue(port_->portName()) : QJsonValue()},
        {"result", result},
        {"message", cliWording(message.replace("\r\n", " ").replace("\n\r", " ")).trimmed()},
        {"bytes", bytes},
        {"seconds", std::round(seconds * 1000) / 1000}};
    std::fprintf(stdout, "%s\n", QJsonDocument(record).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
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

// Builds the panel as the window does, with the program's folder for every file it lists,
// once for the whole run.
bool CliRunner::boot() {
    if (checking_)
        throw CheckedOnly{};
    if (model_)
        return model_->ui.btnConnect.enabled();
    const QString folder = QCoreApplication::applicationDirPath();
    port_ = std::make_unique<QtSerialPort>(ports_);
    model_ = std::make_unique<MainPanelModel>(*port_, clock_, timer_, prompter_, picker_, skinning_,
                                              MainPanelModel::Folders{folder, folder});
    auto& ui = model_->ui;
    echo_ = std::make_unique<ConsoleEcho>(ui.txtRecvView, ui.hscProgress, ui.lblProgress, clock_,
                                          text_);
    model_->setProcessEvents([] { QCoreApplication::processEvents(); });
    model_->session.interrupted = [] { return interruptRequested(); };
    // The skin warning means nothing without a window, nor does an offer to select a device.
    ui.mnuSkin.setEnabled(false);
    model_->spi.offerOtherDevice = false;
    model_->startUp();
    if (portNumber_ > 0) {
        port_->setPortNumber(portNumber_);
        ui.btnConnect.setText("Connect to " + port_->portName());
    }
    if (!o_.timerMs.isEmpty())
        ui.txtTimeout.setText(o_.timerMs);
    if (!o_.timeoutLimit.isEmpty())
        ui.txtTimeoutLimit.setText(o_.timeoutLimit);
    if (!o_.pollLimit.isEmpty())
        ui.txtSleep.setText(o_.pollLimit);
    if (o_.paced) {
        ui.chkFastAck.setChecked(false);
        ui.chkFastAck.click();
    }
    if (o_.noBoardCheck)
        ui.mnuBoardCheck.click();
    defaultBurst_ = ui.txtBpiBurstSize.text();
    defaultEraseLimitMs_ = model_->bpi.eraseLimitMs;
    return ui.btnConnect.enabled();
}

// Connects once for the whole run; each operation brings its own transfer options.
bool CliRunner::connect() {
    if (!boot())
        return false;
    auto& ui = model_->ui;
    if (!ui.btnDisconnect.visible())
        ui.btnConnect.click();
    if (!ui.btnDisconnect.visible())
        return false;
    ui.txtBpiBurstSize.setText(o_.burst.isEmpty() ? defaultBurst_ : o_.burst);
    model_->bpi.eraseLimitMs =
        o_.eraseLimit.isEmpty() ? defaultEraseLimitMs_ : std::max(1, o_.eraseLimit.toInt()) * 1000;
    return true;
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
    if (!toStdout_.isEmpty()) {
        // The data leaves only once the whole read is in and checked.
        QFile data(toStdout_);
        if (s.outcome.succeeded() && data.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = data.readAll();
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
            std::fflush(stdout);
        }
        data.close();
        QFile::remove(toStdout_);
        toStdout_.clear();
    }
    if (s.outcome.succeeded())
        return Success;
    // Ctrl-C also ends a question waiting for its answer.
    return interruptRequested() ? Interrupted : Failure;
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

// Chooses the data file as the file dialog would, then the range from the options. A read
// to "-" goes through a file of the program's own, whose overwrite question is no question.
bool CliRunner::prepareTransfer(const QString& given, bool isRead) {
    QString file = given;
    if (isRead && given == "-") {
        if (!scratch_)
            scratch_ = std::make_unique<QTemporaryDir>();
        file = toStdout_ = scratch_->filePath("read.bin");
        prompter_.confirmNext();
    }
    if (isRead && !QFileInfo::exists(file)) {
        writeNewFile(file);
        created_ = file;
    }
    bool ready = chooseFile(file) && applyRange();
    // An SPI read without a byte count reads to the end of the chip.
    const std::int16_t mode = model_->session.opState.State();
    const bool spiMode = mode == OpStateObj::SpiIdle || mode == OpStateObj::SpiRunning;
    if (ready && model_->ui.txtPrgBytes.text() == "0" && !(isRead && spiMode)) {
        usage("nothing to transfer: give --bytes N");
        ready = false;
    }
    if (!ready) {
        // A refused run leaves nothing behind.
        if (!created_.isEmpty())
            QFile::remove(created_);
        return false;
    }
    bytes_ = model_->ui.txtPrgBytes.text().toLongLong();
    echo_->begin(bytes_);
    return true;
}

// Every port of the list with what it says of itself, marking those where a board answers
// and those that could not be opened.
int CliRunner::ports() {
    if (o_.words.size() != 1)
        return usage("ports takes no file");
    boot();
    if (!model_)
        return Usage;
    const auto& settings = model_->portSettings;
    // The port's own list, which took in whatever was plugged in before the scan.
    const PortDirectory& dir = port_->ports();
    const QStringList paths = dir.paths();
    for (const QString& path : paths) {
        const int n = dir.find(path);
        const PortInfo info = dir.info(n);
        QStringList parts{info.name, info.path};
        if (!info.details().isEmpty())
            parts << info.details();
        if (settings.answered().contains(n))
            parts << "[board answers]";
        for (const auto& [number, why] : settings.failures())
            if (number == n)
                parts << "[" + why + "]";
        out(parts.join("  "));
    }
    message_ = QString("ports: %1, a board answers on %2")
                   .arg(paths.size())
                   .arg(settings.answered().size());
    if (paths.isEmpty()) {
        err(o_.all ? "zbpu-cli: no serial ports"
                   : "zbpu-cli: no USB serial ports (ttyACM*, ttyUSB*) and none in ZBPU_PORTS; "
                     "--all lists every serial port");
        return Failure;
    }
    return Success;
}

// Every port where a board answers; none is a failure.
int CliRunner::detect() {
    if (o_.words.size() != 1)
        return usage("detect takes no file");
    boot();
    if (!model_)
        return Usage;
    const QList<int>& answered = model_->portSettings.answered();
    const PortDirectory& dir = port_->ports();
    QStringList found;
    for (int n : answered) {
        const PortInfo info = dir.info(n);
        found << info.name;
        out(info.details().isEmpty() ? info.name + "  " + info.path
                                     : info.name + "  " + info.path + "  " + info.details());
    }
    message_ = "a board answers on " + found.join(", ");
    if (answered.isEmpty()) {
        QStringList names;
        for (const QString& path : dir.paths())
            names << dir.info(dir.find(path)).name;
        err(names.isEmpty() ? QString("zbpu-cli: no board: no serial port to look on")
                            : "zbpu-cli: no board answers on " + names.join(", "));
        return Failure;
    }
    return Success;
}

int CliRunner::connectCommand() {
    if (!connect())
        return Failure;
    const QString server =
        QString("server: ") + (model_->session.BpiServerRunning ? "running" : "not running");
    out("firmware: compatible");
    out(server);
    message_ = "firmware: compatible, " + server;
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
    bytes_ = QFileInfo(o_.words[1]).size();
    echo_->begin(bytes_);
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
    if (w[2] == "read" && o_.bytes.isEmpty()) {
        ui.txtPrgBytes.setText("0");
        // The progress line counts to the end of the chip the description gives.
        SpiDescription d;
        try {
            loadSpiDeviceFile(model_->session.dataFolders.pathFor(devices[device] + ".sfh"), d);
        } catch (const RuntimeError&) {
        }
        bytes_ = std::max<qint64>(0, d.BPRD - ui.txtOffset.text().toLongLong(nullptr, 16));
        echo_->begin(bytes_);
    }
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
