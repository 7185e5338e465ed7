#include "SimTestSupport.h"

#include "sim/SpiProtection.h"

#include <QSet>
#include <gtest/gtest.h>

using simtest::transfer;

namespace {

const QByteArray Wren = QByteArray::fromHex("06");
const QByteArray BulkErase = QByteArray::fromHex("C7");
const QByteArray Zero(1, '\0');

QByteArray address(qint64 a) {
    return QByteArray::fromHex(QByteArray::number(a, 16).rightJustified(6, '0'));
}
const auto pageProgram = [](qint64 a, const QByteArray& data) {
    return '\x02' + address(a) + data;
};
const auto sectorErase = [](qint64 a) { return '\xD8' + address(a); };
const auto writeStatus = [](quint8 v) { return QByteArray("\x01", 1) + char(v); };

class SimSpiFlash : public ::testing::Test {
protected:
    const SpiChipSpec& chip = *findSpiChip("M25P16");
    SpiFlash flash{chip};
    std::int64_t t = 0;

    quint8 status() { return quint8(transfer(flash, QByteArray::fromHex("0500"), t)[1]); }
    QByteArray read(qint64 a, int n) {
        return transfer(flash, '\x03' + address(a) + QByteArray(n, '\0'), t).mid(4);
    }
    // Write enable, the instruction, then time enough for any cycle to end.
    void enabled(const QByteArray& instruction, bool wait = true) {
        transfer(flash, Wren, t);
        transfer(flash, instruction, t);
        t += wait ? 300'000'000 : 0;
    }
};

} // namespace

TEST_F(SimSpiFlash, ProtectedBlocksRefuseProgramAndErase) {
    enabled(writeStatus(0x04)); // BP0: the top 64 KiB sector
    const qint64 top = chip.size - 0x10000;
    enabled(pageProgram(top, Zero), false);
    enabled(sectorErase(top), false);
    EXPECT_EQ(status(), 0x04 | SpiFlash::Wel) << "refused, so no cycle started";
    EXPECT_EQ(read(top, 1), QByteArray("\xFF"));
    enabled(pageProgram(top - 1, Zero));
    EXPECT_EQ(read(top - 1, 1), QByteArray(1, '\0'));
    enabled(BulkErase, false);
    EXPECT_EQ(status(), 0x04 | SpiFlash::Wel) << "bulk erase needs every BP bit clear";
    EXPECT_EQ(read(top - 1, 1), QByteArray(1, '\0'));
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
        transfer(flash, pageProgram(0, QByteArray(4, '\0')), 0);
        EXPECT_TRUE(flash.busy(std::int64_t(chip.pageProgramTypUs) - 1));
        EXPECT_EQ(flash.busy(std::int64_t(chip.pageProgramTypUs)), longest);
        EXPECT_FALSE(flash.busy(std::int64_t(chip.pageProgramMaxUs)));
    }
}
