#include "engine/Conversions.h"
#include "engine/RuntimeError.h"

#include "support/FailureOf.h"

#include <gtest/gtest.h>

TEST(Conversions, TextsConvertOrFailWithTheClassicNumbers) {
    EXPECT_EQ(conv::hexToBytes("1F", 4), QByteArray::fromHex("0000001f"));
    EXPECT_EQ(conv::hexToBytes("abc", 2), QByteArray::fromHex("0abc"));
    EXPECT_EQ(conv::hexToBytes("123456", 2), QByteArray::fromHex("123456"));
    EXPECT_NE(failureOf([] { conv::hexToBytes("12345", 2); }), 0);
    EXPECT_NE(failureOf([] { conv::hexToBytes("G1", 1); }), 0);
    EXPECT_EQ(conv::hexToInt32("7FFFFFFF"), 0x7FFFFFFF);
    EXPECT_EQ(conv::toInt16(" 15 "), 15);
    EXPECT_EQ(conv::toInt16("2.5"), 2);
    const struct {
        const char* text;
        bool hex;
        int failure;
    } failures[] = {{"80000000", true, 6}, {"", true, 13},     {"0x10", true, 13},
                    {"1 0", true, 13},     {"abc", false, 13}, {"32768", false, 6},
                    {"1e3", false, 13}};
    for (const auto& f : failures)
        EXPECT_EQ(failureOf([&] { f.hex ? conv::hexToInt32(f.text) : conv::toInt16(f.text); }),
                  f.failure)
            << f.text;
}

// Progress of every chunk is also checked by the operations; these are the edges.
TEST(Conversions, PercentRoundsHalvesToEvenAndWorksForAnyThirtyTwoBitLength) {
    EXPECT_EQ(conv::percent(1, 8), 12);
    EXPECT_EQ(conv::percent(27, 200), 14);
    EXPECT_EQ(conv::percent(2'147'483'647, 2'147'483'647), 100);
}
