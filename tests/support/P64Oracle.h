#pragma once
// An independent P64 for checking the real one: Qt's Base64 with the padding
// dropped, letter case swapped, "+" as "_" and "/" as "-".
#include <QByteArray>

inline QByteArray ExpectedFromBase64(const QByteArray& data)
{
    QByteArray text = data.toBase64(QByteArray::OmitTrailingEquals);
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        else if (c == '+')
            c = '_';
        else if (c == '/')
            c = '-';
    }
    return text;
}
