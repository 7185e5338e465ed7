#pragma once

#include "engine/OperationRequest.h"

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
    bool pipeline = false;
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

// The operation's name without its files and device: "spi program", "bpi load", "fpga".
QString operationName(const QStringList& words);

// An operation's numbers, read from its options the one way, before anything is sent.
struct CliNumbers {
    std::int64_t offset = 0, burst = 128;
    std::optional<std::int64_t> count; // none: the file's length, or to the end of the chip
    int eraseLimitMs = 0;
    OperationRequest::Timing timing;

    // Why the options' numbers cannot be taken; empty when they all can.
    QString read(const CliOptions& options);
};

// What follows a usage error, as other tools say it.
inline const char* CliTryHelp = "Try 'zbpu-cli --help' for more information.";

// The whole --help: the man page is made from it, so it says everything a user needs.
inline const char* CliUsage =
    "Usage: zbpu-cli [OPTION]... COMMAND [ARGUMENT]... [+ COMMAND [ARGUMENT]...]...\n"
    "Configure the FPGA and program the SPI and parallel flash of a Zelto evaluation board\n"
    "through its board controller's serial port.\n"
    "\n"
    "Commands:\n"
    "  bitinfo FILE        the part a bitstream is for and its length\n"
    "  sfh FILE            what a flash description file gives, in hexadecimal\n"
    "  devices             the flash devices: the description files of the data folders\n"
    "  ports [--all]       the serial ports, marking those where a board answers\n"
    "  detect              the ports where a board answers (exit 1: none)\n"
    "  connect             the controller's firmware and whether the BPI server runs\n"
    "  fpga FILE           configure the FPGA from a bitstream\n"
    "  spi detect          find the SPI flash by its identification\n"
    "  spi DEVICE id       identify the SPI flash\n"
    "  spi DEVICE erase [--offset HEX --bytes N]\n"
    "                      erase the SPI flash whole, or the sectors a range touches\n"
    "  spi DEVICE program|read|verify|flash FILE [--offset HEX] [--bytes N]\n"
    "                      move FILE to, from or against the SPI flash; flash erases the\n"
    "                      sectors FILE covers (keeping their other bytes), programs and\n"
    "                      verifies; read without --bytes reads to the end of the chip\n"
    "  bpi load [SERVER] [--custom]\n"
    "                      load the BPI server bitstream into the FPGA\n"
    "  bpi id|erase [--erase-limit SECONDS]\n"
    "                      identify or erase the parallel flash\n"
    "  bpi program|read|verify FILE [--offset HEX] [--bytes N] [--burst N]\n"
    "                      move FILE to, from or against the parallel flash\n"
    "  COMMAND + COMMAND   several operations in order on one connection; the first that\n"
    "                      fails ends the run with its status\n"
    "  help                this text\n"
    "\n"
    "Options:\n"
    "  --port PORT         the serial port: a path, a number, a name such as ttyACM0 or a USB\n"
    "                      serial number (default: the first where a board answers)\n"
    "  --yes               answer Yes to the program's questions (without it they are asked\n"
    "                      on a terminal, and answered No otherwise)\n"
    "  --json              one JSON object per operation on standard output (operation,\n"
    "                      device, port, result, message, bytes, seconds); result is\n"
    "                      succeeded, failed, refused or abandoned\n"
    "  --paced             wait for the acknowledgement timer after each step\n"
    "  --pipeline          send SPI steps together and keep reads in flight\n"
    "  --no-board-check    skip the controller's version check\n"
    "  --timer-ms N        the acknowledgement timer's interval (debug panel)\n"
    "  --timeout-limit N   ticks without an acknowledgement before the link is lost\n"
    "  --poll-limit N      status polls before a flash is given up as busy\n"
    "  -h, --help          this text, then exit\n"
    "  --version           the version, then exit\n"
    "\n"
    "Numbers:\n"
    "  DEVICE is the name of a description file (DEVICE.sfh), in any case. HEX is\n"
    "  hexadecimal and may start with 0x; N is decimal, or hexadecimal after 0x; no sign,\n"
    "  fraction or other prefix, nor a value above 0xFFFFFFFF. --option=value is\n"
    "  --option value. Every number and range is checked before anything is sent: a range\n"
    "  past the chip, or past what its address bytes reach, is refused.\n"
    "\n"
    "Image formats:\n"
    "  FILE to program, verify or flash may be raw bytes, Intel HEX (.hex, .mcs, recognised\n"
    "  by its text) or a bitstream (.bit, the data after its header). A read writes raw\n"
    "  bytes and replaces FILE only once the whole read has succeeded; FILE - writes them to\n"
    "  standard output (everything else then goes to standard error). Program reads back\n"
    "  what it wrote, and read and verify go over their range twice: a byte garbled on the\n"
    "  line fails the operation instead of passing unseen.\n"
    "\n"
    "Exit status:\n"
    "  0    success\n"
    "  1    failure: the board, the line or a file failed the operation\n"
    "  2    refused or usage: a wrong word or number, a range the chip cannot take, a\n"
    "       question answered No; the operation changed nothing\n"
    "  130  interrupted: Ctrl-C or SIGTERM ends an operation cleanly and releases the\n"
    "       board, first finishing with filler a transfer under way (its time left goes\n"
    "       to standard error); a second one leaves at once, and the next run on that\n"
    "       port names the unfinished transfer and offers to finish it (--yes)\n"
    "\n"
    "Environment:\n"
    "  ZBPU_PORTS          colon-separated device paths that stand for the serial ports 1,\n"
    "                      2, ...; without it the USB serial ports (ttyACM*, ttyUSB*) are\n"
    "                      used\n"
    "\n"
    "Files:\n"
    "  Description files (*.sfh), the BPI server bitstream (bpi_server_v036.bit) and the\n"
    "  skins are looked for in the program's folder, then in the installed data folder\n"
    "  (share/zbpu beside the program's bin folder: /usr/share/zbpu for /usr/bin/zbpu-cli),\n"
    "  then in ~/.local/share/zbpu, where a user adds description files of their own. A name\n"
    "  found in several folders is taken from the first. Transfers a run had to leave\n"
    "  unfinished are remembered by port in ~/.config/Zelto/zbpu-ports.ini.\n";
