#include "engine/Numbers.h"

namespace numbers {

static Parsed digits(const QString& given, const QString& name, int base) {
    QString text = given;
    const bool prefixed = text.startsWith("0x", Qt::CaseInsensitive);
    if (prefixed)
        text = text.mid(2);
    const auto refuse = [&](const QString& why) { return Parsed{std::nullopt, name + " " + why}; };
    if (prefixed)
        base = 16;
    if (text.isEmpty())
        return refuse(QString("must be a number, not '%1'").arg(given));
    std::int64_t value = 0;
    for (const QChar c : text) {
        const int digit = c.isDigit() && c.unicode() < 128 ? c.unicode() - '0'
                          : base == 16 && c.toLower() >= 'a' && c.toLower() <= 'f'
                              ? c.toLower().unicode() - 'a' + 10
                              : -1;
        if (digit < 0)
            return refuse(base == 16 ? QString("must be hexadecimal digits, not '%1'").arg(given)
                                     : QString("must be a whole number (decimal, or hexadecimal "
                                               "after 0x), not '%1'")
                                           .arg(given));
        value = value * base + digit;
        if (value > Largest)
            return refuse(QString("'%1' is larger than 0x%2")
                              .arg(given)
                              .arg(QString::number(Largest, 16).toUpper()));
    }
    return {value, {}};
}

Parsed count(const QString& text, const QString& name) {
    return digits(text, name, 10);
}

Parsed hex(const QString& text, const QString& name) {
    return digits(text, name, 16);
}

} // namespace numbers
