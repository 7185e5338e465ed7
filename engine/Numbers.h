#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// The one way the command line reads a number: a byte count in decimal or with 0x in
// hexadecimal, an offset in hexadecimal (0x optional). Nothing else is a number: no sign, no
// fraction, no other prefix, nothing past the limit.
namespace numbers {

struct Parsed {
    std::optional<std::int64_t> value;
    QString error; // why the text is not a number, when it is not
};

// Largest value any number may take: the largest address any part reaches.
constexpr std::int64_t Largest = 0xFFFFFFFFLL;

Parsed count(const QString& text, const QString& name);
Parsed hex(const QString& text, const QString& name);

} // namespace numbers
