#include "SimTestSupport.h"

#include "sim/SpiProtection.h"

#include <gtest/gtest.h>

using simtest::transfer;

namespace {

const QByteArray Wren = QByteArray::fromHex("06");
const QByteArray Wrdi = QByteArray::fromHex("04");
const QByteArray BulkErase = QByteArray::fromHex("C7");
const QByteArray Zero(1, '\0');

QByteArray address(qint64 a) {
    return QByteArray::fromHex(QByteArray::number(a, 16).rightJustified(6, '0'));
}
QByteArray pageProgram(qint64 a, const QByteArray& data) {
    return '\x02' + address(a) + data;
}
QByteArray sectorErase(qint64 a) {
    return '\xD8' + address(a);
}
QByteArray writeStatus(quint8 v) {
    return QByteArray("\x01", 1) + char(v);
}

class SimSpiFlash : public ::testing::Test {
protected:
    const SpiChipSpec& chip = *findSpiChip("M25P16");
    SpiFlash flash{chip};
    std::int64_t t = 0;

    quint8 status() { return quint8(transfer(flash, QByteArray::fromHex("0500"), t)[1]); }
    QByteArray read(qint64 a, int n) {
        return transfer(flash, '\x03' + address(a) + QByteArray(n, '\0'), t).mid(4);
    }
    void enabled(const QByteArray& instruction) {
        transfer(flash, Wren, t);
        transfer(flash, instruction, t);
    }
    void waitReady() { t += 300'000'000; }
};

} // namespace

TEST_F(SimSpiFlash, WriteEnableSetsTheLatchAndWriteDisableClearsIt) {
    EXPECT_EQ(status(), 0x00);
    transfer(flash, Wren, t);
    EXPECT_EQ(status(), SpiFlash::Wel);
    transfer(flash, Wrdi, t);
    EXPECT_EQ(status(), 0x00);
}

TEST_F(SimSpiFlash, ProgramEraseAndStatusWriteAreRefusedWithoutTheLatch) {
    flash.memory()[0x100] = 0x12;
    for (const QByteArray& instruction :
         {pageProgram(0x100, Zero), sectorErase(0x100), BulkErase, writeStatus(0x1C)}) {
        transfer(flash, instruction, t);
        EXPECT_EQ(status(), 0x00) << instruction.toHex().toStdString();
    }
    EXPECT_EQ(quint8(flash.memory()[0x100]), 0x12);
}

TEST_F(SimSpiFlash, TheLatchClearsWhenEachWriteCycleCompletes) {
    for (const QByteArray& instruction :
         {pageProgram(0x40, "\x55"), sectorErase(0), BulkErase, writeStatus(0x00)}) {
        SCOPED_TRACE(instruction.toHex().toStdString());
        enabled(instruction);
        EXPECT_EQ(status(), SpiFlash::Wip | SpiFlash::Wel);
        waitReady();
        EXPECT_EQ(status(), 0x00);
    }
}

TEST_F(SimSpiFlash, ProgrammingCanOnlyTurnOnesIntoZeros) {
    enabled(pageProgram(0x1000, "\xF0\x3C"));
    waitReady();
    enabled(pageProgram(0x1000, "\x0F\xFF"));
    waitReady();
    EXPECT_EQ(read(0x1000, 3), QByteArray::fromHex("003CFF"));
    enabled(sectorErase(0x1000));
    waitReady();
    EXPECT_EQ(read(0x1000, 2), QByteArray::fromHex("FFFF"));
}

TEST_F(SimSpiFlash, AProgramThatRunsPastThePageEndWrapsToThePageStart) {
    QByteArray data;
    for (int i = 0; i < 32; ++i)
        data.append(char(i));
    enabled(pageProgram(0x2F0, data));
    waitReady();
    EXPECT_EQ(read(0x2F0, 16), data.left(16));
    EXPECT_EQ(read(0x200, 16), data.mid(16));
    EXPECT_EQ(read(0x300, 1), QByteArray("\xFF"));
}

TEST_F(SimSpiFlash, AProgramOfMoreThanAPageKeepsOnlyItsLastPageOfBytes) {
    QByteArray data(260, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i < 256 ? 0x7F : 0x10 + i - 256);
    enabled(pageProgram(0, data));
    waitReady();
    EXPECT_EQ(read(0, 5), QByteArray::fromHex("101112137F"));
}

TEST_F(SimSpiFlash, InstructionsCutShortAreNotCarriedOut) {
    flash.memory()[0] = 0x00;
    enabled('\xD8' + address(0).left(2)); // sector erase without its last address byte
    enabled(pageProgram(0, ""));          // page program without data
    EXPECT_EQ(status(), SpiFlash::Wel);
    EXPECT_EQ(read(0, 1), QByteArray(1, '\0'));
}

TEST_F(SimSpiFlash, OnlyStatusReadsAreAnsweredWhileBusy) {
    flash.memory()[0] = 0x42;
    enabled(sectorErase(0x10000));
    EXPECT_EQ(transfer(flash, QByteArray::fromHex("9F000000"), t), QByteArray(4, '\xFF'));
    EXPECT_EQ(read(0, 1), QByteArray("\xFF"));
    transfer(flash, Wren, t);
    waitReady();
    EXPECT_EQ(status(), 0x00) << "a write enable sent while busy is lost";
    EXPECT_EQ(read(0, 1), QByteArray("\x42"));
}

TEST_F(SimSpiFlash, BusyLastsTheTypicalDatasheetTimeOfEachCycle) {
    struct Row {
        QByteArray instruction;
        std::int64_t typicalUs;
    };
    const Row rows[] = {{pageProgram(0, Zero), 640},
                        {writeStatus(0x00), 5'000},
                        {sectorErase(0), 13'000'000 / 32},
                        {BulkErase, 13'000'000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.instruction.toHex().toStdString());
        const std::int64_t start = t;
        enabled(row.instruction);
        t = start + row.typicalUs - 1;
        EXPECT_TRUE(status() & SpiFlash::Wip);
        t = start + row.typicalUs;
        EXPECT_FALSE(status() & SpiFlash::Wip);
    }
}

TEST(SimSpiFlashTiming, TheTimeScaleMakesAThirteenSecondEraseTakeThirteenMilliseconds) {
    SpiFlash flash(*findSpiChip("M25P16"), {0.001});
    transfer(flash, Wren, 0);
    transfer(flash, BulkErase, 0);
    EXPECT_TRUE(flash.busy(12'999));
    EXPECT_FALSE(flash.busy(13'000));
}

TEST_F(SimSpiFlash, RepeatedStatusReadsFollowTheBusyBitLive) {
    enabled(pageProgram(0, Zero));
    flash.select(t);
    EXPECT_EQ(flash.clock(0x05, t), 0xFF);
    EXPECT_EQ(flash.clock(0, t + 100), SpiFlash::Wip | SpiFlash::Wel);
    EXPECT_EQ(flash.clock(0, t + 700), 0x00);
    flash.deselect(t + 700);
}

TEST_F(SimSpiFlash, ReadStreamsAcrossTheDeviceEndBackToAddressZero) {
    flash.memory()[chip.size - 1] = 0x11;
    flash.memory()[0] = 0x22;
    EXPECT_EQ(read(chip.size - 1, 2), QByteArray::fromHex("1122"));
    EXPECT_EQ(transfer(flash, '\x0B' + address(chip.size - 1) + QByteArray(3, '\0'), t).mid(5),
              QByteArray::fromHex("1122"))
        << "fast read skips one dummy byte";
}

TEST_F(SimSpiFlash, ProtectedBlocksRefuseProgramAndErase) {
    enabled(writeStatus(0x04)); // BP0: the top 64 KiB sector
    waitReady();
    const qint64 top = chip.size - 0x10000;
    enabled(pageProgram(top, Zero));
    enabled(sectorErase(top));
    EXPECT_EQ(status(), 0x04 | SpiFlash::Wel) << "refused, so no cycle started";
    EXPECT_EQ(read(top, 1), QByteArray("\xFF"));
    enabled(pageProgram(top - 1, Zero));
    waitReady();
    EXPECT_EQ(read(top - 1, 1), QByteArray(1, '\0'));
    enabled(BulkErase);
    EXPECT_EQ(status(), 0x04 | SpiFlash::Wel) << "bulk erase needs every BP bit clear";
    EXPECT_EQ(read(top - 1, 1), QByteArray(1, '\0'));
}

TEST(SimSpiProtection, BlockProtectBitsLockTheRangesOfTheDatasheetTables) {
    struct Row {
        const char* chip;
        quint8 status;
        qint64 begin, end;
    };
    const qint64 M = 1024 * 1024, K = 1024;
    const Row rows[] = {
        {"M25P16", 0x00, 0, 0},
        {"M25P16", 0x04, 2 * M - 64 * K, 2 * M}, // sector 31
        {"M25P16", 0x14, M, 2 * M},              // upper half
        {"M25P16", 0x18, 0, 2 * M},              // all
        {"M25P32", 0x04, 4 * M - 64 * K, 4 * M},
        {"M25P64", 0x04, 8 * M - 128 * K, 8 * M}, // two sectors
        {"M25P128", 0x04, 16 * M - 256 * K, 16 * M},
        {"M25P128", 0x1C, 0, 16 * M},
        {"W25Q32", 0x04, 4 * M - 64 * K, 4 * M},
        {"W25Q32", 0x24, 0, 64 * K},            // TB: from the bottom
        {"W25Q32", 0x44, 4 * M - 4 * K, 4 * M}, // SEC: 4 KiB sectors
        {"W25Q32", 0x1C, 0, 4 * M},
        {"MX25L3206E", 0x1C, 0, 4 * M},
        {"MX25L3206E", 0x20, 0, 4 * M}, // BP3
        {"MX25L3206E", 0x18, 2 * M, 4 * M},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.chip) + " status " + std::to_string(row.status));
        const ProtectedRange r = protectedRange(*findSpiChip(row.chip), row.status);
        EXPECT_EQ(r.isEmpty() ? 0 : r.begin, row.begin);
        EXPECT_EQ(r.isEmpty() ? 0 : r.end, row.end);
    }
}

TEST_F(SimSpiFlash, TheStatusRegisterSurvivesAPowerCycleAndTheLatchDoesNot) {
    enabled(writeStatus(0x9C));
    waitReady();
    transfer(flash, Wren, t);
    flash.powerCycle();
    EXPECT_EQ(status(), 0x9C);
}

TEST(SimSpiFlashOptions, APartThatPowersUpProtectedHasEveryBlockLocked) {
    SpiFlashOptions options;
    options.powerUpProtected = true;
    SpiFlash flash(*findSpiChip("MX25L6406E"), options);
    EXPECT_EQ(flash.status(0), 0x3C);
    EXPECT_EQ(protectedRange(flash.chip(), flash.status(0)).begin, 0);
}

TEST(SimSpiFlashOptions, AStuckPartNeverClearsItsBusyBit) {
    struct Row {
        StuckBusy stuck;
        bool statusWriteCompletes;
    };
    for (Row row : {Row{StuckBusy::EveryCycle, false}, Row{StuckBusy::EraseOnly, true}}) {
        SpiFlashOptions options;
        options.stuckBusy = row.stuck;
        SpiFlash flash(*findSpiChip("M25P16"), options);
        transfer(flash, Wren, 0);
        transfer(flash, writeStatus(0), 0);
        EXPECT_EQ(flash.busy(1'000'000'000), !row.statusWriteCompletes);
        transfer(flash, Wren, 1'000'000'000);
        transfer(flash, BulkErase, 1'000'000'000);
        EXPECT_TRUE(flash.busy(9'000'000'000));
    }
}

TEST(SimSpiFlashId, EveryPartAnswersItsJedecIdThenItsExtraBytesThenZeros) {
    for (const SpiChipSpec& chip : spiChipTable()) {
        SCOPED_TRACE(chip.name.toStdString());
        SpiFlash flash(chip);
        const int n = int(chip.id.size() + chip.idTail.size());
        const QByteArray miso = transfer(flash, '\x9F' + QByteArray(n + 2, '\0'), 0);
        EXPECT_EQ(miso, '\xFF' + chip.id + chip.idTail + QByteArray(2, '\0'));
    }
}
