#pragma once

#include <QByteArray>

// The stand-in for the BPI server bitstream that ships beside the program: a Spartan-3E .bit
// file whose configuration data carries the server marker the simulated FPGA looks for.
QByteArray serverBitFile();
