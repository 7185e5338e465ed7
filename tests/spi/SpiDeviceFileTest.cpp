#include "spi/SpiDeviceFile.h"
#include "support/FailureOf.h"

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

// What an earlier file left: every text below is read on top of it.
const SpiDescription earlier = [] {
    SpiDescription d;
    d.RDSR = 0x55;
    d.MEPI = 0x40;
    return d;
}();

const QByteArray threeIdPairs = "NIDB      03\r\nIDM       01\r\nIDB       20\r\n"
                                "IDM       02\r\nIDB       BA\r\nIDM       03\r\nIDB       18\r\n";
using Table = QList<std::int16_t>;
std::function<void(SpiDescription&)> tables(std::int16_t nidb, Table idm1, Table idm2,
                                            std::int16_t mepi = 0x40) {
    return [=](SpiDescription& d) { d.NIDB = nidb, d.IDM1 = idm1, d.IDM2 = idm2, d.MEPI = mepi; };
}
const auto threeIds = tables(3, {0, 1, 2, 3}, {0, 0x20, 0xBA, 0x18});

} // namespace

TEST(SpiDeviceFile, EachTextSetsWhatItsLinesSayAndFailsWithTheNumberOfItsFault) {
    const struct {
        const char* what;
        QByteArray text;
        std::function<void(SpiDescription&)> sets; // null: nothing changes
        int failure = 0;
    } cases[] = {
        // A byte in columns 11 and 12, or the last two characters of a shorter line.
        {"key, six blanks, value", "WREN      06\r\n", [](auto& d) { d.WREN = 6; }},
        {"seven characters: the last two", "WREN=06\r\n", [](auto& d) { d.WREN = 6; }},
        {"lower-case digits above 9", "BLKE      c7\r\n", [](auto& d) { d.BLKE = 0xC7; }},
        {"text after column 12", "RDID      9F  read id 0x\r\n", [](auto& d) { d.RDID = 0x9F; }},
        {"no separator after the key", "WRENABLE  06\r\n", [](auto& d) { d.WREN = 6; }},
        {"a lower-case key, a key not at the line start", "wren      06\r\n WREN     06\r\n", {}},
        {"a comment line beginning with READ", "READ fast:0B\r\n", [](auto& d) { d.READ = 0x0B; }},
        {"a key twice: the last wins", "WREN      05\r\nWREN      06\r\n",
         [](auto& d) { d.WREN = 6; }},
        {"no MEPI: the earlier 64 polls stay", "MPPI      20\r\n", [](auto& d) { d.MPPI = 0x20; }},
        {"blank and comment lines", "\r\n\r\n; nothing here\r\n\n", {}},
        {"an empty text", "", {}},
        // 32 bits in columns 11 to 22, or the last twelve characters of a shorter line.
        {"twelve digits", "MBPP      000000000100\r\n", [](auto& d) { d.MBPP = 256; }},
        {"text after column 22", "BPRD      000001000000  16 MiB\r\n",
         [](auto& d) { d.BPRD = 16 * 1024 * 1024; }},
        {"short line: the last twelve", "MBPP=000000000200\r\n", [](auto& d) { d.MBPP = 512; }},
        {"the largest value", "BPRD      00007FFFFFFF\r\n", [](auto& d) { d.BPRD = 0x7FFFFFFF; }},
        {"a sector erase and its size", "SECE      20\r\nSECS      000000001000\r\n",
         [](auto& d) { d.SECE = 0x20, d.SECS = 4096; }},
        // NIDB makes the tables; each IDM line takes the line after it as its byte.
        {"three IDM pairs", threeIdPairs, threeIds},
        {"the line after IDM also sets MEPI", "NIDB      01\r\nIDM       01\r\nMEPI      10\r\n",
         tables(1, {0, 1}, {0, 0x10}, 0x10)},
        {"but not WREN", "NIDB      01\r\nIDM       01\r\nWREN      06\r\n",
         tables(1, {0, 1}, {0, 6})},
        {"a second NIDB empties both tables; IDM lines keep counting",
         "NIDB      01\r\nIDM       01\r\nIDB       20\r\n"
         "NIDB      02\r\nIDM       07\r\nIDB       30\r\n",
         tables(2, {0, 0, 7}, {0, 0, 0x30})},
        // Failures: what came before stays set, what comes after is not read.
        {"letter beyond F", "WREN      0G\r\n", {}, 13},
        {"blank inside the value", "WREN      0 \r\n", {}, 13},
        {"byte line cut mid-value", "WREN      0\r\n", {}, 13},
        {"key alone", "WREN\r\n", {}, 13},
        {"32-bit line cut mid-value", "MBPP      0000001\r\n", {}, 13},
        {"32-bit line shorter than twelve", "MBPP100\r\n", {}, 13},
        {"binary data", QByteArray("WREN\0\xff\x80\x01\x02\x03\x04\x05\x06\x07\x08", 15), {}, 13},
        {"2^31 does not fit", "BPRD      000080000000\r\n", {}, 6},
        {"the line before a failure", "WREN      07\r\nWRDI      0x\r\nRDSR      09\r\n",
         [](auto& d) { d.WREN = 7; }, 13},
        {"IDM before NIDB", "IDM       01\r\nIDB       20\r\n", {}, 9},
        {"IDM after NIDB 00", "NIDB      00\r\nIDM       01\r\nIDB       20\r\n",
         tables(0, {0}, {0}), 9},
        {"a fourth IDM of three", threeIdPairs + "IDM       04\r\nIDB       99\r\n", threeIds, 9},
        {"IDM on the last line", "NIDB      03\r\nIDM       01",
         tables(3, {0, 1, 0, 0}, {0, 0, 0, 0}), 62},
        {"IDM on the last line ended by CR LF", "NIDB      03\r\nIDM       01\r\n",
         tables(3, {0, 1, 0, 0}, {0, 0, 0, 0}), 62},
        {"IDM followed by an empty line", "NIDB      03\r\nIDM       01\r\n\r\n",
         tables(3, {0, 1, 0, 0}, {0, 0, 0, 0}), 13},
        {"IDM line not hexadecimal", "NIDB      01\r\nIDM       zz\r\nIDB       20\r\n",
         tables(1, {0, 0}, {0, 0}), 13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpiDescription d = earlier, expected = earlier;
        if (c.sets)
            c.sets(expected);
        EXPECT_EQ(failureOf([&] { readSpiDeviceText(c.text, d); }), c.failure);
        EXPECT_EQ(d, expected);
    }
}

TEST(SpiDeviceFile, AFileIsReadAsItsTextAndOneThatCannotBeOpenedChangesNothing) {
    QTemporaryDir dir;
    QFile file(dir.filePath("X.sfh"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("BLKE      C7\r\nBPRD      000000400000\r\n");
    file.close();
    const struct {
        QString path;
        int failure;
        std::int16_t blke;
    } cases[] = {
        {file.fileName(), 0, 0xC7}, {dir.filePath("NOPE.sfh"), 53, 0}, {dir.path(), 75, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        SpiDescription d;
        EXPECT_EQ(failureOf([&] { loadSpiDeviceFile(c.path, d); }), c.failure);
        EXPECT_EQ(d.BLKE, c.blke);
    }
}
