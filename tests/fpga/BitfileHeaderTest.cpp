#include "fpga/BitfileHeader.h"

#include "support/FailureOf.h"
#include "support/PanelFixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A .bit file as the vendor's tools write it: preamble, fields a to d, then e and the data.
QByteArray bitFile(const QByteArray& design, const QByteArray& part) {
    QByteArray f = QByteArray::fromHex("00090ff00ff00ff00ff0000001");
    for (const auto& [key, text] : {std::pair<char, QByteArray>{'a', design},
                                    {'b', part},
                                    {'c', "2011/03/14"},
                                    {'d', "10:22:05"}})
        f += key + QByteArray(1, '\0') + char(text.size() + 1) + text + '\0';
    return f + QByteArray::fromHex("6500001000") + QByteArray(4096, '\xFF');
}

} // namespace

TEST(BitfileHeader, ThePartNameRunsFromTheFirstFamilyCodeToTheNextNulWithinSixtyFourBytes) {
    const struct {
        const char *what, *device;
        QByteArray file;
    } cases[] = {
        {"Spartan-3 part", "3s200pq208", bitFile("top.ncd;UserID=0xFFFFFFFF", "3s200pq208")},
        {"3s inside the design name", "3s.ncd", bitFile("uart3s.ncd", "5vfx70tff1136")},
        {"5v in the design name", "3s1200efg320", bitFile("ml5v.ncd", "3s1200efg320")},
        {"long design name pushes the part past byte 64", "Not recognized",
         bitFile("design_1_wrapper;UserID=0XFFFFFFFF;Version=2017.4.1", "5vfx70tff1136")},
        {"part name ends after byte 64", "",
         bitFile("top;UserID=0XFFFFFFFF;Version=2017.4.1", "3s200pq208")},
        {"raw .bin", "Not recognized", QByteArray::fromHex("FFFFFFFFFFFFFFFFAA99556630008001")},
        {"3s wins over an earlier 4v", "3sB", QByteArray("4vA\0003sB\0", 8)},
        {"4v wins over an earlier 5v", "4vB", QByteArray("5vA\0004vB\0", 8)},
        {"codes are case-sensitive", "Not recognized", QByteArray("3S50\0", 5)},
        {"empty file", "Not recognized", ""},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const BitfileInfo info = readBitfileHeader(writeFile(dir.path(), c.what, c.file));
        EXPECT_EQ(info.device.toStdString(), c.device);
        EXPECT_EQ(info.length.toStdString(), std::to_string(c.file.size()));
    }
    EXPECT_EQ(failureOf([&] { readBitfileHeader(dir.filePath("missing.bit")); }), 53);
    EXPECT_EQ(failureOf([&] { readBitfileHeader(dir.path()); }), 75);
}
