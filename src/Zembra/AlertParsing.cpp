#include "Zembra/AlertParsing.h"
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "Shared/WireMessages.h"

namespace {

const QByteArray LineBreak("\r\n");

// Where the first CR LF starts, or -1.
qsizetype IndexOfLineBreak(QByteArrayView text)
{
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    for (const char* at = begin; at != end; ++at) {
        at = static_cast<const char*>(std::memchr(at, '\r', size_t(end - at)));
        if (!at)
            return -1;
        if (at + 1 != end && at[1] == '\n')
            return at - begin;
    }
    return -1;
}

} // namespace

bool CutFieldLine(const QByteArray& data, const QByteArray& subscription, QByteArrayView* fieldLine)
{
    // A subscription holding a line break can never be a first line.
    return !HoldsLineBreak(subscription) && CutFieldLineOf(data, subscription, fieldLine);
}

bool HoldsLineBreak(QByteArrayView text) { return IndexOfLineBreak(text) >= 0; }

bool CutFieldLineOf(const QByteArray& data, const QByteArray& subscription, QByteArrayView* fieldLine)
{
    // The first line equals the subscription exactly when the text starts
    // with it and a line break or the end follows.
    if (!data.startsWith(subscription))
        return false;
    const QByteArrayView rest = QByteArrayView(data).sliced(subscription.size());
    if (rest.isEmpty()) {
        *fieldLine = QByteArrayView();
        return true;
    }
    if (!rest.startsWith(LineBreak))
        return false;
    const QByteArrayView after = rest.sliced(LineBreak.size());
    const qsizetype end = IndexOfLineBreak(after);
    *fieldLine = end >= 0 ? after.first(end) : after;
    return true;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The plain forms the server sends ("-12.50", "7"): a sign, digits and at
// most one point between digits. Anything else (blanks, a sign "+", an
// exponent, "inf") takes Qt's reading.
struct TPlainDecimal {
    bool plain = false;
    bool negative = false;
    quint64 digits = 0; // all digits as one integer, exact up to 19 digits
    int count = 0;      // how many digits
    int decimals = 0;   // how many of them after the point
};

TPlainDecimal ReadPlainDecimal(QByteArrayView text, bool allowPoint)
{
    TPlainDecimal number;
    const char* at = text.data();
    const char* const end = at + text.size();
    if (at != end && *at == '-') {
        number.negative = true;
        ++at;
    }
    const auto readDigits = [&] {
        const char* const start = at;
        for (; at != end && IsDigit(*at); ++at)
            number.digits = number.digits * 10 + quint64(*at - '0');
        number.count += int(at - start);
        return at != start;
    };
    if (!readDigits())
        return number;
    if (at != end && allowPoint && *at == '.') {
        ++at;
        const int whole = number.count;
        if (!readDigits())
            return number;
        number.decimals = number.count - whole;
    }
    number.plain = at == end;
    return number;
}

// Up to 15 digits the digits and the power of ten are exact doubles, so
// one division rounds exactly as a full reading of the text does.
constexpr int MostExactDigits = 15;
constexpr double ExactPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

double ExactValue(const TPlainDecimal& plain)
{
    const double value = double(plain.digits) / ExactPowersOfTen[plain.decimals];
    return plain.negative ? -value : value;
}

} // namespace

double ReadAlertNumber(QByteArrayView text)
{
    const TPlainDecimal plain = ReadPlainDecimal(text, true);
    if (plain.plain && plain.count <= MostExactDigits)
        return ExactValue(plain);
    double value = 0;
    bool ok = false;
    if (plain.plain) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        ok = error == std::errc() && end == text.data() + text.size();
    }
    if (!ok)
        value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::numeric_limits<double>::quiet_NaN();
    return value;
}

double ReadAlertNumberOrZero(QByteArrayView text)
{
    const double value = ReadAlertNumber(text);
    return std::isnan(value) ? 0.0 : value;
}

qint32 ReadAlertCount(QByteArrayView text)
{
    const TPlainDecimal plain = ReadPlainDecimal(text, false);
    if (plain.plain && plain.count <= 9)
        return plain.negative ? -qint32(plain.digits) : qint32(plain.digits);
    if (plain.plain) {
        qint32 value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() ? value : 0; // out of range: 0, as Qt reads it
    }
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

QByteArray RawAlertText(QByteArrayView raw)
{
    return raw.contains('%') ? UrlDecode(raw) : raw.toByteArray();
}

double RawAlertNumber(QByteArrayView raw)
{
    // A plain number holds no "%": only the rest needs decoding first.
    const TPlainDecimal plain = ReadPlainDecimal(raw, true);
    if (plain.plain && plain.count <= MostExactDigits)
        return ExactValue(plain);
    QVarLengthArray<char, 32> scratch;
    return ReadAlertNumber(DecodedView(raw, scratch));
}

qint32 RawAlertCount(QByteArrayView raw)
{
    QVarLengthArray<char, 32> scratch;
    return ReadAlertCount(DecodedView(raw, scratch));
}

// ---- TTextCache

TTextCache::TTextCache(int slotCount) : m_slots(std::bit_ceil(size_t(std::max(slotCount, 1)))), m_mask(m_slots.size() - 1)
{
}

QByteArray TTextCache::Text(QByteArrayView raw)
{
    if (raw.isEmpty() || raw.size() > LongestKept)
        return RawAlertText(raw);
    const size_t spread = size_t(raw.size()) * 131 + uchar(raw.front()) * 31 + uchar(raw.back());
    TSlot& slot = m_slots[spread & m_mask];
    if (slot.RawSize != raw.size() || !SameBytes(slot.Raw, raw.data(), raw.size())) {
        slot.Text = RawAlertText(raw);
        std::memcpy(slot.Raw, raw.data(), size_t(raw.size()));
        slot.RawSize = raw.size();
    }
    return slot.Text;
}

// ---- TFieldPick

TFieldPick::TFieldPick(std::initializer_list<QByteArray> names) : m_values(qsizetype(names.size()))
{
    Q_ASSERT(names.size() <= 32);
    m_slots.fill(-1);
    int index = 0;
    for (const QByteArray& name : names) {
        const auto same = std::find_if(m_wanted.begin(), m_wanted.end(), [&](const TWanted& w) { return w.Name == name; });
        if (same != m_wanted.end()) {
            same->Indices |= 1u << index++;
            continue;
        }
        size_t slot = SlotOf(name);
        while (m_slots[slot] >= 0)
            slot = (slot + 1) & (SlotCount - 1);
        m_slots[slot] = qint8(m_wanted.size());
        m_wanted.push_back({name, 1u << index++});
    }
}

bool TFieldPick::Read(QByteArrayView fieldLine)
{
    std::fill(m_values.begin(), m_values.end(), QByteArrayView());
    if (!ForEachRawAlertField(fieldLine, [this](QByteArrayView name, QByteArrayView raw) { Fill(name, raw); }))
        return false;
    return std::all_of(m_values.begin(), m_values.end(),
                       [](QByteArrayView value) { return value.size() <= MaxAlertValueBytes; });
}

void TFieldPick::Fill(QByteArrayView name, QByteArrayView raw)
{
    for (size_t slot = SlotOf(name);; slot = (slot + 1) & (SlotCount - 1)) {
        const int wanted = m_slots[slot]; // NOLINT(bugprone-signed-char-misuse): a small index, not a character
        if (wanted < 0)
            return;
        const TWanted& candidate = m_wanted[size_t(wanted)];
        if (candidate.Name.size() == name.size() && SameBytes(candidate.Name.constData(), name.data(), name.size())) {
            for (quint32 indices = candidate.Indices; indices != 0; indices &= indices - 1)
                m_values[std::countr_zero(indices)] = raw;
            return;
        }
    }
}

TShortText TFieldPick::ShortText(int index) const
{
    QVarLengthArray<char, 32> scratch;
    return TShortText(DecodedView(m_values[index], scratch));
}

double TFieldPick::NumberOrZero(int index) const
{
    const double value = Number(index);
    return std::isnan(value) ? 0.0 : value;
}

// ---- TNumberedPick

TNumberedPick::TNumberedPick(std::initializer_list<const char*> columns)
{
    for (const char* column : columns) {
        const QByteArray name(column);
        Q_ASSERT(!name.isEmpty() && !IsDigit(name.back()));
        m_columns.push_back(name);
    }
}

qsizetype ReadRowNumber(QByteArrayView digits, qsizetype limit)
{
    if (digits.isEmpty() || (digits.size() > 1 && digits[0] == '0'))
        return -1;
    qsizetype row = 0;
    for (const char c : digits) {
        if (!IsDigit(c))
            return -1;
        row = row * 10 + (c - '0');
        if (row >= limit)
            return -1;
    }
    return row;
}

int TNumberedPick::ColumnOf(QByteArrayView name) const
{
    for (size_t column = 0; column < m_columns.size(); ++column)
        if (name == m_columns[column])
            return int(column);
    return -1;
}

bool TNumberedPick::Read(QByteArrayView fieldLine)
{
    const size_t width = m_columns.size();
    std::fill_n(m_table.begin(), std::min(m_table.size(), size_t(m_rows) * width), QByteArrayView());
    m_rows = 0;
    // Row r counts only when rows 0 .. r all have a field, each a piece of
    // at least three bytes with its "&": later rows are not filed.
    const qsizetype limit = std::min(MaxListRows + 1, (fieldLine.size() + 1) / 3 + 1);
    return ForEachRawAlertField(fieldLine, [&](QByteArrayView name, QByteArrayView raw) {
        qsizetype split = name.size();
        while (split > 0 && IsDigit(name[split - 1]))
            --split;
        const int column = ColumnOf(name.first(split));
        if (column < 0)
            return;
        const qsizetype row = ReadRowNumber(name.sliced(split), limit);
        if (row < 0)
            return;
        if (row >= m_rows) {
            const size_t needed = size_t(row + 1) * width;
            if (m_table.size() < needed)
                m_table.resize(needed);
            m_rows = row + 1;
        }
        m_table[size_t(row) * width + size_t(column)] = raw;
    });
}

bool TNumberedPick::RowWithinLimit(qsizetype row) const
{
    if (row < 0 || row >= m_rows)
        return true;
    const auto first = m_table.begin() + std::ptrdiff_t(row * qsizetype(m_columns.size()));
    return std::all_of(first, first + std::ptrdiff_t(m_columns.size()),
                       [](QByteArrayView value) { return value.size() <= MaxAlertValueBytes; });
}

QByteArrayView TNumberedPick::Raw(qsizetype row, int column) const
{
    if (row < 0 || row >= m_rows)
        return {};
    return m_table[size_t(row) * m_columns.size() + size_t(column)];
}

double DravelPercentChange(double last, double prevClose)
{
    if (last > 0 && prevClose > 0)
        return (last - prevClose) / prevClose * 100.0;
    return 0.0;
}

double DravelDollarChange(double last, double prevClose)
{
    return last - prevClose;
}
