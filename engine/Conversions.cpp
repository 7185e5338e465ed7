#include "engine/Conversions.h"

#include "engine/RuntimeError.h"

#include <cmath>
#include <limits>

namespace conv {

static RuntimeError typeMismatch() {
    return RuntimeError(RuntimeError::TypeMismatch, "Type mismatch");
}
static RuntimeError overflow() {
    return RuntimeError(RuntimeError::Overflow, "Overflow");
}

static bool parseDecimal(const QString& text, double& out) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    if (t.startsWith("&H", Qt::CaseInsensitive)) {
        bool ok = false;
        const qlonglong v = t.mid(2).toLongLong(&ok, 16);
        out = double(v);
        return ok && t.size() > 2;
    }
    bool ok = false;
    // Plain digits with an optional sign and fraction; no exponent, no thousands separators.
    for (QChar c : t)
        if (!(c.isDigit() || c == '+' || c == '-' || c == '.'))
            return false;
    out = t.toDouble(&ok);
    return ok;
}

bool isNumeric(const QString& text) {
    double v = 0;
    return parseDecimal(text, v);
}

template <typename T> static T toInt(const QString& text) {
    double v = 0;
    if (!parseDecimal(text, v))
        throw typeMismatch();
    // Checked before rounding: a 64-bit integer cannot hold "99999999999999999999".
    if (!(std::fabs(v) < 0x1p62))
        throw overflow();
    const double r = double(roundHalfEven(v));
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max()))
        throw overflow();
    return T(r);
}

std::int16_t toInt16(const QString& text) {
    return toInt<std::int16_t>(text);
}
std::int32_t toInt32(const QString& text) {
    return toInt<std::int32_t>(text);
}

static int hexDigit(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

std::int32_t hexToInt32(const QString& digits) {
    if (digits.isEmpty())
        throw typeMismatch();
    std::int64_t v = 0;
    for (QChar c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            throw typeMismatch();
        v = v * 16 + d;
        if (v > std::numeric_limits<std::int32_t>::max())
            throw overflow();
    }
    return std::int32_t(v);
}

QString hexUpper(std::int64_t value) {
    return QString::number(value, 16).toUpper();
}

QByteArray hexToBytes(const QString& text, int count) {
    QString t = text;
    while (t.size() < 2 * count)
        t.prepend('0');
    QByteArray out;
    for (int i = 0; i < t.size(); i += 2) {
        if (i + 1 >= t.size())
            throw RuntimeError(RuntimeError::SubscriptOutOfRange, "Invalid hexadecimal text");
        const int hi = hexDigit(t[i]);
        const int lo = hexDigit(t[i + 1]);
        if (hi < 0 || lo < 0)
            throw typeMismatch();
        out.append(char(hi * 16 + lo));
    }
    return out;
}

std::int64_t roundHalfEven(double value) {
    return std::int64_t(std::nearbyint(value));
}

int percent(std::int64_t done, std::int64_t total) {
    if (total <= 0)
        return 0;
    // Exact halves: compare twice the remainder with the divisor.
    const std::int64_t num = done * 100;
    std::int64_t q = num / total;
    const std::int64_t r2 = 2 * (num % total);
    if (r2 > total || (r2 == total && (q % 2) != 0))
        ++q;
    return int(q);
}

} // namespace conv
