#include "link/Conversions.h"
#include "link/RuntimeError.h"

#include <gtest/gtest.h>

TEST(Conversions, HexToBytesPadsOnTheLeftAndReadsEitherCase) {
    const struct {
        QString text;
        int count;
        QByteArray bytes;
    } cases[] = {
        {"1F", 4, QByteArray::fromHex("0000001f")}, {"ABC", 2, QByteArray::fromHex("0abc")},
        {"abc", 2, QByteArray::fromHex("0abc")},    {"1a0", 4, QByteArray::fromHex("000001a0")},
        {"0", 3, QByteArray::fromHex("000000")},    {"123456", 2, QByteArray::fromHex("123456")}};
    for (const auto& c : cases)
        EXPECT_EQ(conv::hexToBytes(c.text, c.count), c.bytes) << c.text.toStdString();
    EXPECT_THROW(conv::hexToBytes("12345", 2), RuntimeError);
    EXPECT_THROW(conv::hexToBytes("G1", 1), RuntimeError);
}

TEST(Conversions, OffsetsAreNeverNegative) {
    EXPECT_EQ(conv::hexToInt32("8000"), 0x8000);
    EXPECT_EQ(conv::hexToInt32("ffff"), 0xFFFF);
    EXPECT_EQ(conv::hexToInt32("7FFFFFFF"), 0x7FFFFFFF);
    for (const char* bad : {"80000000", "123456789", "", "0x10", "1 0"}) {
        try {
            conv::hexToInt32(bad);
            ADD_FAILURE() << bad;
        } catch (const RuntimeError& e) {
            EXPECT_TRUE(e.number() == RuntimeError::Overflow ||
                        e.number() == RuntimeError::TypeMismatch);
        }
    }
}

TEST(Conversions, PercentRoundsHalvesToEvenAndWorksForAnyThirtyTwoBitLength) {
    EXPECT_EQ(conv::percent(1, 8), 12);    // 12.5
    EXPECT_EQ(conv::percent(27, 200), 14); // 13.5
    EXPECT_EQ(conv::percent(64, 130), 49);
    EXPECT_EQ(conv::percent(128, 130), 98);
    EXPECT_EQ(conv::percent(30'000'000, 40'000'000), 75);
    EXPECT_EQ(conv::percent(2'147'483'647, 2'147'483'647), 100);
}

TEST(Conversions, DecimalTextsConvertOrFailWithTheClassicNumbers) {
    EXPECT_EQ(conv::toInt16(" 15 "), 15);
    EXPECT_EQ(conv::toInt32("2097152"), 2097152);
    EXPECT_EQ(conv::toInt16("2.5"), 2);
    const struct {
        QString text;
        int number;
    } failures[] = {{"abc", 13}, {"", 13}, {"32768", 6}, {"1e3", 13}, {"99999999999", 6}};
    for (const auto& f : failures) {
        try {
            conv::toInt16(f.text);
            ADD_FAILURE() << f.text.toStdString();
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), f.number) << f.text.toStdString();
        }
    }
}
