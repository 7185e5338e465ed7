#pragma once

#include <QByteArray>

// The cells of a NOR flash: erased to FF, programmed only from 1 to 0. Addresses wrap at the
// end as the address decoder drops the high bits. Storage is allocated on first change, since
// a board carries 18 MiB of flash and most tests touch little of it.
class FlashArray {
public:
    explicit FlashArray(qint64 size)
        : size_(size) {}

    qint64 size() const { return size_; }
    quint8 at(qint64 address) const;
    QByteArray read(qint64 address, qint64 count) const;
    void program(qint64 address, quint8 value);
    void erase(qint64 from, qint64 to);
    void eraseAll() { bytes_.clear(); }

    // The whole array, for tests and image files.
    QByteArray& bytes();
    QByteArray contents() const;
    void load(const QByteArray& image);

private:
    qint64 wrap(qint64 address) const;

    qint64 size_;
    QByteArray bytes_; // empty while the whole array is erased
};
