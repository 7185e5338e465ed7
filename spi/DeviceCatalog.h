#pragma once

#include "spi/SpiDescription.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Every flash description a folder list offers, for finding a chip by its identification.
struct CatalogDevice {
    QString name; // the file's name without ".sfh"
    SpiDescription d;
};

// The description files given (one per device name, as the data folders list them); a file
// that cannot be read or names no identification is skipped.
QList<CatalogDevice> readDeviceCatalog(const QStringList& files);
// The devices whose identification bytes begin the bytes read.
QStringList devicesAnswering(const QList<CatalogDevice>& catalog, const QByteArray& id);
// The most identification bytes any description compares.
int longestIdentification(const QList<CatalogDevice>& catalog);

// Identification bytes as shown: "EF 40 17".
QString idText(const QByteArray& id);
// All 0xFF or all 0x00 is no chip at all; the message says what to check. Empty otherwise.
QString noFlashAnswering(const QByteArray& id);
