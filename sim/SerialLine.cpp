#include "sim/SerialLine.h"

#include <algorithm>
#include <cmath>

double LineTiming::occupy(qint64 count, std::int64_t readyUs) {
    const double start = std::max(double(readyUs), freeUs_);
    freeUs_ = start + double(count) * byteUs_;
    return start;
}

std::int64_t LineTiming::arrivalUs(double startUs, qint64 index) const {
    return std::int64_t(std::ceil(startUs + double(index + 1) * byteUs_));
}

void OutputQueue::push(const QByteArray& bytes, std::int64_t readyUs) {
    if (bytes.isEmpty())
        return;
    const double start = timing_.occupy(bytes.size(), readyUs);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        hand(bytes[i], timing_.arrivalUs(start, i));
}

void OutputQueue::hand(char value, std::int64_t arrivalUs) {
    if (usb_.frameUs <= 0) {
        bytes_.push_back({arrivalUs, value});
        return;
    }
    if (packetCount_ > 0 && arrivalUs >= packetDueUs_)
        packetCount_ = 0;
    if (packetCount_ == 0)
        packetDueUs_ = nextFrameUs(arrivalUs + usb_.latencyTimerUs);
    bytes_.push_back({packetDueUs_, value});
    if (++packetCount_ < usb_.packetBytes)
        return;
    // A full packet leaves with the next frame, whatever the timer says.
    const std::int64_t due = std::min(packetDueUs_, nextFrameUs(arrivalUs));
    for (auto it = bytes_.end() - packetCount_; it != bytes_.end(); ++it)
        it->atUs = due;
    packetCount_ = 0;
}

QByteArray OutputQueue::take(std::int64_t nowUs, qint64 maxBytes) {
    QByteArray out;
    while (!bytes_.empty() && bytes_.front().atUs <= nowUs &&
           (maxBytes < 0 || out.size() < maxBytes)) {
        out.append(bytes_.front().value);
        bytes_.pop_front();
    }
    packetCount_ = std::min<int>(packetCount_, int(bytes_.size()));
    return out;
}

std::int64_t OutputQueue::nextUs() const {
    return bytes_.empty() ? -1 : bytes_.front().atUs;
}
