#include "sim/SpiChipTable.h"
#include "spi/SpiDeviceFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

const QString sourceDevices = QStringLiteral(ZBPU_SOURCE_DIR "/devices");

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The simulated board's chip table is the independent reference for the shipped files.
TEST(ShippedDeviceFiles, EveryFileReadsCleanlyMatchesItsSimulatedChipAndIsCopiedBesideTheProgram) {
    const QFileInfoList files = QDir(sourceDevices).entryInfoList({"*.sfh"}, QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QFileInfo& file : files) {
        SCOPED_TRACE(file.fileName().toStdString());
        const QByteArray text = contents(file.filePath());
        EXPECT_TRUE(text.endsWith("\r\n"));
        EXPECT_EQ(text.count("\n"), text.count("\r\n")) << "CR LF line ends";
        EXPECT_EQ(text.count("\r"), text.count("\r\n")) << "CR LF line ends";
        EXPECT_EQ(contents(ZBPU_BIN_DIR "/" + file.fileName()), text) << "the copy beside";
        SpiDescription d;
        try {
            readSpiDeviceText(text, d);
        } catch (const RuntimeError& e) {
            ADD_FAILURE() << spiDeviceFailureMessage(e).toStdString();
        }
        const SpiChipSpec* chip = findSpiChip(file.completeBaseName());
        ASSERT_NE(chip, nullptr) << "no simulated chip of that name";
        ASSERT_EQ(d.NIDB, chip->id.size());
        for (int k = 1; k <= d.NIDB; ++k)
            EXPECT_EQ(d.IDM2.value(k), quint8(chip->id[k - 1])) << "identification byte " << k;
        EXPECT_EQ(d.MBPP, chip->pageSize);
        EXPECT_EQ(d.BPRD, chip->size);
        EXPECT_EQ(d.ABSZ, chip->addressBytes);
        EXPECT_EQ(d.UABL & chip->protectMask, 0) << "UABL leaves blocks protected";
        EXPECT_EQ(d.PRTM, chip->protectMask | 0x80) << "PRTM: protection and lock bits";
        EXPECT_TRUE(chip->bulkEraseOpcodes.contains(char(d.BLKE))) << "BLKE " << d.BLKE;
        // Every one of these parts signals busy in status bit 0.
        EXPECT_TRUE((d.ESTM & d.PSTM & 1) && !((d.ESST | d.PSST) & 1));
        // Erase polls are a second apart, 255 the most a byte allows; program polls 0.1 ms.
        if (d.MEPI != 255) {
            EXPECT_GE(d.MEPI * 1000.0, chip->bulkEraseMaxMs) << "MEPI " << d.MEPI;
        }
        EXPECT_GE(d.MPPI * 100.0, chip->pageProgramMaxUs) << "MPPI " << d.MPPI;
        // The smallest erase every sector supports: small images erase little.
        if (chip->smallSectorSize > 0)
            EXPECT_TRUE(d.SECE == 0x20 && d.SECS == chip->smallSectorSize) << "SECE/SECS";
        else
            EXPECT_TRUE(d.SECE == 0xD8 && d.SECS == chip->sectorSize) << "SECE/SECS";
    }
    for (const SpiChipSpec& chip : spiChipTable())
        EXPECT_TRUE(QFileInfo::exists(sourceDevices + "/" + chip.name + ".sfh"))
            << chip.name.toStdString();
}
