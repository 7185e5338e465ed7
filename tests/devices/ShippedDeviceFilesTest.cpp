#include "spi/SpiDeviceFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

// The simulated board's chip table is the independent reference for the shipped files.
#if __has_include("sim/SpiChipTable.h")
#include "sim/SpiChipTable.h"
#define ZBPU_HAVE_CHIP_TABLE 1
#endif

namespace {

const QString sourceDevices = QStringLiteral(ZBPU_SOURCE_DIR "/devices");

QFileInfoList shippedFiles() {
    return QDir(sourceDevices).entryInfoList({"*.sfh"}, QDir::Files, QDir::Name);
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

SpiDescription read(const QFileInfo& file) {
    SpiDescription d;
    try {
        loadSpiDeviceFile(file.filePath(), d);
    } catch (const RuntimeError& e) {
        ADD_FAILURE() << spiDeviceFailureMessage(e).toStdString();
    }
    return d;
}

} // namespace

TEST(ShippedDeviceFiles, EveryFileReadsWithoutFailureAndUsesCrLfLineEnds) {
    ASSERT_FALSE(shippedFiles().isEmpty());
    for (const QFileInfo& file : shippedFiles()) {
        SCOPED_TRACE(file.fileName().toStdString());
        const SpiDescription d = read(file);
        const QByteArray text = contents(file.filePath());
        EXPECT_TRUE(text.endsWith("\r\n"));
        EXPECT_EQ(text.count("\n"), text.count("\r\n"));
        EXPECT_EQ(text.count("\r"), text.count("\r\n"));
        // Every one of these parts signals busy in status bit 0.
        EXPECT_EQ(d.ESTM & 1, 1);
        EXPECT_EQ(d.ESST & 1, 0);
        EXPECT_EQ(d.PSTM & 1, 1);
        EXPECT_EQ(d.PSST & 1, 0);
        EXPECT_GT(d.NIDB, 0);
    }
}

TEST(ShippedDeviceFiles, TheBuildPlacesAnIdenticalCopyOfEveryFileBesideTheProgram) {
    for (const QFileInfo& file : shippedFiles()) {
        SCOPED_TRACE(file.fileName().toStdString());
        const QString copy = QStringLiteral(ZBPU_BIN_DIR "/") + file.fileName();
        ASSERT_TRUE(QFileInfo::exists(copy));
        EXPECT_EQ(contents(copy), contents(file.filePath()));
    }
}

#ifdef ZBPU_HAVE_CHIP_TABLE

TEST(ShippedDeviceFiles, EveryFileAgreesWithTheSimulatedChipOfTheSameName) {
    for (const QFileInfo& file : shippedFiles()) {
        const QString name = file.completeBaseName();
        SCOPED_TRACE(name.toStdString());
        const SpiChipSpec* chip = findSpiChip(name);
        ASSERT_NE(chip, nullptr) << "no simulated chip of that name";
        const SpiDescription d = read(file);

        ASSERT_EQ(d.NIDB, chip->id.size());
        ASSERT_EQ(d.IDM2.size(), d.NIDB + 1);
        for (int k = 1; k <= d.NIDB; ++k)
            EXPECT_EQ(d.IDM2[k], quint8(chip->id[k - 1])) << "identification byte " << k;
        EXPECT_EQ(d.MBPP, chip->pageSize);
        EXPECT_EQ(d.BPRD, chip->size);
        EXPECT_EQ(d.ABSZ, chip->addressBytes);
        EXPECT_EQ(d.UABL & chip->protectMask, 0) << "UABL leaves blocks protected";
        EXPECT_TRUE(chip->bulkEraseOpcodes.contains(char(d.BLKE))) << "BLKE " << d.BLKE;

        // Erase polls are a second apart; 255 is the most a byte allows.
        if (d.MEPI != 255) {
            EXPECT_GE(d.MEPI * 1000.0, chip->bulkEraseMaxMs) << "MEPI " << d.MEPI;
        }
        // Page program polls may come every 0.1 ms on a fast link.
        EXPECT_GE(d.MPPI * 100.0, chip->pageProgramMaxUs) << "MPPI " << d.MPPI;
    }
}

TEST(ShippedDeviceFiles, EverySimulatedChipHasAShippedFile) {
    for (const SpiChipSpec& chip : spiChipTable())
        EXPECT_TRUE(QFileInfo::exists(sourceDevices + "/" + chip.name + ".sfh"))
            << chip.name.toStdString();
}

#else

TEST(ShippedDeviceFiles, EveryFileAgreesWithTheSimulatedChipOfTheSameName) {
    GTEST_SKIP() << "sim/SpiChipTable.h is not there yet";
}

#endif
