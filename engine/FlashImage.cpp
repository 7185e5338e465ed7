#include "engine/FlashImage.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <system_error>

namespace {

const QByteArray BitPreamble = QByteArray::fromHex("00090ff00ff00ff00ff0000001");
// Editors on Windows put one before the text.
const QByteArray ByteOrderMark = "\xEF\xBB\xBF";
constexpr char CtrlZ = 0x1A; // DOS tools end a text file with it

bool isBlank(char c) {
    return QByteArrayView(" \t\r\n").contains(c);
}

// Where a text's first character is, past a byte-order mark and blanks; size() if none.
qsizetype textStart(const QByteArray& contents) {
    qsizetype i = contents.startsWith(ByteOrderMark) ? ByteOrderMark.size() : 0;
    while (i < contents.size() && isBlank(contents[i]))
        ++i;
    return i;
}

// A file that starts like HEX is HEX: one that does not parse is refused, never taken as raw.
// A record is text: ':' and printable characters up to the end of its line. A raw image that
// merely starts with the byte of ':' (0x3A) has other bytes soon after it, and stays raw; a
// HEX file with a typing error or cut short is still HEX, and refused for it.
bool looksLikeHex(const QByteArray& contents) {
    const qsizetype i = textStart(contents);
    if (i >= contents.size() || contents[i] != ':')
        return false;
    const QByteArray next = contents.mid(i + 1, 10);
    qsizetype lineEnd = next.size();
    for (const char stop : {'\r', '\n'})
        if (const qsizetype at = next.indexOf(stop); at >= 0)
            lineEnd = std::min(lineEnd, at);
    const QByteArray line = next.left(lineEnd);
    return !line.isEmpty() &&
           std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

} // namespace

class FlashImageReader {
public:
    static FlashImage hex(const QByteArray& contents, qint64 limit);
    static FlashImage bitstream(const QByteArray& contents);

    struct HexRecord {
        qint64 address;
        QByteArray data;
        qsizetype line;
    };
    // The image the records give, erased where none does.
    static FlashImage fromRecords(const QList<HexRecord>& records, qint64 end);
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

// A record's bytes, once its digits, its length and its checksum agree.
template <typename Refuse> QByteArray hexRecordBytes(const QByteArray& line, const Refuse& refuse) {
    const QByteArray digits = line.mid(1);
    const QByteArray bytes = QByteArray::fromHex(digits);
    if (digits.size() % 2 != 0 || bytes.toHex().toUpper() != digits.toUpper() || bytes.size() < 5)
        throw refuse("it is not a record of hexadecimal digits");
    const int count = quint8(bytes[0]);
    if (bytes.size() != count + 5)
        throw refuse(
            QString("its length says %1 data bytes, it holds %2").arg(count).arg(bytes.size() - 5));
    quint8 sum = 0;
    for (const char b : bytes)
        sum += quint8(b);
    if (sum != 0)
        throw refuse("its checksum is wrong");
    return bytes;
}

// The records' lines: without a byte order mark before them, or blanks and an end-of-file
// character after them.
static QByteArray hexLines(QByteArray contents) {
    if (contents.startsWith(ByteOrderMark))
        contents.remove(0, ByteOrderMark.size());
    while (!contents.isEmpty() && (contents.back() == CtrlZ || isBlank(contents.back())))
        contents.chop(1);
    return contents;
}

FlashImage FlashImageReader::hex(const QByteArray& contents, qint64 limit) {
    QList<HexRecord> records;
    qint64 base = 0, end = 0;
    bool ended = false;
    const QList<QByteArray> lines = hexLines(contents).split('\n');
    for (qsizetype n = 0; n < lines.size() && !ended; ++n) {
        const QByteArray line = lines[n].trimmed();
        const auto refuse = [&](const QString& why) {
            return FlashImageError(QString("Intel HEX line %1: %2").arg(n + 1).arg(why));
        };
        if (line.isEmpty())
            continue;
        if (!line.startsWith(':'))
            throw refuse("it does not start with ':'");
        const QByteArray bytes = hexRecordBytes(line, refuse);
        const int count = quint8(bytes[0]);
        const qint64 offset = (quint8(bytes[1]) << 8) | quint8(bytes[2]);
        const QByteArray data = bytes.mid(4, count);
        const auto value16 = [&] {
            if (count != 2)
                throw refuse("an address record must hold 2 bytes");
            return qint64((quint8(data[0]) << 8) | quint8(data[1]));
        };
        switch (quint8(bytes[3])) {
        case 0x00:
            // Checked before anything the size of the address is allocated.
            if (base + offset + count > limit)
                throw refuse(QString("its data at 0x%1 reaches beyond the %2 bytes the target "
                                     "holds from the offset")
                                 .arg(QString::number(base + offset, 16).toUpper())
                                 .arg(limit));
            records.append({base + offset, data, n + 1});
            end = std::max(end, base + offset + count);
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
    if (!ended)
        throw FlashImageError("Intel HEX: the file ends without its end record (:00000001FF); "
                              "it may be cut short.");
    return fromRecords(records, end);
}

FlashImage FlashImageReader::fromRecords(const QList<HexRecord>& records, qint64 end) {
    FlashImage image;
    image.format_ = FlashImage::Format::IntelHex;
    image.bytes_ = QByteArray(end, char(0xFF));
    image.mask_ = QByteArray(end, 0);
    for (const HexRecord& r : records)
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
    // A head of blanks only may go on with a record.
    return head.startsWith(BitPreamble) || textStart(head) == head.size() || looksLikeHex(head);
}

bool isEncodedImage(const QByteArray& contents) {
    return contents.startsWith(BitPreamble) || looksLikeHex(contents);
}

FlashImage readFlashImage(const QByteArray& contents, qint64 limit) {
    if (contents.startsWith(BitPreamble))
        return FlashImageReader::bitstream(contents);
    if (looksLikeHex(contents))
        return FlashImageReader::hex(contents, limit);
    return FlashImage::raw(contents);
}

FlashImage loadFlashImage(const QString& path, qint64 limit) {
    // Qt has its own words for a folder; the system's are the ones the operator knows.
    if (QFileInfo(path).isDir())
        throw FlashImageError(
            QString::fromStdString(std::make_error_code(std::errc::is_a_directory).message()) +
            ": " + path);
    QFile file(path);
    QByteArray contents;
    if (file.open(QIODevice::ReadOnly))
        contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw FlashImageError(file.errorString() + ": " + path);
    return readFlashImage(contents, limit);
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
