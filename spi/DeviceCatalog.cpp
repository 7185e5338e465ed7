#include "spi/DeviceCatalog.h"

#include "engine/RuntimeError.h"
#include "spi/SpiDeviceFile.h"

#include <QFileInfo>

QList<CatalogDevice> readDeviceCatalog(const QStringList& files) {
    QList<CatalogDevice> catalog;
    for (const QString& file : files) {
        CatalogDevice device{QFileInfo(file).completeBaseName(), {}};
        try {
            loadSpiDeviceFile(file, device.d);
        } catch (const RuntimeError&) {
            continue;
        }
        if (device.d.NIDB >= 1 && device.d.IDM2.size() > device.d.NIDB)
            catalog << device;
    }
    return catalog;
}

QStringList devicesAnswering(const QList<CatalogDevice>& catalog, const QByteArray& id) {
    QStringList names;
    for (const CatalogDevice& device : catalog) {
        bool same = device.d.NIDB <= id.size();
        for (int i = 1; same && i <= device.d.NIDB; ++i)
            same = quint8(id[i - 1]) == device.d.IDM2[i];
        if (same)
            names << device.name;
    }
    return names;
}

int longestIdentification(const QList<CatalogDevice>& catalog) {
    int longest = 0;
    for (const CatalogDevice& device : catalog)
        longest = std::max<int>(longest, device.d.NIDB);
    return longest;
}

QString idText(const QByteArray& id) {
    return QString::fromLatin1(id.toHex(' ').toUpper());
}

QString noFlashAnswering(const QByteArray& id) {
    if (id.isEmpty() || (id.count(char(0xFF)) != id.size() && id.count('\0') != id.size()))
        return {};
    const QString line = quint8(id[0]) == 0xFF ? "a floating MISO line" : "a MISO line held low";
    return QString("No SPI flash answers: the identification reads %1, as from %2.\r\n"
                   "Check the board's jumpers or mode switch, that the flash is fitted, and the "
                   "SPI mode of the controller.")
        .arg(idText(id), line);
}
