#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// One operation of the command line, parsed: the global options (the same in every operation
// of a run), the operation's own options, and its words (the subcommand and its arguments).
struct CliOptions {
    // Global.
    QString port; // a device path, a port number, a system name or a USB serial number
    bool noBoardCheck = false;
    bool yes = false;
    bool paced = false;
    bool json = false;
    QString timerMs, timeoutLimit, pollLimit;
    // The operation's own.
    QString offset; // empty: 0
    QString bytes;  // empty: the file's length
    QString burst;
    QString eraseLimit; // seconds a parallel flash chip erase is waited for
    bool custom = false;
    bool all = false; // every serial port, not only the USB ones
    bool help = false, version = false;
    QStringList words; // subcommand and its arguments

    // nullopt with a message in error when the words are off.
    static std::optional<CliOptions> parse(const QStringList& args, QString& error);
    // The operations joined by "+", in order; a global option given in any holds for all.
    static std::optional<QList<CliOptions>> parseChain(const QStringList& args, QString& error);
};

inline const char* CliUsage =
    "usage:\n"
    "  zbpu-cli bitinfo FILE           the part and length a bitstream is for\n"
    "  zbpu-cli sfh FILE               what a flash description file says\n"
    "  zbpu-cli [options] ports [--all]\n"
    "                                  the serial ports, marking those where a board answers\n"
    "  zbpu-cli [options] detect       the ports where a board answers (exit 1: none)\n"
    "  zbpu-cli [options] connect      the controller's firmware and the BPI server\n"
    "  zbpu-cli [options] fpga FILE    configure the FPGA from a bitstream\n"
    "  zbpu-cli [options] spi detect   find the SPI flash by its identification\n"
    "  zbpu-cli [options] spi DEVICE id|erase [--offset HEX --bytes N]\n"
    "                                  identify the SPI flash, erase it whole, or erase the\n"
    "                                  sectors a range touches\n"
    "  zbpu-cli [options] spi DEVICE program|read|verify|flash FILE [--offset HEX] [--bytes N]\n"
    "                                  move FILE to, from or against the SPI flash; flash erases\n"
    "                                  the sectors FILE covers (keeping their other bytes),\n"
    "                                  programs and verifies; read without --bytes reads to the\n"
    "                                  end of the chip\n"
    "  zbpu-cli [options] bpi load [SERVER] [--custom]\n"
    "                                  load the BPI server bitstream\n"
    "  zbpu-cli [options] bpi id|erase [--erase-limit SECONDS]\n"
    "                                  identify or erase the parallel flash\n"
    "  zbpu-cli [options] bpi program|read|verify FILE [--offset HEX] [--bytes N] [--burst N]\n"
    "                                  move FILE to, from or against the parallel flash\n"
    "  zbpu-cli [options] OPERATION + OPERATION + ...\n"
    "                                  several operations in order on one connection; the\n"
    "                                  first that fails ends the run with its status\n"
    "  zbpu-cli help | --help | -h     this text;  zbpu-cli --version\n"
    "options:\n"
    "  --port PORT         the serial port: a path, a number, a name such as ttyACM0 or a USB\n"
    "                      serial number (default: the first where a board answers)\n"
    "  --yes               answer Yes to the program's questions (without it they are asked\n"
    "                      on a terminal, and answered No otherwise)\n"
    "  --json              one JSON object per operation on standard output (operation,\n"
    "                      device, port, result, message, bytes, seconds)\n"
    "  --paced             wait for the acknowledgement timer after each step\n"
    "  --no-board-check    skip the controller's version check\n"
    "  --timer-ms N  --timeout-limit N  --poll-limit N    the debug panel's timing fields\n"
    "DEVICE is the name of a description file (DEVICE.sfh), in any case; HEX may start with 0x;\n"
    "N is decimal, or hexadecimal after 0x; --option=value is --option value.\n"
    "FILE to program, verify or flash may be raw, Intel HEX (.hex, .mcs) or a bitstream (.bit).\n"
    "FILE - for read writes the data to standard output (everything else to standard error).\n"
    "Ports: USB serial ports (ttyACM*, ttyUSB*) and those in ZBPU_PORTS (colon-separated paths).\n";
