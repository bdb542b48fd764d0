#pragma once
// Alert field names that all hash alike in the alert's hash table, as a
// hostile server would send them. Each is eight bytes, so the table's hash
// is (A * 9 + 1) ^ B of its two little-endian words A and B: for any A, the
// B that gives the wanted value is one xor away. Only names made of printable
// characters that need no escaping in a field line are kept.
#include "Shared/HashTables.h"
#include <QByteArray>
#include <QByteArrayList>
#include <QtEndian>

namespace CollidingFieldNames {

inline bool Plain(uchar c) { return c > ' ' && c < 0x7F && c != '&' && c != '=' && c != '%' && c != '+'; }

inline QByteArrayList Names(int count, quint32 hash = 0x5A5A5A5A)
{
    QByteArray alphabet;
    for (uchar c = '!'; c <= '~'; ++c)
        if (Plain(c))
            alphabet += char(c);
    QByteArrayList names;
    for (quint32 n = 0; names.size() < count; ++n) {
        // A: the counter written in the plain characters.
        char name[8];
        quint32 rest = n;
        for (int i = 0; i < 4; ++i, rest /= quint32(alphabet.size()))
            name[i] = alphabet[rest % alphabet.size()];
        const quint32 a = qFromLittleEndian<quint32>(name);
        qToLittleEndian<quint32>((a * 9 + 1) ^ hash, name + 4);
        bool plain = true;
        for (int i = 4; i < 8; ++i)
            plain = plain && Plain(uchar(name[i]));
        if (plain)
            names << QByteArray(name, 8);
    }
    return names;
}

// A field line of `count` fields with colliding names, each with the value 1.
inline QByteArray FieldLine(int count) { return Names(count).join("=1&") + "=1"; }

} // namespace CollidingFieldNames
