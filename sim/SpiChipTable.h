#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One SPI NOR part as its datasheet describes it. The simulated board keeps its own table so
// that a wrong description file shows up as a wrong ID, as it would on a real board.
struct SpiChipSpec {
    QString name;       // "M25P16"
    QByteArray id;      // the JEDEC ID bytes a tool compares, e.g. 20 20 15
    QByteArray idTail;  // extra RDID bytes real parts append after them (may be empty)
    int pageSize;       // 256
    qint64 size;        // bytes
    int addressBytes;   // 3
    quint8 protectMask; // block-protect bits of the status register (0x1C, 0x3C, 0x7C ...)
    double pageProgramTypUs, pageProgramMaxUs;
    double bulkEraseTypMs, bulkEraseMaxMs;
    double statusWriteMs;        // WRSR cycle time
    QByteArray bulkEraseOpcodes; // C7 and, where accepted, 60
    bool powerUpProtected;       // comes out of power-up with protection set (option)
    qint64 sectorSize;           // unit of the D8 erase
    double sectorEraseTypMs;     // D8
    qint64 smallSectorSize;      // unit of the 20 erase, 0 where the part has none
    double smallSectorEraseTypMs;
};

const QList<SpiChipSpec>& spiChipTable();
const SpiChipSpec* findSpiChip(const QString& name); // case-insensitive, nullptr if unknown
