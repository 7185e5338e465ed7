#include "sim/SpiChipTable.h"

#include <QSet>
#include <gtest/gtest.h>

namespace {

bool isPowerOfTwo(qint64 v) {
    return v > 0 && (v & (v - 1)) == 0;
}

} // namespace

TEST(SimSpiChipTable, HoldsEveryPartTheBoardsAreFittedWith) {
    for (const char* name : {"M25P16", "M25P32", "M25P64", "M25P128", "S25FL032P", "S25FL064P",
                             "W25Q32", "W25Q64", "W25Q128", "MX25L3206E", "MX25L6406E"})
        EXPECT_NE(findSpiChip(name), nullptr) << name;
}

TEST(SimSpiChipTable, EveryRowIsConsistentWithTheDatasheetRules) {
    for (const SpiChipSpec& chip : spiChipTable()) {
        SCOPED_TRACE(chip.name.toStdString());
        EXPECT_EQ(chip.id.size(), 3);
        EXPECT_TRUE(isPowerOfTwo(chip.size));
        EXPECT_EQ(chip.pageSize, 256);
        EXPECT_EQ(chip.addressBytes, 3);
        EXPECT_LE(chip.size, qint64(1) << (8 * chip.addressBytes));
        EXPECT_TRUE(isPowerOfTwo(chip.sectorSize));
        EXPECT_EQ(chip.size % chip.sectorSize, 0);
        // The capacity byte is log2 of the size, except on Spansion's parts (15h is 32 Mbit).
        const int log2Size = quint8(chip.id[2]) + (chip.id[0] == '\x01' ? 1 : 0);
        EXPECT_EQ(qint64(1) << log2Size, chip.size);
        EXPECT_EQ(chip.protectMask & 0x1C, 0x1C) << "BP0-BP2";
        EXPECT_EQ(chip.protectMask & 0x83, 0) << "WIP, WEL and SRWD are not protection bits";
        EXPECT_GT(chip.pageProgramTypUs, 0);
        EXPECT_LE(chip.pageProgramTypUs, chip.pageProgramMaxUs);
        EXPECT_GT(chip.bulkEraseTypMs, 0);
        EXPECT_LE(chip.bulkEraseTypMs, chip.bulkEraseMaxMs);
        EXPECT_GT(chip.statusWriteMs, 0);
        EXPECT_TRUE(chip.bulkEraseOpcodes.contains('\xC7'));
    }
}

TEST(SimSpiChipTable, IdsAreUniqueSoThatAWrongDescriptionFileIsCaught) {
    QSet<QByteArray> ids;
    for (const SpiChipSpec& chip : spiChipTable())
        EXPECT_FALSE(ids.contains(chip.id)) << chip.name.toStdString();
    for (const SpiChipSpec& chip : spiChipTable())
        ids.insert(chip.id);
    EXPECT_EQ(ids.size(), spiChipTable().size());
}

TEST(SimSpiChipTable, OnlyTheLaterPartsAcceptTheAlternativeBulkEraseOpcode) {
    struct Row {
        const char* name;
        bool takes60;
    };
    for (Row row : {Row{"M25P16", false}, Row{"S25FL064P", false}, Row{"W25Q64", true},
                    Row{"MX25L6406E", true}})
        EXPECT_EQ(findSpiChip(row.name)->bulkEraseOpcodes.contains('\x60'), row.takes60)
            << row.name;
}

TEST(SimSpiChipTable, LookupIgnoresCaseAndAnswersNullForAnUnknownPart) {
    ASSERT_NE(findSpiChip("m25p16"), nullptr);
    EXPECT_EQ(findSpiChip("m25p16")->name, "M25P16");
    EXPECT_EQ(findSpiChip("M25P17"), nullptr);
    EXPECT_EQ(findSpiChip(""), nullptr);
}

TEST(SimSpiChipTable, TheM25P128ErasesQuarterMegabyteSectors) {
    EXPECT_EQ(findSpiChip("M25P128")->sectorSize, 256 * 1024);
    EXPECT_EQ(findSpiChip("M25P64")->sectorSize, 64 * 1024);
}
