#include "engine/Conversions.h"
#include "engine/RuntimeError.h"

#include "support/FailureOf.h"

#include <gtest/gtest.h>

// Inputs the fuzz targets in fuzz/ found faults with, kept so that the faults stay fixed.

// A byte count typed as twenty nines was rounded through a 64-bit integer it does not fit,
// which is undefined (the sanitizer build checks float-to-integer casts).
TEST(FuzzFindings, DecimalTextsBeyondSixtyFourBitsAreAnOverflow) {
    const struct {
        const char* text;
        int number;
    } cases[] = {{"99999999999999999999", RuntimeError::Overflow},
                 {"-99999999999999999999", RuntimeError::Overflow},
                 {"9223372036854775807", RuntimeError::Overflow},
                 {"4611686018427387904.5", RuntimeError::Overflow},
                 {" 1000000000000000000000000000000.0 ", RuntimeError::Overflow},
                 {"2147483647.4", 0},
                 {"-2147483648", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf([&] { conv::toInt32(c.text); }), c.number) << c.text;
        EXPECT_EQ(failureOf([&] { conv::toInt16(c.text); }), RuntimeError::Overflow) << c.text;
        EXPECT_TRUE(conv::isNumeric(c.text)) << c.text;
    }
}
