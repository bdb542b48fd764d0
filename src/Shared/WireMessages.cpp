#include "Shared/WireMessages.h"
#include "base/Assertions.h"
#include <cmath>

namespace {
// Assertions of this unit name the unit the message encoding has always
// reported from, so that logs stay comparable.
constexpr const char* AssertUnit = "Shared/TalkWithServer";
constexpr int UnknownFieldTypeLine = 265;
constexpr int OddItemCountLine = 270;

QByteArray FloatToText(long double value)
{
    return QByteArray::number(static_cast<double>(value), 'g', 15);
}

QByteArray CurrencyToText(TCurrency value)
{
    const bool negative = value.Scaled < 0;
    // Work on the unsigned magnitude so the most negative value cannot overflow.
    const quint64 magnitude =
        negative ? static_cast<quint64>(-(value.Scaled + 1)) + 1 : static_cast<quint64>(value.Scaled);
    QByteArray text = QByteArray::number(magnitude / 10000);
    quint64 fraction = magnitude % 10000;
    if (fraction != 0) {
        QByteArray digits = QByteArray::number(fraction).rightJustified(4, '0');
        while (digits.endsWith('0'))
            digits.chop(1);
        text += '.' + digits;
    }
    return negative ? '-' + text : text;
}

QByteArray VariantToText(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
        return FloatToText(value.toDouble());
    if (!value.canConvert<QString>())
        AssertionFailure("Unknown field type.", AssertUnit, UnknownFieldTypeLine);
    return value.toString().toUtf8();
}
}

TCurrency TCurrency::FromDouble(double value)
{
    return TCurrency{static_cast<qint64>(std::llround(value * 10000.0))};
}

QByteArray FieldToText(const TMessageItem& item)
{
    struct Converter {
        QByteArray operator()(qint32 v) const { return QByteArray::number(v); }
        QByteArray operator()(qint64 v) const { return QByteArray::number(v); }
        QByteArray operator()(bool v) const { return v ? "1" : "0"; }
        QByteArray operator()(char v) const { return QByteArray(1, v); }
        QByteArray operator()(long double v) const { return FloatToText(v); }
        QByteArray operator()(const QByteArray& v) const { return v; }
        QByteArray operator()(TCurrency v) const { return CurrencyToText(v); }
        QByteArray operator()(const QVariant& v) const { return VariantToText(v); }
    };
    return std::visit(Converter{}, item.Get());
}

TMessageToServer BuildMessage(std::initializer_list<TMessageItem> items)
{
    if (items.size() % 2 != 0)
        AssertionFailure("Assertion failure", AssertUnit, OddItemCountLine);
    TMessageToServer result;
    result.reserve(static_cast<qsizetype>(items.size() / 2));
    for (auto it = items.begin(); it != items.end(); it += 2)
        result.append(TMessageField{FieldToText(*it), FieldToText(*(it + 1))});
    return result;
}

namespace {
// The login's password (or its digest) opens a session and its session id
// resumes one. An empty value is shown, as it reveals nothing.
bool IsSecret(const TMessageField& field)
{
    return !field.Value.isEmpty() && (field.Key.compare("password", Qt::CaseInsensitive) == 0 ||
                                      field.Key.compare("session_id", Qt::CaseInsensitive) == 0);
}
}

// The log form reaches the debug log and error texts, which a trader may
// copy into a support request: secrets are masked.
QByteArray DescribeMessage(const TMessageToServer& message)
{
    QByteArray result = "(";
    for (qsizetype i = 0; i < message.size(); ++i) {
        if (i > 0)
            result += ", ";
        result += '"' + message[i].Key + "\" --> \"" + (IsSecret(message[i]) ? QByteArray("********") : message[i].Value) + '"';
    }
    return result + ')';
}

bool IsEmptyMessage(const TMessageToServer& message)
{
    for (const TMessageField& field : message)
        if (!field.Key.isEmpty())
            return false;
    return true;
}

int HexDigitValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    return (digit & ~0x20) - 'A' + 10;
}

namespace {
bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
}

qsizetype UrlDecodeInto(QByteArrayView text, char* out)
{
    const char* in = text.data();
    const qsizetype length = text.size();
    qsizetype used = 0;
    qsizetype i = 0;
    while (i < length) {
        if (in[i] == '%' && i + 2 < length && IsHexDigit(in[i + 1]) && IsHexDigit(in[i + 2])) {
            out[used++] = static_cast<char>(16 * HexDigitValue(in[i + 1]) + HexDigitValue(in[i + 2]));
            i += 3;
        } else {
            out[used++] = in[i++];
        }
    }
    return used;
}

QByteArray UrlDecode(QByteArrayView text)
{
    // Sized once: the output is never longer than the input.
    QByteArray result(text.size(), Qt::Uninitialized);
    result.truncate(UrlDecodeInto(text, result.data()));
    return result;
}
