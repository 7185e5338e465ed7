#include "BoardSimOptions.h"

#include "sim/SpiChipTable.h"

#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>

namespace {

// One line and where help is, as other tools say it.
[[noreturn]] void fail(const QCommandLineParser&, const QString& message) {
    std::fprintf(stderr, "zbpu-boardsim: %s\nTry 'zbpu-boardsim --help' for more information.\n",
                 qPrintable(message));
    std::exit(2);
}

qint64 integer(const QCommandLineParser& parser, const QString& name, qint64 fallback) {
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < 0)
        fail(parser, "--" + name + " needs a whole number of at least 0");
    return value;
}

double real(const QCommandLineParser& parser, const QString& name, double fallback) {
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0)
        fail(parser, "--" + name + " needs a number of at least 0");
    return value;
}

QString chipNames() {
    QStringList names;
    for (const SpiChipSpec& chip : spiChipTable())
        names << chip.name;
    return names.join(", ");
}

void addOption(QCommandLineParser& parser, const QString& name, const QString& help,
               const QString& value) {
    parser.addOption(QCommandLineOption(name, help, value));
}

void addFlag(QCommandLineParser& parser, const QStringList& names, const QString& help) {
    parser.addOption(QCommandLineOption(names, help));
}

// The board fitted and how its line behaves.
void addBoardOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "Simulated evaluation board on a pseudo-terminal. Prints the terminal's path as its "
        "first line, then serves until interrupted.");
    parser.addHelpOption();
    // Not addVersionOption(): its -v is --verbose here.
    parser.addOption(QCommandLineOption("version", "Displays version information."));
    addOption(parser, "chip", "SPI flash fitted (" + chipNames() + "); default M25P16.", "NAME");
    addOption(parser, "spi-image",
              "SPI flash contents: loaded at start when it exists, saved at exit.", "FILE");
    addOption(parser, "bpi-image",
              "Parallel flash contents: loaded at start when it exists, saved at exit.", "FILE");
    addOption(parser, "link", "Also make a symbolic link PATH to the terminal.", "PATH");
    addOption(parser, "baud",
              "Pace both directions at this line rate (8N1); 0 = unpaced (default).", "N");
    addFlag(parser, {"v", "verbose"}, "Log every controller and server command to stderr.");
    addOption(parser, "time-scale", "Flash busy times relative to the datasheet (default 1).", "X");
    addOption(parser, "latency", "Firmware time before each reply, in microseconds (default 200).",
              "US");
    addOption(parser, "usb-frame-us",
              "Replies reach the host at USB frames this long apart (default 1000; 0: straight "
              "from the line).",
              "US");
    addOption(parser, "latency-timer-us",
              "The USB bridge holds a packet that is not full this long (default 0; FTDI parts "
              "ship with 16000).",
              "US");
    addOption(parser, "rx-buffer",
              "The controller's receive buffer holds N bytes while it works on a command; more are "
              "lost (default 128; 0: no limit).",
              "N");
}

// The faults it can be made to show.
void addFaultOptions(QCommandLineParser& parser) {
    addOption(parser, "host-loss", "Lose each byte from the host with this probability.", "RATE");
    addOption(parser, "host-garble", "Garble each byte from the host with this probability.",
              "RATE");
    addFlag(parser, {"max-busy"},
            "Flash busy times at the datasheet's maximum instead of typical.");
    addFlag(parser, {"server-running"}, "Start with the BPI server bitstream loaded and running.");
    addOption(parser, "seed", "Seed of the fault generator (default 1).", "N");
    addOption(parser, "drop-acks", "Leave out each acknowledgement with this probability.", "RATE");
    addOption(parser, "delay-acks", "Send each acknowledgement this much later.", "US");
    addOption(parser, "late-ack-us",
              "Send the acknowledgement that closes each SPI transaction this much later.", "US");
    addOption(parser, "jitter-us",
              "Deliver replies in pieces with pauses of up to this long between them.", "US");
    addOption(
        parser, "stall-timeout-us",
        "The controller drops a download or transaction stalled this long (default: never, as "
        "the firmware promises nothing).",
        "US");
    addOption(parser, "garbage",
              "Insert a random byte before each byte sent with this probability.", "RATE");
    addOption(parser, "firmware", "Version text get_ver answers with (default 1.1.0).", "VERSION");
    addFlag(parser, {"silent"}, "The controller never answers.");
    addOption(parser, "silent-after", "The controller stops answering after N commands.", "N");
    addFlag(parser, {"stuck-busy"}, "The SPI flash stays busy once a write cycle has started.");
    addFlag(parser, {"stuck-busy-program"},
            "The SPI flash stays busy once a page program has started.");
    addFlag(parser, {"init-stuck-low"}, "The FPGA's INIT pin is held low.");
    addOption(parser, "init-clear-us",
              "The FPGA clears its memory this long after PROG, INIT low meanwhile (default 1000).",
              "US");
    addFlag(parser, {"wp-locked"},
            "The SPI flash's status register lock bit is set and WP# held low.");
    addOption(parser, "spi-miso", "No SPI flash answers: MISO floats high or is held low.",
              "floating|low");
    addOption(parser, "close-after", "The link closes after N bytes from the host.", "N");
    addOption(parser, "server-silent-after", "The BPI server hangs after N bytes sent to it.", "N");
}

// --help, --version and stray arguments end the program here.
void handleInformation(QCommandLineParser& parser, const QStringList& arguments) {
    if (!parser.parse(arguments))
        fail(parser, parser.errorText());
    if (parser.isSet("help-all"))
        parser.process(arguments);
    if (parser.isSet("help")) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::exit(0);
    }
    if (parser.isSet("version")) {
        std::printf("zbpu-boardsim %s\n", ZBPU_VERSION);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        fail(parser, "unexpected argument " + parser.positionalArguments().first());
}

void readFaults(const QCommandLineParser& parser, BoardConfig& b) {
    b.maxBusyTimes = parser.isSet("max-busy");
    b.serverRunning = parser.isSet("server-running");
    b.seed = quint64(integer(parser, "seed", 1));
    b.dropAckRate = real(parser, "drop-acks", 0.0);
    b.ackDelayUs = integer(parser, "delay-acks", 0);
    b.garbageRate = real(parser, "garbage", 0.0);
    b.lateAckUs = integer(parser, "late-ack-us", 0);
    b.jitterUs = integer(parser, "jitter-us", 0);
    b.rawTimeoutUs = integer(parser, "stall-timeout-us", 0);
    if (parser.isSet("firmware"))
        b.firmwareVersion = parser.value("firmware");
    b.silent = parser.isSet("silent");
    b.silentAfterCommands = int(integer(parser, "silent-after", -1));
    b.spiStuckBusy = parser.isSet("stuck-busy")           ? StuckBusy::EveryCycle
                     : parser.isSet("stuck-busy-program") ? StuckBusy::ProgramOnly
                                                          : StuckBusy::Never;
    b.initStuckLow = parser.isSet("init-stuck-low");
    b.initClearUs = integer(parser, "init-clear-us", b.initClearUs);
    b.wpLocked = parser.isSet("wp-locked");
    if (parser.isSet("spi-miso")) {
        const QString miso = parser.value("spi-miso");
        if (miso != "floating" && miso != "low")
            fail(parser, "--spi-miso takes floating or low");
        b.spiMiso = miso == "low" ? BoardConfig::Miso::Low : BoardConfig::Miso::Floating;
    }
    b.closeAfterBytes = integer(parser, "close-after", -1);
    b.serverSilentAfterBytes = integer(parser, "server-silent-after", -1);
}

} // namespace

BoardSimOptions parseBoardSimOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    addBoardOptions(parser);
    addFaultOptions(parser);
    handleInformation(parser, arguments);
    BoardSimOptions o;
    BoardConfig& b = o.board;
    if (parser.isSet("chip")) {
        const SpiChipSpec* chip = findSpiChip(parser.value("chip"));
        if (!chip)
            fail(parser, "unknown chip " + parser.value("chip") + "; known: " + chipNames());
        b.spiChip = chip->name;
    }
    o.spiImage = parser.value("spi-image");
    o.bpiImage = parser.value("bpi-image");
    o.link = parser.value("link");
    o.verbose = parser.isSet("verbose");
    b.baud = int(integer(parser, "baud", 0));
    b.timeScale = real(parser, "time-scale", 1.0);
    b.replyLatencyUs = integer(parser, "latency", 200);
    b.usbFrameUs = integer(parser, "usb-frame-us", b.usbFrameUs);
    b.latencyTimerUs = integer(parser, "latency-timer-us", 0);
    b.rxBufferBytes = int(integer(parser, "rx-buffer", b.rxBufferBytes));
    b.hostLossRate = real(parser, "host-loss", 0.0);
    b.hostGarbleRate = real(parser, "host-garble", 0.0);
    readFaults(parser, b);
    return o;
}
