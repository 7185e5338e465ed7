#include "engine/Conversions.h"
#include "engine/RuntimeError.h"

#include "support/FailureOf.h"

#include <QStringList>

#include <gtest/gtest.h>

// Inputs the fuzz targets in fuzz/ found faults with, kept so that the faults stay fixed.

// A byte count typed as twenty nines was rounded through a 64-bit integer it does not fit,
// which is undefined (the sanitizer build checks float-to-integer casts).
TEST(FuzzFindings, DecimalTextsBeyondSixtyFourBitsAreAnOverflow) {
    const int overflow = RuntimeError::Overflow;
    const QStringList within = {"2147483647.4", "-2147483648"};
    for (const QString& text : within + QStringList{"99999999999999999999", "-99999999999999999999",
                                                    "9223372036854775807", "4611686018427387904.5",
                                                    " 1000000000000000000000000000000.0 "}) {
        EXPECT_EQ(failureOf([&] { conv::toInt32(text); }), within.contains(text) ? 0 : overflow)
            << text.toStdString();
        EXPECT_EQ(failureOf([&] { conv::toInt16(text); }), overflow) << text.toStdString();
        EXPECT_TRUE(conv::isNumeric(text)) << text.toStdString();
    }
}
