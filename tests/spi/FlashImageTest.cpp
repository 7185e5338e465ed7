#include "engine/FlashImage.h"
#include "support/PanelFixture.h"

#include "sim/BitstreamBuilder.h"

#include <QList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

QByteArray record(quint8 type, quint16 address, const QByteArray& data = {}) {
    return hexRecord(type, address, data, "\n");
}

// Data at a 32-bit address: an extended linear address record, then the data.
QByteArray dataAt(qint64 address, const QByteArray& data) {
    const char high[] = {char(address >> 24), char(address >> 16)};
    return record(4, 0, QByteArray(high, 2)) + record(0, quint16(address), data);
}

const QByteArray End = record(1, 0), Bom = "\xEF\xBB\xBF";

QString beyond(int line, qint64 address, qint64 limit) {
    return QString("Intel HEX line %1: its data at 0x%2 reaches beyond the %3 bytes the target "
                   "holds from the offset")
        .arg(line)
        .arg(QString::number(address, 16).toUpper())
        .arg(limit);
}

// The message a read refuses with; empty when it is taken.
QString refusal(const std::function<void()>& read) {
    try {
        read();
    } catch (const FlashImageError& e) {
        return e.message();
    }
    return {};
}

} // namespace

// Files as FPGA tools write them for flash: Intel HEX (.hex, .mcs) and bitstreams (.bit).
TEST(FlashImage, IntelHexRecordsPutTheirBytesAtTheirAddresses) {
    // The bytes given at an address; those below it are left as the flash holds them.
    const struct {
        const char* what;
        QByteArray text;
        qint64 size, at;
        QByteArray given;
    } cases[] = {
        {"extended segment address", ":020000021000EC\n:01000000AB54\n:00000001FF\n", 0x10001,
         0x10000, "\xAB"},
        {"start addresses are ignored",
         ":0400000500000000F7\n:0400000300000000F9\n:01000000CC33\n" + End, 1, 0, "\xCC"},
        {"blank lines and lower case", "\n:01000000cc33\n\n:00000001ff\n\n", 1, 0, "\xCC"},
        {"nothing after the end record is read", End + ":01000000CC33\n", 0, 0, ""},
        {"a byte-order mark and blanks before", Bom + " \r\n" + record(0, 2, "\xCC") + End, 3, 2,
         "\xCC"},
        {"Ctrl-Z and blank lines after the end record", record(0, 0, "\xCC") + End + "\n\x1A\n \n",
         1, 0, "\xCC"},
        {"CRLF and Ctrl-Zs on the end record's line",
         record(0, 0, "\xCC").replace("\n", "\r\n") + End.trimmed() + "\x1A\x1A\r\n", 1, 0, "\xCC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(isEncodedImage(c.text));
        const FlashImage image = readFlashImage(c.text);
        EXPECT_EQ(image.size(), c.size);
        EXPECT_EQ(image.bytes(c.at, c.given.size()), c.given);
    }
}

TEST(FlashImage, MalformedFilesAreRefusedWithTheirLine) {
    const QString noEnd("Intel HEX: the file ends without its end record (:00000001FF); it may be "
                        "cut short.");
    const struct {
        QByteArray text;
        QString message;
        qint64 limit = MaxImageBytes;
    } cases[] = {
        {":01000000CC33\n:0100000\n", "Intel HEX line 2: it is not a record of hexadecimal digits"},
        {":020000040001F8\n", "Intel HEX line 1: its checksum is wrong"},
        {":0100000400FB\n", "Intel HEX line 1: an address record must hold 2 bytes"},
        {":020000041000EA\n:01000000CC33\n", beyond(2, 0x10000000, MaxImageBytes)},
        {":01000000CC33\n:01000000DD22\n" + End,
         "Intel HEX line 2: address 0x0 was given before, with another value"},
        // A wild address is refused at its record, before anything its size is allocated.
        {dataAt(0xFFFF0000, "\xCC") + End, beyond(2, 0xFFFF0000, 1 << 24), 1 << 24},
        {record(0, 0, "\xCC"), noEnd},
        {Bom + record(0, 0, "\xCC") + "\x1A", noEnd},
        // Starting like HEX, a file is never taken as raw bytes.
        {record(0, 0, "\xCC") + record(0, 1, "\xDD") + record(0, 2, "\xEE").insert(5, '\0') + End,
         "Intel HEX line 3: it is not a record of hexadecimal digits"},
        {record(0, 0, "\xCC") + "\n\x1A\n" + End, "Intel HEX line 3: it does not start with ':'"},
        {Bom + QByteArray(":0100000000"
                          "\x01"
                          "\n"),
         "Intel HEX line 1: it is not a record of hexadecimal digits"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_TRUE(isEncodedImage(c.text));
        EXPECT_EQ(refusal([&] { readFlashImage(c.text, c.limit); }), c.message);
    }
}

// A record that ends at the limit is taken, one a byte further refused.
TEST(FlashImage, AHexRecordMustEndWithinTheLimit) {
    const QByteArray data(3, '\x5A');
    for (const qint64 limit : {qint64(3), qint64(0x123457)}) {
        EXPECT_EQ(readFlashImage(dataAt(limit - 3, data) + End, limit).bytes(limit - 3, 3), data);
        EXPECT_EQ(refusal([&] { readFlashImage(dataAt(limit - 2, data) + End, limit); }),
                  beyond(2, limit - 2, limit));
    }
}

TEST(FlashImage, AFileIsReadWholeOrRefusedWithTheSystemsWords) {
    QTemporaryDir dir;
    const QString file = writeFile(dir.path(), "image.mcs", Bom + record(0, 1, "\xCC") + End);
    EXPECT_EQ(loadFlashImage(file).bytes(0, 2), "\xFF\xCC");
    EXPECT_EQ(refusal([&] { loadFlashImage(file, 1); }), beyond(1, 1, 1));
    EXPECT_EQ(refusal([&] { loadFlashImage(dir.filePath("none.bit")); }),
              "No such file or directory: " + dir.filePath("none.bit"));
    EXPECT_EQ(refusal([&] { loadFlashImage(dir.path()); }), "Is a directory: " + dir.path());
}

TEST(FlashImage, ABitstreamGivesItsConfigurationDataAndNamesItsDesign) {
    const QByteArray payload = buildConfigPayload({.size = 500});
    const QByteArray bit = buildBitFile(payload);
    const FlashImage image = readFlashImage(bit);
    EXPECT_EQ(image.bytes(0, image.size()), payload);
    EXPECT_THROW(readFlashImage(bit.left(bit.size() - 1)), FlashImageError);
    EXPECT_THROW(readFlashImage(bit.left(20)), FlashImageError);
    // Its length against the target is the caller's to check.
    EXPECT_EQ(readFlashImage(bit, 1).size(), 500);
    // Anything else is raw, byte for byte, whatever the limit.
    // A raw image may start with the byte of ':' (0x3A) without being a record.
    for (const QByteArray& raw :
         {QByteArray("\x3A\x00\x01", 3), QByteArray(":0100\xFF\xFE\x01\x02\x03\x04\x05")}) {
        EXPECT_FALSE(isEncodedImage(raw));
        EXPECT_FALSE(mayBeEncodedImage(raw));
        EXPECT_EQ(readFlashImage(raw, 1).bytes(0, raw.size()), raw);
    }
}
