// The text-to-number conversions on arbitrary text. The first byte picks the conversion; a
// conversion either answers or throws the run-time failure it documents, and the answers agree
// with one another.
#include "FuzzSupport.h"
#include "engine/Conversions.h"
#include "engine/RuntimeError.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <optional>

namespace {

template <typename F> std::optional<std::int64_t> attempt(F f, int* failure) {
    try {
        return std::int64_t(f());
    } catch (const RuntimeError& e) {
        *failure = e.number();
        return std::nullopt;
    }
}

bool allHex(const QString& t) {
    for (QChar c : t)
        if (!QByteArray("0123456789abcdefABCDEF")
                 .contains(char(c.unicode() < 0x80 ? c.unicode() : 0)))
            return false;
    return true;
}

void decimal(const QString& text) {
    int f32 = 0, f16 = 0;
    const auto v32 = attempt([&] { return conv::toInt32(text); }, &f32);
    const auto v16 = attempt([&] { return conv::toInt16(text); }, &f16);
    const bool numeric = conv::isNumeric(text);
    FUZZ_CHECK(numeric == (f32 != RuntimeError::TypeMismatch));
    FUZZ_CHECK(numeric == (f16 != RuntimeError::TypeMismatch));
    if (!v32)
        FUZZ_CHECK(f32 == RuntimeError::TypeMismatch || f32 == RuntimeError::Overflow);
    if (!v16)
        FUZZ_CHECK(f16 == RuntimeError::TypeMismatch || f16 == RuntimeError::Overflow);
    if (v16)
        FUZZ_CHECK(v32 && *v32 == *v16);
    if (v32 && *v32 >= INT16_MIN && *v32 <= INT16_MAX)
        FUZZ_CHECK(v16 && *v16 == *v32);
}

void hexNumber(const QString& text) {
    int failure = 0;
    const auto v = attempt([&] { return conv::hexToInt32(text); }, &failure);
    if (!v) {
        FUZZ_CHECK(failure == RuntimeError::TypeMismatch || failure == RuntimeError::Overflow);
        FUZZ_CHECK(failure == RuntimeError::Overflow || text.isEmpty() || !allHex(text));
        return;
    }
    FUZZ_CHECK(*v >= 0 && allHex(text));
    QString digits = text.toUpper();
    while (digits.size() > 1 && digits.startsWith('0'))
        digits.remove(0, 1);
    FUZZ_CHECK(conv::hexUpper(*v) == digits);
}

void hexBytes(const QString& text, int count) {
    try {
        const QByteArray out = conv::hexToBytes(text, count);
        FUZZ_CHECK(allHex(text));
        const qsizetype digits = std::max<qsizetype>(text.size(), 2 * qsizetype(count));
        FUZZ_CHECK(out.size() == digits / 2);
        QString padded = text;
        while (padded.size() < 2 * count)
            padded.prepend('0');
        FUZZ_CHECK(out == QByteArray::fromHex(padded.toLatin1()));
    } catch (const RuntimeError& e) {
        FUZZ_CHECK(e.number() == RuntimeError::TypeMismatch ||
                   e.number() == RuntimeError::SubscriptOutOfRange);
        FUZZ_CHECK(!allHex(text) || (text.size() % 2 != 0 && text.size() > 2 * count));
    }
}

void roundTrip(std::uint32_t value) {
    const QByteArray four = conv::hexToBytes(conv::hexUpper(value), 4);
    FUZZ_CHECK(four.size() == 4);
    std::uint32_t back = 0;
    for (char c : four)
        back = back << 8 | std::uint8_t(c);
    FUZZ_CHECK(back == value);
}

void percentage(std::int32_t done, std::int32_t total) {
    const int p = conv::percent(done, total);
    if (total <= 0) {
        FUZZ_CHECK(p == 0);
        return;
    }
    if (done >= 0 && done <= total) {
        FUZZ_CHECK(p >= 0 && p <= 100);
        FUZZ_CHECK(p == 100 || done < total);
        if (done < total)
            FUZZ_CHECK(p <= conv::percent(done + 1, total));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int which = in.ConsumeIntegralInRange(0, 5);
    switch (which) {
    case 0:
    case 1: {
        // Operators type Latin-1 and Unicode alike (full-width digits, other scripts' digits).
        const std::string raw = in.ConsumeRemainingBytesAsString();
        const QString text = which == 0 ? QString::fromLatin1(raw.data(), qsizetype(raw.size()))
                                        : QString::fromUtf8(raw.data(), qsizetype(raw.size()));
        decimal(text);
        hexNumber(text);
        break;
    }
    case 2: {
        const int count = in.ConsumeIntegralInRange(0, 8);
        const std::string raw = in.ConsumeRemainingBytesAsString();
        hexBytes(QString::fromLatin1(raw.data(), qsizetype(raw.size())), count);
        break;
    }
    case 3:
        roundTrip(in.ConsumeIntegral<std::uint32_t>());
        break;
    case 4:
        percentage(in.ConsumeIntegral<std::int32_t>(), in.ConsumeIntegral<std::int32_t>());
        break;
    case 5: {
        const double v = in.ConsumeFloatingPointInRange<double>(-1e15, 1e15);
        const std::int64_t r = conv::roundHalfEven(v);
        FUZZ_CHECK(double(r) - v <= 0.5 && v - double(r) <= 0.5);
        break;
    }
    }
    return 0;
}
