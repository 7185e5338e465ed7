#include "FlashImages.h"

#include <QFile>

void loadFlashImage(FlashArray& flash, const QString& path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    flash.load(file.read(flash.size()));
}

bool saveFlashImage(const FlashArray& flash, const QString& path) {
    if (path.isEmpty())
        return true;
    QFile file(path);
    const QByteArray bytes = flash.contents();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}
