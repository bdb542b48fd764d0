#pragma once
// The message value the client sends, its building from typed items, the
// preamble, the log description and the percent-decoding of alert fields.
// Wire texts are 8-bit byte strings (QByteArray), never QString.
//
// Messages are built as BuildMessage({"command", "ping", "response", '1'}):
// each brace item becomes a TMessageItem. Types that have no wire text (untyped
// and object pointers, wide characters and wide strings, QString) are rejected
// by deleted constructors, so such a call does not compile.
#include <QByteArray>
#include <QVariant>
#include <QVector>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

class QString;
class QChar;

struct TMessageField {
    QByteArray Key;
    QByteArray Value;
};
using TMessageToServer = QVector<TMessageField>;

// Fixed point with four decimals, as money amounts are kept.
struct TCurrency {
    qint64 Scaled = 0; // value times 10000

    static TCurrency FromScaled(qint64 scaled) { return TCurrency{scaled}; }
    static TCurrency FromDouble(double value);
    friend bool operator==(const TCurrency&, const TCurrency&) = default;
};

// One typed item of BuildMessage's argument list.
class TMessageItem {
public:
    TMessageItem(qint32 value) : m_value(value) {}
    TMessageItem(qint64 value) : m_value(value) {}
    TMessageItem(long value) : m_value(static_cast<qint64>(value)) {}
    TMessageItem(bool value) : m_value(value) {}
    TMessageItem(char value) : m_value(value) {}
    TMessageItem(double value) : m_value(static_cast<long double>(value)) {}
    TMessageItem(long double value) : m_value(value) {}
    TMessageItem(const char* value) : m_value(QByteArray(value)) {}
    TMessageItem(char* value) : m_value(QByteArray(value)) {}
    TMessageItem(const QByteArray& value) : m_value(value) {}
    TMessageItem(const std::string& value) : m_value(QByteArray::fromStdString(value)) {}
    TMessageItem(std::string_view value)
        : m_value(QByteArray(value.data(), static_cast<qsizetype>(value.size())))
    {
    }
    TMessageItem(TCurrency value) : m_value(value) {}
    TMessageItem(const QVariant& value) : m_value(value) {}

    // No wire text exists for these.
    TMessageItem(std::nullptr_t) = delete;
    TMessageItem(void*) = delete;
    TMessageItem(const void*) = delete;
    template <typename T>
        requires(!std::is_same_v<std::remove_cv_t<T>, char>)
    TMessageItem(T*) = delete;
    TMessageItem(wchar_t) = delete;
    TMessageItem(char16_t) = delete;
    TMessageItem(char32_t) = delete;
    TMessageItem(const wchar_t*) = delete;
    TMessageItem(const char16_t*) = delete;
    TMessageItem(const std::wstring&) = delete;
    TMessageItem(const QString&) = delete;
    TMessageItem(QChar) = delete;

    using Value = std::variant<qint32, qint64, bool, char, long double, QByteArray, TCurrency, QVariant>;
    const Value& Get() const { return m_value; }

private:
    Value m_value;
};

TMessageToServer BuildMessage(std::initializer_list<TMessageItem> items);
QByteArray FieldToText(const TMessageItem& item);
QByteArray DescribeMessage(const TMessageToServer& message);
QByteArray UrlDecode(QByteArrayView text);
// Writes the decoded text to `out`, which has room for text.size() bytes
// (decoding never lengthens a text); returns the decoded length.
qsizetype UrlDecodeInto(QByteArrayView text, char* out);
int HexDigitValue(char digit);
// True when no pair has a non-empty key: such a message is never sent.
bool IsEmptyMessage(const TMessageToServer& message);

// Sent uncompressed before anything else.
inline constexpr char Preamble[] = "command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n";
