#pragma once

#include "cli/CliOptions.h"
#include "link/PortDirectory.h"

#include <QList>
#include <QStringList>
#include <optional>
#include <utility>

// The ports of a run: the list to look on, and a port chosen by its number (0: none).
struct CliPortChoice {
    PortDirectory ports;
    int portNumber = 0;
};

// A port is named by its path, system name or USB serial number, else by its number; nullopt
// with the reason in why when --port names none.
std::optional<CliPortChoice> choosePorts(const CliOptions& options, QString& why);

// The system names of the ports of the list, in order.
QStringList portNames(const PortDirectory& dir);

// One line per port with what it says of itself, marking those where a board answers and
// those that could not be opened.
QStringList portLines(const PortDirectory& dir, const QList<int>& answered,
                      const QList<std::pair<int, QString>>& failures);

// A port where a board answers: its name, path and details.
QString detectedPortLine(const PortInfo& info);
