#pragma once

#include <QByteArray>
#include <QString>
#include <initializer_list>

// How the SPI sequence writes bytes and addresses, and builds its transactions.
namespace spitext {
inline QString hex2(int value) {
    return QString("%1").arg(std::uint16_t(value), 2, 16, QChar('0')).toUpper();
}
inline QString hexAddress(qint64 value) {
    return "0x" + QString::number(value, 16).toUpper();
}
inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v & 0xFF));
    return out;
}
} // namespace spitext
