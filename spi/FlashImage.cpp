#include "spi/FlashImage.h"

#include <QFile>
#include <QList>

namespace {

const QByteArray BitPreamble = QByteArray::fromHex("00090ff00ff00ff00ff0000001");
// No SPI part is larger; an address past it is a wrong file, not an image to allocate.
constexpr qint64 MaxImageBytes = 256LL * 1024 * 1024;

bool looksLikeHex(const QByteArray& contents) {
    qsizetype i = 0;
    while (i < contents.size() && QByteArrayView(" \t\r\n").contains(contents[i]))
        ++i;
    if (i >= contents.size() || contents[i] != ':')
        return false;
    for (const char c : contents)
        if ((c < 0x20 || c > 0x7E) && c != '\r' && c != '\n' && c != '\t')
            return false;
    return true;
}

} // namespace

class FlashImageReader {
public:
    static FlashImage hex(const QByteArray& contents);
    static FlashImage bitstream(const QByteArray& contents);
};

FlashImage FlashImage::raw(QByteArray bytes) {
    FlashImage image;
    image.bytes_ = std::move(bytes);
    return image;
}

qint64 FlashImage::firstGiven(qint64 from) const {
    if (mask_.isEmpty())
        return std::clamp<qint64>(from, 0, size());
    for (qint64 at = std::max<qint64>(from, 0); at < size(); ++at)
        if (mask_[at])
            return at;
    return size();
}

QByteArray FlashImage::bytes(qint64 at, qint64 count) const {
    QByteArray out(count, char(0xFF));
    for (qint64 i = 0; i < count; ++i)
        out[i] = this->at(at + i);
    return out;
}

void FlashImage::fill(qint64 at, char value) {
    if (at < 0 || at >= size() || given(at))
        return;
    bytes_[at] = value;
    mask_[at] = 1;
}

FlashImage FlashImage::placed(qint64 shift, qint64 span, qint64 limit) const {
    FlashImage out;
    out.format_ = format_;
    out.note_ = note_;
    out.bytes_ = QByteArray(span, char(0xFF));
    out.mask_ = QByteArray(span, 0);
    for (qint64 at = std::max<qint64>(shift, 0); at < span; ++at) {
        const qint64 from = at - shift;
        if (from >= std::min(limit, size()))
            break;
        if (given(from)) {
            out.bytes_[at] = bytes_[from];
            out.mask_[at] = 1;
        }
    }
    return out;
}

FlashImage FlashImageReader::hex(const QByteArray& contents) {
    struct Record {
        qint64 address;
        QByteArray data;
        qsizetype line;
    };
    QList<Record> records;
    qint64 base = 0, end = 0;
    bool ended = false;
    const QList<QByteArray> lines = contents.split('\n');
    for (qsizetype n = 0; n < lines.size() && !ended; ++n) {
        const QByteArray line = lines[n].trimmed();
        const auto refuse = [&](const QString& why) {
            return FlashImageError(QString("Intel HEX line %1: %2").arg(n + 1).arg(why));
        };
        if (line.isEmpty())
            continue;
        if (!line.startsWith(':'))
            throw refuse("it does not start with ':'");
        const QByteArray digits = line.mid(1);
        const QByteArray bytes = QByteArray::fromHex(digits);
        if (digits.size() % 2 != 0 || bytes.toHex().toUpper() != digits.toUpper() ||
            bytes.size() < 5)
            throw refuse("it is not a record of hexadecimal digits");
        const int count = quint8(bytes[0]);
        if (bytes.size() != count + 5)
            throw refuse(QString("its length says %1 data bytes, it holds %2")
                             .arg(count)
                             .arg(bytes.size() - 5));
        quint8 sum = 0;
        for (const char b : bytes)
            sum += quint8(b);
        if (sum != 0)
            throw refuse("its checksum is wrong");
        const qint64 offset = (quint8(bytes[1]) << 8) | quint8(bytes[2]);
        const QByteArray data = bytes.mid(4, count);
        const auto value16 = [&] {
            if (count != 2)
                throw refuse("an address record must hold 2 bytes");
            return qint64((quint8(data[0]) << 8) | quint8(data[1]));
        };
        switch (quint8(bytes[3])) {
        case 0x00:
            records.append({base + offset, data, n + 1});
            end = std::max(end, base + offset + count);
            if (end > MaxImageBytes)
                throw refuse("its address lies beyond 256 MiB");
            break;
        case 0x01:
            ended = true;
            break;
        case 0x02:
            base = value16() << 4;
            break;
        case 0x04:
            base = value16() << 16;
            break;
        case 0x03:
        case 0x05:
            // Start addresses mean nothing to a flash.
            break;
        default:
            throw refuse(
                QString("record type %1 is not known").arg(quint8(bytes[3]), 2, 16, QChar('0')));
        }
    }
    FlashImage image;
    image.format_ = FlashImage::Format::IntelHex;
    image.bytes_ = QByteArray(end, char(0xFF));
    image.mask_ = QByteArray(end, 0);
    for (const Record& r : records)
        for (qsizetype i = 0; i < r.data.size(); ++i) {
            const qint64 at = r.address + i;
            if (image.mask_[at] && image.bytes_[at] != r.data[i])
                throw FlashImageError(
                    QString("Intel HEX line %1: address 0x%2 was given before, with another value")
                        .arg(r.line)
                        .arg(QString::number(at, 16).toUpper()));
            image.bytes_[at] = r.data[i];
            image.mask_[at] = 1;
        }
    return image;
}

FlashImage FlashImageReader::bitstream(const QByteArray& contents) {
    qsizetype at = BitPreamble.size();
    QString design, part;
    const auto fail = [] { return FlashImageError("The bitstream header is cut short."); };
    while (at < contents.size()) {
        const char key = contents[at++];
        if (key == 'e') {
            if (at + 4 > contents.size())
                throw fail();
            const qint64 length = (qint64(quint8(contents[at])) << 24) |
                                  (quint8(contents[at + 1]) << 16) |
                                  (quint8(contents[at + 2]) << 8) | quint8(contents[at + 3]);
            at += 4;
            if (length > contents.size() - at)
                throw FlashImageError(QString("The bitstream is cut short: its header gives %1 "
                                              "bytes of data, the file holds %2.")
                                          .arg(length)
                                          .arg(contents.size() - at));
            FlashImage image;
            image.format_ = FlashImage::Format::Bitstream;
            image.bytes_ = contents.mid(at, length);
            image.note_ = QString("Bitstream %1 for %2, %3 bytes").arg(design, part).arg(length);
            return image;
        }
        if (at + 2 > contents.size())
            throw fail();
        const int length = (quint8(contents[at]) << 8) | quint8(contents[at + 1]);
        at += 2;
        if (at + length > contents.size())
            throw fail();
        const QString text = QString::fromLatin1(contents.mid(at, length)).section(QChar(0), 0, 0);
        if (key == 'a')
            design = text.section(';', 0, 0);
        else if (key == 'b')
            part = text;
        at += length;
    }
    throw fail();
}

bool mayBeEncodedImage(const QByteArray& head) {
    return head.startsWith(BitPreamble) || head.trimmed().startsWith(':');
}

bool isEncodedImage(const QByteArray& contents) {
    return contents.startsWith(BitPreamble) || looksLikeHex(contents);
}

FlashImage readFlashImage(const QByteArray& contents) {
    if (contents.startsWith(BitPreamble))
        return FlashImageReader::bitstream(contents);
    if (looksLikeHex(contents))
        return FlashImageReader::hex(contents);
    return FlashImage::raw(contents);
}

qint64 flashImageLength(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // Only a file that begins like an encoded one is read whole.
    if (!mayBeEncodedImage(file.peek(4096)))
        return file.size();
    try {
        return readFlashImage(file.readAll()).size();
    } catch (const FlashImageError&) {
        return file.size();
    }
}
