#pragma once

#include "engine/RuntimeError.h"
#include "spi/SpiDescription.h"

#include <QByteArray>
#include <QString>

// Reads a flash description (.sfh) text into d. Nothing is reset first: keys the text lacks keep
// their values, and fields set before a failure keep their new ones. Throws RuntimeError on the
// first failure: 13 not hexadecimal, 6 too large, 9 an IDM line without its table entry, 62 an
// IDM line with no line after it.
void readSpiDeviceText(const QByteArray& text, SpiDescription& d);

// Reads the file at path into d as readSpiDeviceText does; 53 when it does not exist, 75 when it
// cannot be read.
void loadSpiDeviceFile(const QString& path, SpiDescription& d);

// The five lines shown when a description file could not be read, joined with CR LF.
QString spiDeviceFailureMessage(const RuntimeError& error);
// Why the values cannot drive the sequence (a transaction would pass the controller's 64 bytes,
// an address would not fit its field), or empty when they can.
QString spiDescriptionOutOfRange(const SpiDescription& d);
