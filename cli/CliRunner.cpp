#include "cli/CliRunner.h"

#include "cli/Interrupts.h"
#include "cli/SystemWords.h"
#include "cli/Terminal.h"

#include "bpi/BpiStateObj.h"
#include "engine/FlashImage.h"
#include "engine/Numbers.h"
#include "engine/RequestCheck.h"
#include "engine/RuntimeError.h"
#include "fpga/BitfileHeader.h"
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
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
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

// An SPI operation names its flash by a description file in one of the data folders.
bool knownDevice(const QStringList& words) {
    if (words.value(0) != "spi" || words.size() < 3)
        return true;
    const QStringList files =
        DataFolders::forProgram(QCoreApplication::applicationDirPath()).descriptionFiles();
    return std::any_of(files.begin(), files.end(), [&](const QString& f) {
        return QFileInfo(f).fileName().compare(words[1] + ".sfh", Qt::CaseInsensitive) == 0;
    });
}

// A bitstream's own length: the data its .bit header announces, or the whole of a raw
// bitstream (one with a sync word near its start); -1 for anything else.
struct BitstreamSummary {
    qint64 length = -1;
    QString device;
};

BitstreamSummary summariseBitstream(const QString& path) {
    const FlashImage image = loadFlashImage(path);
    BitstreamSummary b;
    b.device = readBitfileHeader(path).device;
    if (image.format() == FlashImage::Format::Bitstream) {
        b.length = image.size();
    } else if (image.format() == FlashImage::Format::Raw) {
        // Padding and a bus-width pattern come first: the sync word is within the first words.
        if (image.bytes(0, 1024).contains(QByteArray::fromHex("AA995566")))
            b.length = image.size();
    }
    return b;
}

// What a line with these settings ("115200,N,8,1") carries at most: each character has a start
// bit, its data bits, a parity bit unless N, and its stop bits.
double lineBytesPerSecond(const QString& settings) {
    const QStringList p = settings.split(',');
    const double baud = p.value(0).toDouble();
    const int bits = 1 + p.value(2, "8").toInt() + (p.value(1, "N").toUpper() == "N" ? 0 : 1) +
                     p.value(3, "1").toInt();
    return baud > 0 && bits > 2 ? baud / bits : 0;
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
    , prompter_(o_.yes, stdin, isTerminal(stdin)) {}

void CliRunner::out(const QString& line) const {
    std::fprintf(text_, "%s\n", line.toLocal8Bit().constData());
}

void CliRunner::err(const QString& line) {
    message_ = line.startsWith("zbpu-cli: ") ? line.mid(10) : line;
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

int CliRunner::refuse(const QString& why) {
    err("zbpu-cli: " + why);
    return Usage;
}

int CliRunner::usage(const QString& why) {
    err("zbpu-cli: " + why);
    std::fprintf(stderr, "%s\n", CliTryHelp);
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
        bytes_ = 0;
        prompter_.declined = false;
        device_.clear();
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
    if (const QString why = takeNumbers(); !why.isEmpty())
        return usage(why);
    if (checking_ && (cmd == "bitinfo" || cmd == "sfh" || cmd == "devices"))
        return Success;
    if (cmd == "bitinfo")
        return bitinfo();
    if (cmd == "sfh")
        return sfh();
    if (cmd == "ports")
        return ports();
    if (cmd == "devices")
        return devices();
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
        // A file an earlier read of the chain writes is there when a later operation needs it.
        if (operationName(o.words).endsWith(" read"))
            readInChain_ << QFileInfo(o.words.last()).absoluteFilePath();
        if (code == Success && !knownDevice(o.words))
            code = refuse("no description file " + o.words[1] + ".sfh");
        if (code == Success && !o.yes && !isTerminal(stdin) && asksQuestion(o.words)) {
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

// A file is refused in the system's words before anything is sent; one that an earlier read
// of the chain writes is not there yet.
QString CliRunner::fileProblem(bool written, const QString& path) const {
    if (written)
        return path == FileSlot::StandardOutput ? QString() : writeProblem(path);
    if (checking_ && readInChain_.contains(QFileInfo(path).absoluteFilePath()))
        return {};
    return readProblem(path);
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
    } else if (op == "spi detect" && !device_.isEmpty())
        device = device_;
    else if (model_ && op.startsWith("spi ") && model_->ui.cbFlash.selectedIndex() >= 0)
        device = model_->ui.cbFlash.selectedItem();
    else if (op == "fpga" && !device_.isEmpty())
        device = device_;
    else if (model_ && op == "bpi load" && model_->ui.cbBpi.selectedIndex() >= 0)
        device = model_->ui.cbBpi.selectedItem();
    const qint64 bytes =
        code == Success ? bytes_ : bytes_ * (echo_ ? echo_->percentSeen() : 0) / 100;
    const QJsonObject record{{"operation", op},
                             {"device", device},
                             {"port", port_ ? QJsonValue(port_->portName()) : QJsonValue()},
                             {"result", result},
                             {"message", cliWording(message)
                                             .replace("\r\n", " ")
                                             .replace("\n\r", " ")
                                             .replace('\n', ' ')
                                             .trimmed()},
                             {"bytes", bytes},
                             {"seconds", std::round(seconds * 1000) / 1000}};
    std::fprintf(stdout, "%s\n", QJsonDocument(record).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

int CliRunner::bitinfo() {
    if (o_.words.size() != 2)
        return usage("bitinfo takes one file");
    const QString& path = o_.words[1];
    if (const QString why = readProblem(path); !why.isEmpty())
        return refuse(why);
    try {
        const BitstreamSummary b = summariseBitstream(path);
        if (b.length < 0)
            return refuse(path + ": not a bitstream: no .bit header and no sync word");
        out("length: " + QString::number(b.length));
        out("device: " + b.device);
        return Success;
    } catch (const FlashImageError& e) {
        return refuse(path + ": " + e.message());
    } catch (const RuntimeError& e) {
        return refuse(path + ": " + e.description());
    }
}

int CliRunner::sfh() {
    if (o_.words.size() != 2)
        return usage("sfh takes one file");
    const QString& path = o_.words[1];
    if (const QString why = readProblem(path); !why.isEmpty())
        return refuse(why);
    SpiDescription d;
    try {
        loadSpiDeviceFile(path, d);
    } catch (const RuntimeError& e) {
        return refuse(path + ": not a flash description: " + e.description());
    }
    // A file with no identification or geometry describes nothing the sequence could drive.
    if (d.NIDB == 0 || d.BPRD == 0)
        return refuse(path + ": not a flash description: no NIDB or BPRD line");
    if (const QString why = spiDescriptionOutOfRange(d); !why.isEmpty())
        return refuse(path + ": " + why);
    const QList<QPair<const char*, int>> bytes = {
        {"WREN", d.WREN}, {"WESR", d.WESR}, {"WRDI", d.WRDI}, {"WDSR", d.WDSR}, {"RDID", d.RDID},
        {"RDSR", d.RDSR}, {"WRSR", d.WRSR}, {"READ", d.READ}, {"PGPM", d.PGPM}, {"BLKE", d.BLKE},
        {"ESTM", d.ESTM}, {"ESST", d.ESST}, {"PSTM", d.PSTM}, {"PSST", d.PSST}, {"UABL", d.UABL},
        {"NIDB", d.NIDB}, {"ABSZ", d.ABSZ}, {"MEPI", d.MEPI}, {"MPPI", d.MPPI}, {"DUMB", d.DUMB},
        {"PRTM", d.PRTM}, {"SECE", d.SECE}};
    const auto hex = [](qint64 v, int digits) {
        return "0x" + QString::number(v, 16).toUpper().rightJustified(digits, '0');
    };
    for (const auto& [key, value] : bytes)
        out(QString("%1: %2").arg(key, hex(value, 2)));
    // Sizes read best in both bases.
    for (const auto& [key, value] :
         {QPair<const char*, qint64>{"MBPP", d.MBPP}, {"BPRD", d.BPRD}, {"SECS", d.SECS}})
        out(QString("%1: %2 (%3)").arg(key, hex(value, 1)).arg(value));
    QStringList id;
    for (int i = 1; i < d.IDM2.size(); ++i)
        id << QString::number(d.IDM2[i], 16).toUpper().rightJustified(2, '0');
    out("ID: " + id.join(' '));
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
    // The permission hint names the rule this copy installed, not the source tree's.
    const QString rule = QDir::cleanPath(folder + "/../lib/udev/rules.d/60-zbpu.rules");
    if (QFileInfo::exists(rule))
        port_->setUdevRule(rule);
    model_ = std::make_unique<MainPanelModel>(*port_, clock_, timer_, prompter_, picker_, skinning_,
                                              MainPanelModel::Folders{folder, folder});
    auto& ui = model_->ui;
    echo_ = std::make_unique<ConsoleEcho>(ui.txtRecvView, ui.hscProgress, ui.lblProgress, clock_,
                                          text_);
    model_->setProcessEvents([] { QCoreApplication::processEvents(); });
    model_->session.interrupted = [] { return interruptRequested(); };
    model_->session.interruptedTwice = [] { return interruptedTwice(); };
    model_->session.stuck.setFile(StuckTransfers::userFile());
    // While a stop finishes a transfer, how long it takes; from time to time off a terminal.
    model_->ui.lblStatus.watch([this] { echo_->statusChanged(model_->ui.lblStatus.text()); });
    // The skin warning means nothing without a window, nor does an offer to select a device.
    ui.mnuSkin.setEnabled(false);
    model_->spi.offerOtherDevice = false;
    model_->startUp();
    if (portNumber_ > 0) {
        port_->setPortNumber(portNumber_);
        ui.btnConnect.setText("Connect to " + port_->portName());
    }
    if (o_.paced) {
        ui.chkFastAck.setChecked(false);
        ui.chkFastAck.click();
    }
    if (o_.noBoardCheck)
        ui.mnuBoardCheck.click();
    return ui.btnConnect.enabled();
}

// Connects once for the whole run; each operation brings its own transfer options.
bool CliRunner::connect() {
    if (!boot())
        return false;
    auto& ui = model_->ui;
    if (!model_->session.connected())
        ui.btnConnect.click();
    if (!model_->session.connected())
        return false;
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
    if (s.outcome.succeeded())
        return Success;
    // Ctrl-C also ends a question waiting for its answer.
    if (interruptRequested())
        return Interrupted;
    // A question answered No is a refusal, whatever the operation made of it.
    const bool refused = s.outcome.kind == Outcome::Kind::Refused || prompter_.declined;
    return refused && s.outcome.kind != Outcome::Kind::Abandoned ? Usage : Failure;
}

// Every number of the operation and of the run, read the one way, before anything is sent.
QString CliRunner::takeNumbers() {
    using numbers::Parsed;
    offset_ = 0;
    count_.reset();
    const auto take = [](const Parsed& p, QString& why) -> std::int64_t {
        if (!p.value && why.isEmpty())
            why = p.error;
        return p.value.value_or(0);
    };
    QString why;
    if (!o_.offset.isEmpty())
        offset_ = take(numbers::hex(o_.offset, "--offset"), why);
    if (!o_.bytes.isEmpty())
        count_ = take(numbers::count(o_.bytes, "--bytes"), why);
    burst_ = o_.burst.isEmpty() ? 128 : take(numbers::count(o_.burst, "--burst"), why);
    eraseLimitMs_ = BpiStateObj::EraseLimitMs;
    if (!o_.eraseLimit.isEmpty())
        eraseLimitMs_ = int(std::min<std::int64_t>(
            INT32_MAX, 1000 * take(numbers::count(o_.eraseLimit, "--erase-limit"), why)));
    timing_ = {};
    if (!o_.timerMs.isEmpty())
        timing_.ackIntervalMs = int(take(numbers::count(o_.timerMs, "--timer-ms"), why));
    if (!o_.timeoutLimit.isEmpty())
        timing_.timeoutLimit = int(take(numbers::count(o_.timeoutLimit, "--timeout-limit"), why));
    if (!o_.pollLimit.isEmpty())
        timing_.pollLimit = int(std::min<std::int64_t>(
            INT32_MAX, take(numbers::count(o_.pollLimit, "--poll-limit"), why)));
    if (!why.isEmpty())
        return why;
    if (eraseLimitMs_ <= 0)
        return "--erase-limit must be at least 1 second";
    if (const QString t = requestcheck::timing(timing_); !t.isEmpty())
        return t;
    return {};
}

// The operation's request, from its own arguments alone: nothing is inherited from the
// operation before it.
OperationRequest CliRunner::request(OperationRequest::Kind kind, const QString& path) const {
    OperationRequest r;
    r.kind = kind;
    r.path = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    r.offset = offset_;
    r.count = count_.value_or(0);
    r.burst = int(std::min<std::int64_t>(burst_, INT32_MAX));
    r.timing = timing_;
    r.eraseLimitMs = eraseLimitMs_;
    return r;
}

// A data file's request, made before anything is sent: its count is --bytes, else what the
// image puts into flash (an SPI read without --bytes reads to the end of the chip).
std::optional<OperationRequest> CliRunner::transfer(OperationRequest::Kind kind,
                                                    const QString& given) {
    OperationRequest r = request(kind, given);
    if (r.isRead() && given == FileSlot::StandardOutput)
        r.path = given;
    if (!count_ && !r.isRead())
        r.count = flashImageLength(r.path);
    // A file an earlier read of the chain writes has its length only once that read ran.
    const bool later = checking_ && readInChain_.contains(r.path);
    if (r.count == 0 && kind != OperationRequest::Kind::SpiRead && !later) {
        usage("nothing to transfer: give --bytes N");
        return std::nullopt;
    }
    bytes_ = r.count;
    return r;
}

// Presses go: the progress line counts the request's bytes.
int CliRunner::launch(const OperationRequest& r) {
    echo_->begin(bytes_, lineBytesPerSecond(port_->settings()));
    // The overwrite question names the file the window's file field would hold.
    if (r.isRead() && r.path != FileSlot::StandardOutput)
        (r.kind == OperationRequest::Kind::SpiRead ? model_->ui.txtSpiFile : model_->ui.txtBpiFile)
            .setText(r.path);
    return press([&] { model_->launches.launch(r); });
}

// Every port of the list with what it says of itself, marking those where a board answers
// and those that could not be opened.
int CliRunner::ports() {
    if (o_.words.size() != 1)
        return usage("ports takes no file");
    prompter_.quietPortScan = true;
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
    // No port is an answer, not a failure.
    if (paths.isEmpty())
        out(o_.all ? "No serial ports."
                   : "No USB serial ports (ttyACM*, ttyUSB*) and none in ZBPU_PORTS; --all lists "
                     "every serial port.");
    return Success;
}

// The names an SPI operation takes, from the data folders.
int CliRunner::devices() {
    if (o_.words.size() != 1)
        return usage("devices takes no argument");
    const QStringList files =
        DataFolders::forProgram(QCoreApplication::applicationDirPath()).descriptionFiles();
    for (const QString& file : files)
        out(QFileInfo(file).completeBaseName());
    return Success;
}

// Every port where a board answers; none is a failure.
int CliRunner::detect() {
    if (o_.words.size() != 1)
        return usage("detect takes no file");
    prompter_.quietPortScan = true;
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
    if (const QString why = readProblem(o_.words[1]); !why.isEmpty())
        return refuse(why);
    if (!connect())
        return Failure;
    model_->ui.mnuFPGA.click();
    const OperationRequest r = request(OperationRequest::Kind::FpgaConfigure, o_.words[1]);
    try {
        const BitfileInfo info = readBitfileHeader(r.path);
        device_ = info.device;
        bytes_ = info.length.toLongLong();
    } catch (const RuntimeError&) {
        bytes_ = QFileInfo(r.path).size();
    }
    return launch(r);
}

int CliRunner::spi() {
    const QStringList& w = o_.words;
    if (w.size() == 2 && w[1] == "detect")
        return spiDetect();
    const QStringList ops = {"id", "erase", "program", "read", "verify", "flash"};
    if (w.size() < 3 || !ops.contains(w[2]))
        return usage("spi detect, or spi DEVICE id|erase|program|read|verify|flash [FILE]");
    // An erase with a range erases the sectors it touches; without, the whole chip.
    const bool ranged = w[2] == "erase" && (count_ || offset_ != 0);
    if (ranged && o_.bytes.isEmpty())
        return usage("an erase from an offset needs --bytes N");
    const bool data = ops.indexOf(w[2]) >= 2;
    if (w.size() != (data ? 4 : 3))
        return usage("spi " + w[2] + (data ? " takes one file" : " takes no file"));
    if (const QString why = data ? fileProblem(w[2] == "read", w[3]) : QString(); !why.isEmpty())
        return refuse(why);
    using Kind = OperationRequest::Kind;
    const Kind kinds[] = {Kind::SpiIdCheck, Kind::SpiBulkErase, Kind::SpiProgram,
                          Kind::SpiRead,    Kind::SpiVerify,    Kind::SpiFlash};
    const Kind kind = ranged ? Kind::SpiSectorErase : kinds[ops.indexOf(w[2])];
    std::optional<OperationRequest> r = data ? transfer(kind, w[3]) : request(kind, {});
    if (!r)
        return Usage;
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
        return refuse("no description file " + w[1] + ".sfh; the devices are " +
                      devices.join(", "));
    r->device = devices[device];
    device_ = r->device;
    // A read without --bytes reads to the end of the chip: the progress line counts to the end
    // of the chip the description gives.
    if (kind == Kind::SpiRead && r->count == 0) {
        SpiDescription d;
        try {
            loadSpiDeviceFile(model_->session.dataFolders.pathFor(r->device + ".sfh"), d);
        } catch (const RuntimeError&) {
        }
        bytes_ = std::max<qint64>(0, d.BPRD - r->offset);
    }
    return launch(*r);
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
    device_ = model_->spi.detectedDevices().join(", ");
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
    if (const QString why = data ? fileProblem(w[1] == "read", w[2]) : QString(); !why.isEmpty())
        return refuse(why);
    using Kind = OperationRequest::Kind;
    const Kind kinds[] = {Kind::BpiIdCheck, Kind::BpiIdCheck, Kind::BpiErase,
                          Kind::BpiProgram, Kind::BpiRead,    Kind::BpiVerify};
    const Kind kind = kinds[ops.indexOf(w[1])];
    std::optional<OperationRequest> r = data ? transfer(kind, w[2]) : request(kind, {});
    if (!r)
        return Usage;
    if (!connect())
        return Failure;
    auto& ui = model_->ui;
    ui.mnuBPI.click();
    if (!model_->session.BpiServerRunning) {
        err("zbpu-cli: the BPI server does not run; load it first (bpi load)");
        return Failure;
    }
    // The identification check succeeds only once the server's line is in.
    const int verdict = launch(*r);
    // The server says nothing when a program succeeds; an operator wants to read that it did.
    if (verdict == Success && kind == Kind::BpiProgram) {
        message_ = QString("BPI programming successful: %1 bytes at 0x%2")
                       .arg(r->count)
                       .arg(QString::number(r->offset, 16).toUpper());
        out(message_);
    }
    return verdict;
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
            return refuse("no server bitstream " + w[2] + ".bit");
        ui.cbBpi.setSelectedIndex(at);
    }
    if (const int verdict = press(ui.btnLoad); verdict != Success)
        return verdict;
    return model_->session.BpiServerRunning ? Success : Failure;
}
