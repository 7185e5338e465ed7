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
    chunks_.push_back({timing_.occupy(bytes.size(), readyUs), bytes});
}

QByteArray OutputQueue::take(std::int64_t nowUs, qint64 maxBytes) {
    QByteArray out;
    while (!chunks_.empty() && (maxBytes < 0 || out.size() < maxBytes)) {
        Chunk& c = chunks_.front();
        qint64 end = c.bytes.size();
        if (timing_.arrivalUs(c.startUs, end - 1) > nowUs) {
            // Only part of this run has arrived: find how much.
            const double room = (double(nowUs) - c.startUs) / std::max(timing_.byteUs(), 1e-9);
            end = std::clamp<qint64>(qint64(std::floor(room)), c.taken, end);
            while (end > c.taken && timing_.arrivalUs(c.startUs, end - 1) > nowUs)
                --end;
        }
        if (maxBytes >= 0)
            end = std::min(end, c.taken + maxBytes - out.size());
        out += c.bytes.mid(c.taken, end - c.taken);
        c.taken = end;
        if (c.taken < c.bytes.size())
            break;
        chunks_.pop_front();
    }
    return out;
}

std::int64_t OutputQueue::nextUs() const {
    if (chunks_.empty())
        return -1;
    const Chunk& c = chunks_.front();
    return timing_.arrivalUs(c.startUs, c.taken);
}
