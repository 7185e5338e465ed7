#pragma once

#include <QByteArray>
#include <QString>

// What the operator is shown about a bitstream file before configuring: its length in decimal
// digits and the part name found in its first 64 bytes.
struct BitfileInfo {
    QString length;
    QString device;
};

// The part name in a file's first bytes (only the first 64 count): the text from the first "3s",
// else "4v", else "5v", up to the next NUL; empty when no NUL follows within the 64 bytes;
// "Not recognized" when none of the codes occurs.
QString deviceFromHeader(const QByteArray& first64);

// Throws RuntimeError 53 when the file does not exist, 75 when it cannot be read.
BitfileInfo readBitfileHeader(const QString& path);
