#include "sim/BpiServer.h"

#include <QtEndian>
#include <algorithm>

namespace {

quint32 bigEndianAt(const QByteArray& bytes, int at) {
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

} // namespace

BpiServer::BpiServer(CfiFlash& flash, ReplySink& out, std::int64_t latencyUs,
                     std::int64_t silentAfterBytes)
    : flash_(flash)
    , out_(out)
    , latencyUs_(latencyUs)
    , silentAfter_(silentAfterBytes) {}

void BpiServer::stop() {
    phase_ = Phase::Idle;
    header_.clear();
    burstData_.clear();
}

// Bytes up to the limit are still served in full; the server hangs after them.
bool BpiServer::count(int bytes) {
    if (hung())
        return false;
    received_ += bytes;
    return true;
}

void BpiServer::reply(const QByteArray& bytes, std::int64_t nowUs) {
    out_.send(bytes, std::max(nowUs, busyUntilUs_) + latencyUs_);
}

QString BpiServer::idText() const {
    const auto hex = [](int value, int digits) {
        return "0x" + QString::number(value, 16).toUpper().rightJustified(digits, '0');
    };
    const CfiChipSpec& chip = flash_.chip();
    QString text =
        "Flash " + chip.name + ": manufacturer ID " + hex(chip.manufacturer, 2) + ", device ID";
    for (quint16 word : chip.deviceId)
        text += " " + hex(word, 4);
    return text + "\r\n";
}

void BpiServer::command(char letter, std::int64_t nowUs) {
    if (!count(2))
        return;
    switch (letter) {
    case 'x':
        reply(Banner, nowUs);
        return;
    case 'i':
        reply(idText().toLatin1(), nowUs);
        return;
    case 'e':
        reply("Erasing flash...\r\n", nowUs);
        busyUntilUs_ = flash_.eraseChip(std::max(nowUs, busyUntilUs_));
        erasingUntilUs_ = busyUntilUs_;
        heldInFifo_ = 0;
        reply("Erase complete\r\n", nowUs);
        return;
    case 'w':
        reply("w\r\n", nowUs);
        phase_ = Phase::WriteHeader;
        header_.clear();
        return;
    case 'r':
    case 'v':
        reply(QByteArray(1, letter) + "\r\n", nowUs);
        phase_ = Phase::ReadHeader;
        header_.clear();
        return;
    default:
        reply("Unknown command\r\n", nowUs);
    }
}

bool BpiServer::fifoTakes(std::int64_t nowUs, int bytes) {
    if (nowUs >= erasingUntilUs_)
        return true;
    heldInFifo_ += bytes;
    return heldInFifo_ <= RxFifoBytes;
}

void BpiServer::receive(quint8 byte, std::int64_t nowUs) {
    if (phase_ == Phase::Idle || !count(1))
        return;
    if (phase_ == Phase::Discard) {
        if (--position_ <= 0)
            phase_ = Phase::Idle;
        return;
    }
    if (phase_ == Phase::WriteData) {
        burstData_.append(char(byte));
        const qint64 length = burstLength();
        if (burstData_.size() == length + (length & 1))
            burstComplete(nowUs);
        return;
    }
    header_.append(char(byte));
    if (header_.size() == (phase_ == Phase::WriteHeader ? 12 : 8))
        headerComplete(nowUs);
}

qint64 BpiServer::burstLength() const {
    return std::min<qint64>(burst_, qint64(count_) - position_);
}

void BpiServer::headerComplete(std::int64_t nowUs) {
    offset_ = bigEndianAt(header_, 0);
    count_ = bigEndianAt(header_, 4);
    if (phase_ == Phase::ReadHeader) {
        reply(flash_.read(offset_, count_), nowUs);
        phase_ = Phase::Idle;
        return;
    }
    burst_ = bigEndianAt(header_, 8);
    position_ = 0;
    burstData_.clear();
    if (refuseWrite(nowUs))
        return;
    // A zero burst could never move on; the firmware takes it as nothing to write.
    phase_ = count_ > 0 && burst_ > 0 ? Phase::WriteData : Phase::Idle;
}

// The flash takes whole words, and a burst must fit the buffer: a write that breaks either
// is answered with a line in place of the first "A", and its data is read and dropped.
bool BpiServer::refuseWrite(std::int64_t nowUs) {
    const bool odd = offset_ % 2 != 0;
    if (!odd && burst_ <= BurstBufferBytes)
        return false;
    reply(odd ? "Odd offset\r\n" : "Burst too large\r\n", nowUs);
    position_ = qint64(count_) + (count_ & 1);
    phase_ = position_ > 0 ? Phase::Discard : Phase::Idle;
    return true;
}

// The padding byte of an odd burst is dropped, yet counts towards the position.
void BpiServer::burstComplete(std::int64_t nowUs) {
    const qint64 length = burstLength();
    const std::int64_t start = std::max(nowUs, busyUntilUs_);
    busyUntilUs_ = flash_.program(qint64(offset_) + position_, burstData_.left(length), start);
    reply("A", nowUs);
    position_ += length + (length & 1);
    burstData_.clear();
    if (position_ >= count_)
        phase_ = Phase::Idle;
}
