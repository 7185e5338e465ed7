#include "sim/BitstreamBuilder.h"

#include "sim/ConfigStream.h"
#include "sim/SeededRandom.h"

#include <QtEndian>

#include <algorithm>

namespace {

// Packet words of one family: 32-bit, or 16-bit (Spartan-3A).
struct Packets {
    int width;

    quint32 noop() const { return width == 32 ? 0x20000000 : 0x2000; }
    quint32 write(int reg, int count) const {
        return width == 32 ? 0x30000000u | quint32(reg) << 13 | quint32(count)
                           : 0x3000u | quint32(reg) << 5 | quint32(count);
    }
    int commandRegister() const { return width == 32 ? 4 : 5; }
    int frameRegister() const { return width == 32 ? 2 : 3; }
};

constexpr quint32 CommandRcrc = 0x07;
constexpr quint32 CommandStart = 0x05;
constexpr quint32 CommandDesync = 0x0D;
constexpr int TrailingNoops = 4;

class Writer {
public:
    explicit Writer(int width)
        : width_(width) {}
    void word(quint32 value) {
        for (int shift = width_ - 8; shift >= 0; shift -= 8)
            bytes.append(char(value >> shift));
    }
    QByteArray bytes;

private:
    int width_;
};

// Everything after the sync word, with the given number of frame data words.
QByteArray packets(const PayloadOptions& o, const Packets& p, qint64 frameWords) {
    Writer w(p.width);
    w.word(p.noop());
    w.word(p.write(p.commandRegister(), 1));
    w.word(CommandRcrc);
    w.word(p.noop());
    if (o.idcode != 0) {
        w.word(p.write(ConfigStream::IdcodeRegister, p.width == 32 ? 1 : 2));
        if (p.width == 16)
            w.word(o.idcode >> 16);
        w.word(p.width == 32 ? o.idcode : o.idcode & 0xFFFF);
    }
    if (o.serverMarker) {
        const bool wide = p.width == 32;
        w.word(p.write(ConfigStream::MarkerRegister, wide ? 1 : 2));
        if (!wide)
            w.word(ConfigStream::ServerMarker >> 16);
        w.word(wide ? ConfigStream::ServerMarker : ConfigStream::ServerMarker & 0xFFFF);
    }
    w.word(p.write(p.frameRegister(), 0));
    if (p.width == 32) {
        w.word(0x50000000u | quint32(frameWords));
    } else {
        w.word(0x5000u | quint32(p.frameRegister()) << 5);
        w.word(quint32(frameWords) >> 16);
        w.word(quint32(frameWords) & 0xFFFF);
    }
    SeededRandom random(o.seed);
    QByteArray frames(frameWords * p.width / 8, '\0');
    // Frame data never holds AA, so that a stream without a sync word cannot find one in it.
    for (char& c : frames) {
        const quint8 b = random.byte();
        c = char(b == 0xAA ? 0xAB : b);
    }
    w.bytes += frames;
    w.word(p.write(p.commandRegister(), 1));
    w.word(CommandStart);
    w.word(p.noop());
    w.word(p.write(p.commandRegister(), 1));
    w.word(CommandDesync);
    for (int i = 0; i < TrailingNoops; ++i)
        w.word(p.noop());
    return w.bytes;
}

QByteArray preSync(const PayloadOptions& o, int padding) {
    QByteArray out(padding, '\xFF');
    if (o.busWidthPattern)
        out += QByteArray::fromHex("000000BB11220044FFFFFFFFFFFFFFFF");
    switch (o.sync) {
    case SyncWord::Word32:
        return out + QByteArray::fromHex("AA995566");
    case SyncWord::Half16:
        return out + QByteArray::fromHex("AA99");
    case SyncWord::None:
        return out + QByteArray::fromHex("FFFFFFFF");
    }
    return out;
}

void appendField(QByteArray& out, char key, const QString& text) {
    const QByteArray value = text.toLatin1() + '\0';
    out.append(key);
    out.append(char(value.size() >> 8)).append(char(value.size()));
    out += value;
}

} // namespace

QByteArray buildConfigPayload(const PayloadOptions& o) {
    const Packets p{o.sync == SyncWord::Half16 ? 16 : 32};
    const int wordBytes = p.width / 8;
    const qint64 fixed = preSync(o, o.padding).size() + packets(o, p, 0).size();
    const qint64 target = std::max(fixed + 3, o.size + 3) / 4 * 4;
    const qint64 frameWords = (target - fixed) / wordBytes;
    const int extraPadding = int((target - fixed) % wordBytes);
    return preSync(o, o.padding + extraPadding) + packets(o, p, frameWords);
}

QByteArray buildBitFile(const QByteArray& payload, const BitFileOptions& o) {
    QByteArray out = QByteArray::fromHex("00090FF00FF00FF00FF0000001");
    appendField(out, 'a', o.designName);
    appendField(out, 'b', o.partName);
    appendField(out, 'c', o.date);
    appendField(out, 'd', o.time);
    out.append('e');
    char length[4];
    qToBigEndian(quint32(payload.size()), length);
    out.append(length, 4);
    return out + payload;
}
