#include "spi/FlashImage.h"

#include "sim/BitstreamBuilder.h"

#include <QList>
#include <gtest/gtest.h>

// Files as FPGA tools write them for flash: Intel HEX (.hex, .mcs) and bitstreams (.bit).
TEST(FlashImage, IntelHexRecordsPutTheirBytesAtTheirAddresses) {
    const struct {
        const char* what;
        QByteArray text;
        qint64 size;
        QList<QPair<qint64, QByteArray>> given; // address and bytes
        QList<qint64> open;                     // addresses left as the flash holds them
    } cases[] = {
        {"one data record",
         ":0400100001020304E2\r\n:00000001FF\r\n",
         0x14,
         {{0x10, "\x01\x02\x03\x04"}},
         {0, 0xF}},
        {"extended linear address",
         ":020000040001F9\n:02000000AABB99\n:00000001FF\n",
         0x10002,
         {{0x10000, "\xAA\xBB"}},
         {0, 0xFFFF}},
        {"extended segment address",
         ":020000021000EC\n:01000000AB54\n:00000001FF\n",
         0x10001,
         {{0x10000, "\xAB"}},
         {0xFFFF}},
        {"start addresses are ignored",
         ":0400000500000000F7\n:0400000300000000F9\n"
         ":01000000CC33\n",
         1,
         {{0, "\xCC"}},
         {}},
        {"blank lines and lower case", "\n:01000000cc33\n\n", 1, {{0, "\xCC"}}, {}},
        {"nothing after the end record is read", ":00000001FF\n:01000000CC33\n", 0, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(isEncodedImage(c.text));
        const FlashImage image = readFlashImage(c.text);
        EXPECT_EQ(image.format(), FlashImage::Format::IntelHex);
        EXPECT_EQ(image.size(), c.size);
        for (const auto& [at, bytes] : c.given) {
            EXPECT_EQ(image.bytes(at, bytes.size()), bytes);
            EXPECT_EQ(image.firstGiven(0), c.given.first().first);
        }
        for (const qint64 at : c.open)
            EXPECT_FALSE(image.given(at)) << at;
    }
}

TEST(FlashImage, MalformedFilesAreRefusedWithTheirLine) {
    const struct {
        QByteArray text;
        QString message;
    } cases[] = {
        {":01000000CC33\n:0100000\n", "Intel HEX line 2: it is not a record of hexadecimal digits"},
        {":01000000CG33\n", "Intel HEX line 1: it is not a record of hexadecimal digits"},
        {":020000040001F8\n", "Intel HEX line 1: its checksum is wrong"},
        {":0100000400FB\n", "Intel HEX line 1: an address record must hold 2 bytes"},
        {":020000041000EA\n:01000000CC33\n", "Intel HEX line 2: its address lies beyond 256 MiB"},
        {":01000000CC33\n:01000000DD22\n",
         "Intel HEX line 2: address 0x0 was given before, with another value"},
    };
    for (const auto& c : cases) {
        try {
            readFlashImage(c.text);
            ADD_FAILURE() << c.text.constData();
        } catch (const FlashImageError& e) {
            EXPECT_EQ(e.message(), c.message);
        }
    }
}

TEST(FlashImage, ABitstreamGivesItsConfigurationDataAndNamesItsDesign) {
    const QByteArray payload = buildConfigPayload({.size = 500});
    const QByteArray bit = buildBitFile(payload);
    const FlashImage image = readFlashImage(bit);
    EXPECT_EQ(image.format(), FlashImage::Format::Bitstream);
    EXPECT_EQ(image.bytes(0, image.size()), payload);
    EXPECT_EQ(image.note(), QString("Bitstream top.ncd for 3s200pq208, %1 bytes").arg(500));
    EXPECT_THROW(readFlashImage(bit.left(bit.size() - 1)), FlashImageError);
    EXPECT_THROW(readFlashImage(bit.left(20)), FlashImageError);
    // Anything else is raw, byte for byte.
    for (const QByteArray& raw : {QByteArray("\x3A\x00\x01", 3), QByteArray("plain text")}) {
        EXPECT_FALSE(isEncodedImage(raw));
        EXPECT_EQ(readFlashImage(raw).bytes(0, raw.size()), raw);
    }
}
