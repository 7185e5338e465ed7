#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The command line, parsed: global options, the subcommand and its arguments.
struct CliOptions {
    QString port; // a device path or a port number
    bool noBoardCheck = false;
    bool yes = false;
    bool paced = false;
    QString timerMs, timeoutLimit, pollLimit;
    QString offset = "0";
    QString bytes; // empty: the file's length
    QString burst;
    QString eraseLimit; // seconds a parallel flash chip erase is waited for
    bool custom = false;
    QStringList words; // subcommand and its arguments

    // nullopt with a message in error when the words are off.
    static std::optional<CliOptions> parse(const QStringList& args, QString& error);
};

inline const char* CliUsage =
    "usage:\n"
    "  zbpu-cli bitinfo FILE\n"
    "  zbpu-cli sfh FILE\n"
    "  zbpu-cli [options] detect\n"
    "  zbpu-cli [options] connect\n"
    "  zbpu-cli [options] fpga FILE\n"
    "  zbpu-cli [options] spi DEVICE id|erase\n"
    "  zbpu-cli [options] spi DEVICE program|read|verify FILE [--offset HEX] [--bytes N]\n"
    "  zbpu-cli [options] bpi load [SERVER] [--custom]\n"
    "  zbpu-cli [options] bpi id|erase [--erase-limit SECONDS]\n"
    "  zbpu-cli [options] bpi program|read|verify FILE [--offset HEX] [--bytes N] [--burst N]\n"
    "options: --port PATH|N  --no-board-check  --yes  --timer-ms N  --timeout-limit N\n"
    "         --poll-limit N  --paced\n";
