#include "Zembra/AlertParsing.h"
#include <algorithm>
#include <charconv>
#include <cstring>

#include "Shared/HashTables.h"
#include "Shared/WireMessages.h"

namespace {

const QByteArray LineBreak("\r\n");

struct TDisplayStyle {
    const char* display;
    TAlertStyle style;
};

// Compared in this order; the first exact match wins.
constexpr TDisplayStyle DisplayStyles[] = {
    {"set", asBollinger},
    {"symbol", asSymbolOnly},
    {"pointslist", asPointsList},
    {"quent", asQuentFull},
    {"ferrik-simplelist", asFerrik},
    {"dravel-simplelist", asDravel},
    {"simplelist", asSimpleList},
};

constexpr quint32 White = 0x00FFFFFF;

} // namespace

TAlertStyle StyleFromDisplay(const QByteArray& display)
{
    for (const TDisplayStyle& entry : DisplayStyles)
        if (display == entry.display)
            return entry.style;
    return asStrike;
}

bool StyleHasClearCommand(TAlertStyle style)
{
    return style == asStrike || style == asSymbolOnly || style == asSimpleList;
}

bool StyleIsBounded(TAlertStyle style)
{
    return StyleHasClearCommand(style);
}

quint32 ReadColorSetting(const QByteArray& text)
{
    bool ok = false;
    qint64 value = 0;
    if (text.startsWith('$')) {
        const QByteArray digits = text.mid(1);
        // A sign after the "$" is no hexadecimal number.
        if (!digits.isEmpty() && digits.front() != '-' && digits.front() != '+')
            value = digits.toLongLong(&ok, 16);
    } else {
        value = text.toLongLong(&ok, 10);
    }
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<quint32>::max())
        return White;
    return static_cast<quint32>(value);
}

bool CutFieldLine(const QByteArray& data, const QByteArray& subscription, QByteArray* fieldLine)
{
    // The first line equals the subscription exactly when the text starts
    // with it and a line break or the end follows (a subscription holding a
    // line break can never be a first line). No search through the text: a
    // frame may be 64 MiB.
    if (!data.startsWith(subscription) || subscription.contains(LineBreak))
        return false;
    const QByteArrayView rest = QByteArrayView(data).sliced(subscription.size());
    if (rest.isEmpty()) {
        fieldLine->clear();
        return true;
    }
    if (!rest.startsWith(LineBreak))
        return false;
    const QByteArrayView after = rest.sliced(LineBreak.size());
    const QByteArrayView window = after.first(std::min(after.size(), MaxAlertFieldLineBytes + LineBreak.size()));
    const qsizetype end = window.indexOf(LineBreak);
    *fieldLine = window.first(end >= 0 ? end : std::min(window.size(), MaxAlertFieldLineBytes + 1)).toByteArray();
    return true;
}

bool AlertWithinLimits(QByteArrayView fieldLine)
{
    qsizetype start = 0;
    for (qsizetype pieces = 1; pieces <= MaxAlertFields; ++pieces) {
        qsizetype end = fieldLine.indexOf('&', start);
        if (end < 0)
            end = fieldLine.size();
        if (end - start > MaxAlertFieldBytes)
            return false;
        if (end == fieldLine.size())
            return true;
        start = end + 1;
    }
    return false;
}

void ForEachAlertField(const QByteArray& fieldLine, const TAlertFieldVisitor& visit)
{
    const QByteArrayView line(fieldLine);
    qsizetype start = 0;
    while (start <= line.size()) {
        qsizetype end = line.indexOf('&', start);
        if (end < 0)
            end = line.size();
        const QByteArrayView piece = line.sliced(start, end - start);
        const qsizetype equals = piece.indexOf('=');
        if (equals >= 0)
            visit(UrlDecode(piece.first(equals).toByteArray()),
                  UrlDecode(piece.sliced(equals + 1).toByteArray()));
        start = end + 1;
    }
}

void ReadAlertFields(const QByteArray& fieldLine, tHashTable& fields)
{
    ForEachAlertField(fieldLine, [&fields](const QByteArray& name, const QByteArray& value) {
        fields.Add(name, value);
    });
}

double ReadAlertNumber(const QByteArray& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::numeric_limits<double>::quiet_NaN();
    return value;
}

double ReadAlertNumberOrZero(const QByteArray& text)
{
    const double value = ReadAlertNumber(text);
    return std::isnan(value) ? 0.0 : value;
}

qint32 ReadAlertCount(const QByteArray& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

TNumberedKey::TNumberedKey(const char* key, qsizetype n)
{
    // The keys are the alert format's own short names; the number takes at
    // most 20 digits, so a name of up to 43 characters always fits.
    const size_t length = std::min<size_t>(std::strlen(key), sizeof m_text - 21);
    std::memcpy(m_text, key, length);
    const auto end = std::to_chars(m_text + length, m_text + sizeof m_text, static_cast<long long>(n)).ptr;
    m_size = end - m_text;
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
