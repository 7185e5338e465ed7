#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// Text-to-number conversions with the run-time failures the sequences report: a text that is
// not a number is a type mismatch (13), a value that does not fit is an overflow (6).
namespace conv {

// A decimal integer, optionally signed and surrounded by blanks; fractions round half to even.
std::int16_t toInt16(const QString& text);
std::int32_t toInt32(const QString& text);
// Whether toInt32 would accept the text as a number (any size).
bool isNumeric(const QString& text);

// Hexadecimal digits (either case) as a non-negative 32-bit value. Short texts beginning with
// 8 to F are positive too: an offset is never negative.
std::int32_t hexToInt32(const QString& digits);

// Upper-case hexadecimal without leading zeros ("0" for zero).
QString hexUpper(std::int64_t value);

// Hexadecimal text to count bytes, most significant first; the text is padded on the left with
// "0" to 2 x count digits, a longer text is not cut. Lower-case digits are read as upper case.
QByteArray hexToBytes(const QString& text, int count);

// Rounds to the nearest integer, a half to the even neighbour; the value must lie within
// +/- 2^62.
std::int64_t roundHalfEven(double value);
// Percentage done, rounded half to even; computed wide so that any 32-bit length works.
int percent(std::int64_t done, std::int64_t total);

// Byte texts: one character per byte.
inline QString bytesToText(const QByteArray& bytes) {
    return QString::fromLatin1(bytes);
}
inline QByteArray textToBytes(const QString& text) {
    return text.toLatin1();
}

} // namespace conv
