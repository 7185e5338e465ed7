#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>

// What a data file puts into flash, whatever its format: raw bytes, Intel HEX (.hex, .mcs) or
// a bitstream (.bit, whose header is not flash data). Addresses are relative to the offset the
// operator gives; bytes a HEX file does not give are left as they are in flash.
class FlashImage {
public:
    enum class Format { Raw, IntelHex, Bitstream };

    // Raw bytes from address 0, every byte given.
    static FlashImage raw(QByteArray bytes);

    Format format() const { return format_; }
    // One past the highest address given.
    qint64 size() const { return bytes_.size(); }
    bool isEmpty() const { return firstGiven(0) >= size(); }
    bool given(qint64 at) const { return mask_.isEmpty() ? at < size() : at < size() && mask_[at]; }
    // The byte at an address; 0xFF where the image gives none.
    char at(qint64 address) const { return given(address) ? bytes_[address] : char(0xFF); }
    // The first address at or after from that the image gives, or size().
    qint64 firstGiven(qint64 from) const;
    // count bytes from at; addresses the image does not give read as 0xFF.
    QByteArray bytes(qint64 at, qint64 count) const;
    // Gives the byte at an address the image left open (bytes kept from the flash).
    void fill(qint64 at, char value);
    // The same bytes seen from another start: address a here is a - shift there, the new image
    // spans span bytes, and nothing at or past limit in this one is taken.
    FlashImage placed(qint64 shift, qint64 span, qint64 limit) const;
    // Where the image came from, for the console: a bitstream's design and part; else empty.
    const QString& note() const { return note_; }

private:
    friend class FlashImageReader;
    Format format_ = Format::Raw;
    QByteArray bytes_;
    QByteArray mask_; // empty: every byte up to size() is given
    QString note_;
};

// A file that cannot be taken as an image: the message says where and why.
class FlashImageError : public std::runtime_error {
public:
    explicit FlashImageError(const QString& message)
        : std::runtime_error(message.toStdString())
        , message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// No SPI part is larger; an address past it is a wrong file, not an image to allocate.
inline constexpr qint64 MaxImageBytes = 256LL * 1024 * 1024;

// Reads an image from the file's contents. Intel HEX is recognised by its first character past an
// optional UTF-8 byte-order mark and blanks, ':'; a bitstream by its header; anything else is
// raw. limit is the room the target has from the image's address 0: a HEX record past it is
// refused (raw bytes and bitstreams are counted by the caller). Throws FlashImageError.
FlashImage readFlashImage(const QByteArray& contents, qint64 limit = MaxImageBytes);
// Reads a file whole and decodes it; a file that cannot be read is refused with the system's words.
FlashImage loadFlashImage(const QString& path, qint64 limit = MaxImageBytes);
// True when contents would be read as something other than raw bytes.
bool isEncodedImage(const QByteArray& contents);
// Whether a file that begins with head may be encoded: only such a file needs reading whole.
bool mayBeEncodedImage(const QByteArray& head);
// The bytes an image file puts into flash: its decoded length, or the file's size when it is raw
// or cannot be decoded (the operation then says why).
qint64 flashImageLength(const QString& path);
