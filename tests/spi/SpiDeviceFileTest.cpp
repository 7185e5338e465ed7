#include "spi/SpiDeviceFile.h"
#include "sim/SpiFlash.h"
#include "support/FailureOf.h"
#include "support/PanelFixture.h"

#include <QDir>
#include <QSet>
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
        {"seven characters: the last two", "WREN=06\r\n", [](auto& d) { d.WREN = 6; }},
        {"lower-case digits above 9", "BLKE      c7\r\n", [](auto& d) { d.BLKE = 0xC7; }},
        {"no separator after the key", "WRENABLE  06\r\n", [](auto& d) { d.WREN = 6; }},
        {"a lower-case key, a key not at the line start", "wren      06\r\n WREN     06\r\n", {}},
        {"a comment line beginning with READ", "READ fast:0B\r\n", [](auto& d) { d.READ = 0x0B; }},
        {"a key twice: the last wins", "WREN      05\r\nWREN      06\r\n",
         [](auto& d) { d.WREN = 6; }},
        {"no MEPI: the earlier 64 polls stay", "MPPI      20\r\n", [](auto& d) { d.MPPI = 0x20; }},
        // 32 bits in columns 11 to 22, or the last twelve characters of a shorter line.
        {"short line: the last twelve", "MBPP=000000000200\r\n", [](auto& d) { d.MBPP = 512; }},
        {"the largest value", "BPRD      00007FFFFFFF\r\n", [](auto& d) { d.BPRD = 0x7FFFFFFF; }},
        // NIDB makes the tables; each IDM line takes the line after it as its byte.
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
        {"byte line cut mid-value", "WREN      0\r\n", {}, 13},
        {"32-bit line cut mid-value", "MBPP      0000001\r\n", {}, 13},
        {"2^31 does not fit", "BPRD      000080000000\r\n", {}, 6},
        {"the line before a failure", "WREN      07\r\nWRDI      0x\r\nRDSR      09\r\n",
         [](auto& d) { d.WREN = 7; }, 13},
        {"IDM after NIDB 00", "NIDB      00\r\nIDM       01\r\nIDB       20\r\n",
         tables(0, {0}, {0}), 9},
        {"a fourth IDM of three", threeIdPairs + "IDM       04\r\nIDB       99\r\n", threeIds, 9},
        {"IDM on the last line", "NIDB      03\r\nIDM       01",
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
    const QString file =
        writeFile(dir.path(), "X.sfh", "BLKE      C7\r\nBPRD      000000400000\r\n");
    for (const auto& [path, failure, blke] :
         {std::tuple{file, 0, 0xC7}, {dir.filePath("NOPE.sfh"), 53, 0}, {dir.path(), 75, 0}}) {
        SCOPED_TRACE(path.toStdString());
        SpiDescription d;
        EXPECT_EQ(failureOf([&] { loadSpiDeviceFile(path, d); }), failure);
        EXPECT_EQ(d.BLKE, blke);
    }
}

// The simulated board's chip table is the independent reference for the shipped files.
TEST(ShippedDeviceFiles, EveryFileReadsCleanlyMatchesItsSimulatedChipAndIsCopiedBesideTheProgram) {
    const QString devices = QStringLiteral(ZBPU_SOURCE_DIR "/devices");
    QStringList files = QDir(devices).entryList({"*.sfh"}, QDir::Files);
    QSet<QByteArray> ids;
    for (const SpiChipSpec& chip : spiChipTable()) {
        SCOPED_TRACE(chip.name.toStdString());
        ASSERT_TRUE(files.removeOne(chip.name + ".sfh")) << "no description of the part";
        const QByteArray text = readFile(devices + "/" + chip.name + ".sfh");
        EXPECT_EQ(readFile(ZBPU_BIN_DIR "/" + chip.name + ".sfh"), text) << "the copy beside";
        SpiDescription d;
        try {
            readSpiDeviceText(text, d);
        } catch (const RuntimeError& e) {
            ADD_FAILURE() << spiDeviceFailureMessage(e).toStdString();
        }
        EXPECT_EQ(d.BPRD, chip.size);
        EXPECT_EQ(d.UABL & chip.protectMask, 0) << "UABL leaves blocks protected";
        EXPECT_EQ(d.PRTM, chip.protectMask | 0x80) << "PRTM: protection and lock bits";
        EXPECT_TRUE(chip.bulkEraseOpcodes.contains(char(d.BLKE))) << "BLKE " << d.BLKE;
        // Every one of these parts signals busy in status bit 0.
        EXPECT_TRUE((d.ESTM & d.PSTM & 1) && !((d.ESST | d.PSST) & 1));
        // Erase polls are a second apart, 255 the most a byte allows; program polls 0.1 ms.
        EXPECT_TRUE(d.MEPI == 255 || d.MEPI * 1000.0 >= chip.bulkEraseMaxMs) << d.MEPI;
        EXPECT_GE(d.MPPI * 100.0, chip.pageProgramMaxUs) << "MPPI " << d.MPPI;
        // The smallest erase every sector supports: small images erase little.
        const bool small = chip.smallSectorSize > 0;
        EXPECT_TRUE(d.SECE == (small ? 0x20 : 0xD8) &&
                    d.SECS == (small ? chip.smallSectorSize : chip.sectorSize))
            << "SECE/SECS";
        // Unique among the parts, or a wrong description file would go unnoticed.
        EXPECT_FALSE(ids.contains(chip.id));
        ids.insert(chip.id);
    }
    EXPECT_EQ(files, QStringList()) << "descriptions of parts the board does not simulate";
}
