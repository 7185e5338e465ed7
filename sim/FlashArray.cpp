#include "sim/FlashArray.h"

#include <algorithm>

qint64 FlashArray::wrap(qint64 address) const {
    const qint64 a = address % size_;
    return a < 0 ? a + size_ : a;
}

quint8 FlashArray::at(qint64 address) const {
    return bytes_.isEmpty() ? 0xFF : quint8(bytes_[wrap(address)]);
}

QByteArray FlashArray::read(qint64 address, qint64 count) const {
    QByteArray out;
    out.reserve(count);
    qint64 a = wrap(address);
    while (count > 0) {
        const qint64 run = std::min(count, size_ - a);
        out += bytes_.isEmpty() ? QByteArray(run, '\xFF') : bytes_.mid(a, run);
        count -= run;
        a = 0;
    }
    return out;
}

void FlashArray::program(qint64 address, quint8 value) {
    if (value == 0xFF)
        return;
    QByteArray& cells = bytes();
    cells[wrap(address)] = char(quint8(cells[wrap(address)]) & value);
}

void FlashArray::erase(qint64 from, qint64 to) {
    if (bytes_.isEmpty())
        return;
    from = std::clamp<qint64>(from, 0, size_);
    to = std::clamp<qint64>(to, from, size_);
    std::fill(bytes_.begin() + from, bytes_.begin() + to, '\xFF');
}

QByteArray& FlashArray::bytes() {
    if (bytes_.isEmpty())
        bytes_ = QByteArray(size_, '\xFF');
    return bytes_;
}

QByteArray FlashArray::contents() const {
    return bytes_.isEmpty() ? QByteArray(size_, '\xFF') : bytes_;
}

void FlashArray::load(const QByteArray& image) {
    QByteArray& cells = bytes();
    std::fill(cells.begin(), cells.end(), '\xFF');
    std::copy_n(image.begin(), std::min<qint64>(image.size(), size_), cells.begin());
}
