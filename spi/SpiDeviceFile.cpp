#include "spi/SpiDeviceFile.h"

#include "engine/Conversions.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <array>
#include <utility>

namespace {

using ByteField = std::int16_t SpiDescription::*;
using LongField = std::int32_t SpiDescription::*;

// Tested before NIDB and IDM; the others after, because those are still recognised on the line
// that an IDM line consumes.
const std::array<std::pair<const char*, ByteField>, 15> leadingByteKeys{{
    {"WREN", &SpiDescription::WREN},
    {"WESR", &SpiDescription::WESR},
    {"WRDI", &SpiDescription::WRDI},
    {"WDSR", &SpiDescription::WDSR},
    {"RDID", &SpiDescription::RDID},
    {"RDSR", &SpiDescription::RDSR},
    {"WRSR", &SpiDescription::WRSR},
    {"READ", &SpiDescription::READ},
    {"PGPM", &SpiDescription::PGPM},
    {"BLKE", &SpiDescription::BLKE},
    {"ESTM", &SpiDescription::ESTM},
    {"ESST", &SpiDescription::ESST},
    {"PSTM", &SpiDescription::PSTM},
    {"PSST", &SpiDescription::PSST},
    {"UABL", &SpiDescription::UABL},
}};

const std::array<std::pair<const char*, LongField>, 4> longKeys{{
    {"MBPP", &SpiDescription::MBPP},
    {"BPRD", &SpiDescription::BPRD},
    {"SECS", &SpiDescription::SECS},
    {"PPTY", &SpiDescription::PPTY},
}};

const std::array<std::pair<const char*, ByteField>, 6> trailingByteKeys{{
    {"ABSZ", &SpiDescription::ABSZ},
    {"MEPI", &SpiDescription::MEPI},
    {"MPPI", &SpiDescription::MPPI},
    {"DUMB", &SpiDescription::DUMB},
    {"PRTM", &SpiDescription::PRTM},
    {"SECE", &SpiDescription::SECE},
}};

// Lines end with CR, optionally followed by LF. A lone LF ends a line too, so that a file edited
// on Linux reads the same as one written on Windows.
QList<QByteArray> splitLines(const QByteArray& text) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

std::int32_t hexField(const QByteArray& field) {
    return conv::hexToInt32(QString::fromLatin1(field));
}

// Columns 11 and 12; a shorter line gives its last two characters, so "WREN=06" works.
std::int16_t byteValue(const QByteArray& line) {
    return std::int16_t(hexField(line.size() < 12 ? line.right(2) : line.mid(10, 2)));
}

// Columns 11 to 22; a shorter line gives its last 12 characters.
std::int32_t longValue(const QByteArray& line) {
    return hexField(line.size() < 22 ? line.right(12) : line.mid(10, 12));
}

RuntimeError subscriptOutOfRange() {
    return RuntimeError(RuntimeError::SubscriptOutOfRange, "Subscript out of range");
}

} // namespace

void readSpiDeviceText(const QByteArray& text, SpiDescription& d) {
    const QList<QByteArray> lines = splitLines(text);
    // Counts over the whole file: a later NIDB line empties the tables but does not restart it.
    qsizetype k = 1;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QByteArray* line = &lines[n];
        for (const auto& [key, field] : leadingByteKeys)
            if (line->startsWith(key))
                d.*field = byteValue(*line);
        if (line->startsWith("NIDB")) {
            d.NIDB = byteValue(*line);
            d.IDM1 = QList<std::int16_t>(d.NIDB + 1, 0);
            d.IDM2 = d.IDM1;
        }
        if (line->startsWith("IDM")) {
            if (k >= d.IDM1.size())
                throw subscriptOutOfRange();
            d.IDM1[k] = byteValue(*line);
            if (n + 1 >= lines.size())
                throw RuntimeError(RuntimeError::InputPastEnd, "Input past end of file");
            line = &lines[++n];
            if (k >= d.IDM2.size())
                throw subscriptOutOfRange();
            d.IDM2[k] = byteValue(*line);
            ++k;
        }
        for (const auto& [key, field] : longKeys)
            if (line->startsWith(key))
                d.*field = longValue(*line);
        for (const auto& [key, field] : trailingByteKeys)
            if (line->startsWith(key))
                d.*field = byteValue(*line);
    }
}

void loadSpiDeviceFile(const QString& path, SpiDescription& d) {
    const QFileInfo info(path);
    if (!info.exists())
        throw RuntimeError(RuntimeError::FileNotFound, "File not found");
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        throw RuntimeError(RuntimeError::PathFileAccessError, "Path/File access error");
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw RuntimeError(RuntimeError::PathFileAccessError, "Path/File access error");
    readSpiDeviceText(text, d);
}

QString spiDeviceFailureMessage(const RuntimeError& error) {
    return QStringList{"Error: " + QString::number(error.number()), error.description(), QString(),
                       "This error has most likely been caused by an incorrect .sfh file.",
                       "Please verify the file format."}
        .join("\r\n");
}

QString spiDescriptionOutOfRange(const SpiDescription& d) {
    const struct {
        const char* key;
        std::int64_t value, low, high;
        const char* what;
    } limits[] = {
        {"ABSZ", d.ABSZ, 1, 4, "address bytes"},
        {"NIDB", d.NIDB, 1, 61, "identification bytes"},
        {"MBPP", d.MBPP, 1, 65536, "bytes in a page"},
        {"BPRD", d.BPRD, 1, 0x7FFFFFFF, "bytes in the device"},
        {"SECS", d.SECS, 0, 0x7FFFFFFF, "bytes a sector erase clears"},
        // Datasheets give a few milliseconds at most; more would hold every page that long.
        {"PPTY", d.PPTY, 0, 10000, "microseconds a page takes, typically"},
    };
    for (const auto& l : limits)
        if (l.value < l.low || l.value > l.high)
            return QString("The description gives %1 = %2; it must be %3 to %4 (%5).")
                .arg(l.key)
                .arg(l.value)
                .arg(l.low)
                .arg(l.high)
                .arg(l.what);
    // Addresses past what the address bytes can say would wrap to the start of the chip.
    const std::int64_t reach = std::int64_t(1) << (8 * d.ABSZ);
    if (d.BPRD > reach)
        return QString("The description gives BPRD = %1 with ABSZ = %2: %2 address bytes reach "
                       "%3 bytes at most. A larger part needs ABSZ = 4 and its 4-byte commands.")
            .arg(d.BPRD)
            .arg(d.ABSZ)
            .arg(reach);
    return {};
}
