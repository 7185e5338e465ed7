// Running the command line: the chain checked, the panel model booted and connected once, each
// operation launched and pressed to its end and reported.
#include "cli/CliRunner.h"

#include "cli/CliPorts.h"
#include "cli/Interrupts.h"
#include "cli/SystemWords.h"
#include "cli/Terminal.h"

#include "engine/FlashImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <cstdio>

namespace {
// Thrown where a checked operation would first touch the board.
struct CheckedOnly {};

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

// The ports of the run, once for the whole run.
bool CliRunner::choosePorts() {
    QString why;
    std::optional<CliPortChoice> choice = ::choosePorts(o_, why);
    if (!choice) {
        usage(why);
        return false;
    }
    ports_ = choice->ports;
    portNumber_ = choice->portNumber;
    return true;
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
    CliRecord r;
    r.words = o_.words;
    r.code = code;
    r.seconds = seconds;
    r.outcome = model_ ? model_->session.outcome : Outcome{};
    r.declined = prompter_.declined;
    r.message = message_;
    if (prompter_.texts.size() > boxesBefore_)
        r.lastBox = prompter_.texts.last();
    r.named = device_;
    if (model_) {
        const auto& ui = model_->ui;
        r.flashDevices = ui.cbFlash.items();
        if (ui.cbFlash.selectedIndex() >= 0)
            r.selectedFlash = ui.cbFlash.selectedItem();
        if (ui.cbBpi.selectedIndex() >= 0)
            r.selectedServer = ui.cbBpi.selectedItem();
    }
    if (echo_) {
        r.lastLine = echo_->lastLine();
        r.percentSeen = echo_->percentSeen();
    }
    if (port_)
        r.port = port_->portName();
    r.bytes = bytes_;
    printCliRecord(r);
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

// The operation's request, from its own arguments alone: nothing is inherited from the
// operation before it.
OperationRequest CliRunner::request(OperationRequest::Kind kind, const QString& path) const {
    OperationRequest r;
    r.kind = kind;
    r.path = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    r.offset = numbers_.offset;
    r.count = numbers_.count.value_or(0);
    r.burst = int(std::min<std::int64_t>(numbers_.burst, INT32_MAX));
    r.timing = numbers_.timing;
    r.eraseLimitMs = numbers_.eraseLimitMs;
    return r;
}

// A data file's request, made before anything is sent: its count is --bytes, else what the
// image puts into flash (an SPI read without --bytes reads to the end of the chip).
std::optional<OperationRequest> CliRunner::transfer(OperationRequest::Kind kind,
                                                    const QString& given) {
    OperationRequest r = request(kind, given);
    if (r.isRead() && given == FileSlot::StandardOutput)
        r.path = given;
    if (!numbers_.count && !r.isRead())
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
