#include "sim/SpiFlash.h"
#include "sim/SpiProtection.h"

#include <QSet>
#include <gtest/gtest.h>

namespace {

// One SPI transaction, all of it at one instant.
QByteArray transfer(SpiFlash& flash, const QByteArray& mosi, std::int64_t atUs) {
    QByteArray miso;
    flash.select(atUs);
    for (char c : mosi)
        miso.append(char(flash.clock(quint8(c), atUs)));
    flash.deselect(atUs);
    return miso;
}

const QByteArray Wren = QByteArray::fromHex("06");

QByteArray address(qint64 a) {
    return QByteArray::fromHex(QByteArray::number(a, 16).rightJustified(6, '0'));
}

} // namespace

TEST(SimSpiFlash, ProtectedBlocksRefuseProgramAndErase) {
    const SpiChipSpec& chip = *findSpiChip("M25P16");
    SpiFlash flash{chip};
    std::int64_t t = 0;
    const QByteArray zero(1, '\0');
    const auto status = [&] { return quint8(transfer(flash, QByteArray::fromHex("0500"), t)[1]); };
    const auto read = [&](qint64 a) { return transfer(flash, '\x03' + address(a) + zero, t)[4]; };
    // Write enable, the instruction, then time enough for any cycle to end.
    const auto enabled = [&](const QByteArray& instruction, bool wait = true) {
        transfer(flash, Wren, t);
        transfer(flash, instruction, t);
        t += wait ? 300'000'000 : 0;
    };
    enabled(QByteArray::fromHex("0104")); // BP0: the top 64 KiB sector
    const qint64 top = chip.size - 0x10000;
    enabled('\x02' + address(top) + zero, false);
    enabled('\xD8' + address(top), false);
    EXPECT_EQ(status(), 0x04 | SpiFlash::Wel) << "refused, so no cycle started";
    EXPECT_EQ(read(top), '\xFF');
    enabled('\x02' + address(top - 1) + zero);
    EXPECT_EQ(read(top - 1), '\0');
    enabled(QByteArray::fromHex("C7"), false);
    EXPECT_EQ(status(), 0x04 | SpiFlash::Wel) << "bulk erase needs every BP bit clear";
    EXPECT_EQ(read(top - 1), '\0');
}

TEST(SimSpiProtection, BlockProtectBitsLockTheRangesOfTheDatasheetTables) {
    const qint64 M = 1024 * 1024, K = 1024;
    const struct {
        const char* chip;
        quint8 status;
        qint64 begin, end;
    } rows[] = {
        {"M25P16", 0x00, 0, 0},
        {"M25P16", 0x04, 2 * M - 64 * K, 2 * M},  // sector 31
        {"M25P16", 0x14, M, 2 * M},               // upper half
        {"M25P64", 0x04, 8 * M - 128 * K, 8 * M}, // two sectors
        {"M25P128", 0x04, 16 * M - 256 * K, 16 * M},
        {"W25Q32", 0x24, 0, 64 * K},            // TB: from the bottom
        {"W25Q32", 0x44, 4 * M - 4 * K, 4 * M}, // SEC: 4 KiB sectors
        {"MX25L3206E", 0x20, 0, 4 * M},         // BP3
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.chip) + " status " + std::to_string(row.status));
        const ProtectedRange r = protectedRange(*findSpiChip(row.chip), row.status);
        EXPECT_EQ(r.isEmpty() ? 0 : r.begin, row.begin);
        EXPECT_EQ(r.isEmpty() ? 0 : r.end, row.end);
    }
}

TEST(SimSpiFlashId, EveryPartAnswersItsUniqueJedecIdThenItsExtraBytesThenZeros) {
    QSet<QByteArray> ids;
    for (const SpiChipSpec& chip : spiChipTable()) {
        SCOPED_TRACE(chip.name.toStdString());
        EXPECT_FALSE(ids.contains(chip.id)) << "a wrong description file would go unnoticed";
        ids.insert(chip.id);
        // The capacity byte is log2 of the size, except on Spansion's parts (15h is 32 Mbit).
        EXPECT_EQ(qint64(1) << (quint8(chip.id[2]) + (chip.id[0] == '\x01')), chip.size);
        SpiFlash flash(chip);
        const int n = int(chip.id.size() + chip.idTail.size());
        EXPECT_EQ(transfer(flash, '\x9F' + QByteArray(n + 2, '\0'), 0),
                  '\xFF' + chip.id + chip.idTail + QByteArray(2, '\0'));
    }
}

TEST(SimSpiFlashTimes, AMaximumTimesFlashStaysBusyForTheDatasheetMaximum) {
    for (const bool longest : {false, true}) {
        SCOPED_TRACE(longest ? "maximum" : "typical");
        const SpiChipSpec& chip = *findSpiChip("M25P16");
        SpiFlash flash(chip, {.maxTimes = longest});
        transfer(flash, Wren, 0);
        transfer(flash, '\x02' + address(0) + QByteArray(4, '\0'), 0);
        EXPECT_TRUE(flash.busy(std::int64_t(chip.pageProgramTypUs) - 1));
        EXPECT_EQ(flash.busy(std::int64_t(chip.pageProgramTypUs)), longest);
        EXPECT_FALSE(flash.busy(std::int64_t(chip.pageProgramMaxUs)));
    }
}
