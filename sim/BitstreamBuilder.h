#pragma once

#include <QByteArray>
#include <QString>

// Generates configuration files for tests: raw payloads shaped like the vendor's (padding,
// sync word, packets, frame data, start-up commands, NOOPs) and .bit files around them.

enum class SyncWord {
    Word32, // AA995566 and 32-bit packets (Spartan-3/3E, Virtex, 7-series)
    Half16, // AA99 and 16-bit packets (Spartan-3A)
    None,   // no sync word at all: the device never starts configuring
};

struct PayloadOptions {
    qint64 size = 4096; // total bytes; rounded up to a multiple of 4, at least the minimum
    int padding = 16;   // FF bytes before the sync word (grows to round the size)
    bool busWidthPattern = false; // 7-series bus-width detection words before the sync word
    SyncWord sync = SyncWord::Word32;
    bool serverMarker = false; // the user-access value that marks the BPI server design
    quint32 idcode = 0;        // the part the stream is for; 0: no IDCODE packet
    quint64 seed = 1;          // frame data content
};

struct BitFileOptions {
    QString designName = "top.ncd;UserID=0xFFFFFFFF";
    QString partName = "3s200pq208";
    QString date = "2024/03/12";
    QString time = "14:05:33";
};

QByteArray buildConfigPayload(const PayloadOptions& options = {});
QByteArray buildBitFile(const QByteArray& payload, const BitFileOptions& options = {});
