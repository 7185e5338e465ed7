// The commands of the command line: each checks its own words, then inspects a file, lists
// the ports or launches its operation on the panel model.
#include "cli/CliRunner.h"

#include "cli/CliPorts.h"
#include "cli/SystemWords.h"

#include "engine/FlashImage.h"
#include "engine/RuntimeError.h"
#include "fpga/BitfileHeader.h"
#include "spi/DeviceCatalog.h"
#include "spi/SpiDeviceFile.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

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

} // namespace

int CliRunner::runOperation() {
    const QString cmd = o_.words[0];
    if (const QString why = numbers_.read(o_); !why.isEmpty())
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
    for (const QString& line : portLines(dir, settings.answered(), settings.failures()))
        out(line);
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
        out(detectedPortLine(info));
    }
    message_ = "a board answers on " + found.join(", ");
    if (answered.isEmpty()) {
        const QStringList names = portNames(dir);
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
    const bool ranged = w[2] == "erase" && (numbers_.count || numbers_.offset != 0);
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
