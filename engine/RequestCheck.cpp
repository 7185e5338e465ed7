#include "engine/RequestCheck.h"

namespace requestcheck {

QString hexAddress(std::int64_t value) {
    return "0x" + QString::number(value, 16).toUpper();
}

QString timing(const OperationRequest::Timing& t) {
    if (t.ackIntervalMs < 1 || t.ackIntervalMs > 32767)
        return QString("The timer interval is %1 ms; it must be 1 to 32767.").arg(t.ackIntervalMs);
    if (t.timeoutLimit < 0 || t.timeoutLimit > 32766)
        return QString("The time-out limit is %1; it must be 0 to 32766.").arg(t.timeoutLimit);
    if (t.pollLimit < 1)
        return QString("The poll limit is %1; it must be at least 1.").arg(t.pollLimit);
    return {};
}

QString range(const OperationRequest& r, std::int64_t size, const QString& what) {
    if (r.offset < 0 || r.offset >= size)
        return QString("The offset %1 lies beyond the %2 bytes of %3 (its last address is %4).")
            .arg(hexAddress(r.offset))
            .arg(size)
            .arg(what, hexAddress(size - 1));
    if (r.count <= 0)
        return QString("The byte count is %1; it must be at least 1.").arg(r.count);
    if (r.count > size - r.offset)
        return QString("%1 bytes from offset %2 end at %3, past the end of %4 (%5 bytes, the last "
                       "address %6).")
            .arg(r.count)
            .arg(hexAddress(r.offset), hexAddress(r.offset + r.count - 1), what)
            .arg(size)
            .arg(hexAddress(size - 1));
    return {};
}

QString bpi(const OperationRequest& r, std::int64_t flashSize) {
    if (const QString why = timing(r.timing); !why.isEmpty())
        return why;
    if (!r.usesRange())
        return {};
    if (r.kind == OperationRequest::Kind::BpiProgram &&
        (r.burst < 2 || r.burst > LargestBurst || r.burst % 2 != 0))
        return QString("The BPI burst size is %1; it must be an even number of bytes from 2 to %2.")
            .arg(r.burst)
            .arg(LargestBurst);
    // The server writes whole 16-bit words: it refuses an odd start.
    if (r.kind == OperationRequest::Kind::BpiProgram && r.offset % 2 != 0)
        return QString("The BPI offset %1 is odd; the parallel flash is programmed in 16-bit "
                       "words, from an even offset.")
            .arg(hexAddress(r.offset));
    return range(r, flashSize, "the parallel flash");
}

} // namespace requestcheck
