#pragma once

#include <QPixmap>
#include <QSize>

// The pictures of the forms, painted rather than shipped: the program's logo and the serial
// connector of the port settings dialog.
QPixmap paintLogo(QSize size, qreal devicePixelRatio = 1.0);
QPixmap paintSerialPort(QSize size, qreal devicePixelRatio = 1.0);
