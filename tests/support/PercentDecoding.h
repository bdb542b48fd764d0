#pragma once
// Percent-decoding written from the rules, for checking the program's own:
// "%" and two hexadecimal digits (either case) give one byte; everything
// else, "+" and a "%" without two digits after it included, stays as it is.
#include <QByteArray>

namespace PercentDecoding {

// The value of a hexadecimal digit, or -1 for a non-digit.
inline int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

inline QByteArray PercentDecoded(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out.append(char(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
            i += 2;
        } else {
            out.append(text[i]);
        }
    }
    return out;
}

} // namespace PercentDecoding
