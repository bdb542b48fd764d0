#pragma once
// The message value the client sends, its building from typed items, the
// preamble, the log description and the percent-decoding of alert fields.
// Wire texts are 8-bit byte strings (QByteArray), never QString.
//
// PUBLIC INTERFACE sketch: the implementation of this unit defines TMessageItem
// (the typed item accepted by BuildMessage: integers, bool, char, floating point,
// byte strings, C strings, currency, variant, 64-bit integers; other types are
// rejected at compile time where C++ allows) and may refine these declarations,
// keeping the names and the call form BuildMessage({"command", "ping", "response", '1'}).
#include <QByteArray>
#include <QVector>

struct TMessageField {
    QByteArray Key;
    QByteArray Value;
};
using TMessageToServer = QVector<TMessageField>;

class TMessageItem;

TMessageToServer BuildMessage(std::initializer_list<TMessageItem> items);
QByteArray FieldToText(const TMessageItem& item);
QByteArray DescribeMessage(const TMessageToServer& message);
QByteArray UrlDecode(const QByteArray& text);
int HexDigitValue(char digit);
bool IsEmptyMessage(const TMessageToServer& message);

// Sent uncompressed before anything else.
inline constexpr char Preamble[] = "command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n";
