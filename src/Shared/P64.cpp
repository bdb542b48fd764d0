#include "Shared/P64.h"
#include "base/Assertions.h"
#include <array>

namespace {
constexpr const char* AssertUnit = "P64";

class TP64Alphabet {
public:
    TP64Alphabet()
    {
        for (char c = 'a'; c <= 'z'; ++c)
            Append(c);
        for (char c = 'A'; c <= 'Z'; ++c)
            Append(c);
        for (char c = '0'; c <= '9'; ++c)
            Append(c);
        Append('_');
        Append('-');
        TAV_ASSERT(m_size == int(m_symbols.size()), AssertUnit, 107);
    }

    char operator[](unsigned index) const { return m_symbols[index]; }

private:
    void Append(char c)
    {
        if (m_size < int(m_symbols.size()))
            m_symbols[m_size] = c;
        ++m_size;
    }

    std::array<char, 64> m_symbols{};
    int m_size = 0;
};

// Filled once, when the program starts.
const TP64Alphabet Alphabet;
}

qsizetype P64EncodedLength(qsizetype byteCount)
{
    const qsizetype rest = byteCount % 3;
    return 4 * (byteCount / 3) + (rest ? rest + 1 : 0);
}

QByteArray P64Encode(const QByteArray& data)
{
    const auto* in = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype length = data.size();
    QByteArray result(P64EncodedLength(length), Qt::Uninitialized);
    char* out = result.data();

    qsizetype i = 0;
    for (; i + 3 <= length; i += 3) {
        const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        *out++ = Alphabet[b0 >> 2];
        *out++ = Alphabet[(b0 & 3) << 4 | b1 >> 4];
        *out++ = Alphabet[(b1 & 15) << 2 | b2 >> 6];
        *out++ = Alphabet[b2 & 63];
    }
    // A final group of one or two bytes reads as if padded with zero bytes,
    // and emits one symbol more than it has bytes.
    const qsizetype rest = length - i;
    if (rest > 0) {
        const unsigned b0 = in[i];
        const unsigned b1 = rest > 1 ? in[i + 1] : 0;
        *out++ = Alphabet[b0 >> 2];
        *out++ = Alphabet[(b0 & 3) << 4 | b1 >> 4];
        if (rest > 1)
            *out++ = Alphabet[(b1 & 15) << 2];
    }
    return result;
}
