// Message building, field texts, descriptions and percent-decoding.
#include "base/Assertions.h"
#include "Shared/WireMessages.h"
#include <QPoint>
#include <QString>
#include <gtest/gtest.h>
#include <limits>
#include <type_traits>

namespace {

// Types without a wire text must not even compile as message items.
static_assert(!std::is_constructible_v<TMessageItem, void*>);
static_assert(!std::is_constructible_v<TMessageItem, const void*>);
static_assert(!std::is_constructible_v<TMessageItem, QObject*>);
static_assert(!std::is_constructible_v<TMessageItem, wchar_t>);
static_assert(!std::is_constructible_v<TMessageItem, const wchar_t*>);
static_assert(!std::is_constructible_v<TMessageItem, QString>);
static_assert(!std::is_constructible_v<TMessageItem, std::wstring>);
static_assert(!std::is_constructible_v<TMessageItem, std::nullptr_t>);
static_assert(std::is_constructible_v<TMessageItem, const char*>);
static_assert(std::is_constructible_v<TMessageItem, char*>);

TEST(FieldToText, ConvertsEachSupportedType)
{
    EXPECT_EQ(FieldToText(qint32(-42)), "-42");
    EXPECT_EQ(FieldToText(std::numeric_limits<qint32>::min()), "-2147483648");
    EXPECT_EQ(FieldToText(qint64(9000000000LL)), "9000000000");
    EXPECT_EQ(FieldToText(true), "1");
    EXPECT_EQ(FieldToText(false), "0");
    EXPECT_EQ(FieldToText('1'), "1");
    EXPECT_EQ(FieldToText("zero\0terminated"), "zero");
    EXPECT_EQ(FieldToText(std::string("short")), "short");
    EXPECT_EQ(FieldToText(QByteArray("bytes\0kept", 10)), QByteArray("bytes\0kept", 10));
}

TEST(FieldToText, FloatingPointUsesDotAndFifteenDigits)
{
    EXPECT_EQ(FieldToText(0.1), "0.1");
    EXPECT_EQ(FieldToText(-2.5), "-2.5");
    EXPECT_EQ(FieldToText(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FieldToText(3.0), "3");
}

TEST(FieldToText, CurrencyKeepsUpToFourDecimals)
{
    EXPECT_EQ(FieldToText(TCurrency::FromScaled(125000)), "12.5");
    EXPECT_EQ(FieldToText(TCurrency::FromScaled(-1)), "-0.0001");
    EXPECT_EQ(FieldToText(TCurrency::FromScaled(0)), "0");
    EXPECT_EQ(FieldToText(TCurrency::FromDouble(7.12345)), "7.1235");
    EXPECT_EQ(FieldToText(TCurrency::FromScaled(std::numeric_limits<qint64>::min())), "-922337203685477.5808");
}

TEST(FieldToText, VariantConvertsAndInvalidIsEmpty)
{
    EXPECT_EQ(FieldToText(QVariant()), "");
    EXPECT_EQ(FieldToText(QVariant(17)), "17");
    EXPECT_EQ(FieldToText(QVariant(QByteArray("raw"))), "raw");
    EXPECT_EQ(FieldToText(QVariant(QStringLiteral("text"))), "text");
    EXPECT_EQ(FieldToText(QVariant(0.25)), "0.25");
}

TEST(FieldToText, VariantWithoutTextFormIsUnknownFieldType)
{
    try {
        FieldToText(QVariant(QPoint(1, 2)));
        FAIL() << "expected an assertion failure";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Text(), "Unknown field type.");
        EXPECT_STREQ(e.Unit(), "Shared/TalkWithServer");
        EXPECT_EQ(e.Line(), 265);
    }
}

TEST(BuildMessage, PairsAlternatingItems)
{
    const TMessageToServer message = BuildMessage({"command", "ping", "response", '1'});
    ASSERT_EQ(message.size(), 2);
    EXPECT_EQ(message[0].Key, "command");
    EXPECT_EQ(message[0].Value, "ping");
    EXPECT_EQ(message[1].Key, "response");
    EXPECT_EQ(message[1].Value, "1");
    EXPECT_TRUE(BuildMessage({}).isEmpty());
}

TEST(BuildMessage, OddItemCountIsAnAssertionFailure)
{
    try {
        BuildMessage({"command", "ping", "response"});
        FAIL() << "expected an assertion failure";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Text(), "Assertion failure");
        EXPECT_STREQ(e.Unit(), "Shared/TalkWithServer");
        EXPECT_EQ(e.Line(), 270);
    }
}

TEST(IsEmptyMessage, OnlyNonEmptyKeysCount)
{
    EXPECT_TRUE(IsEmptyMessage({}));
    EXPECT_TRUE(IsEmptyMessage(BuildMessage({"", "value"})));
    EXPECT_FALSE(IsEmptyMessage(BuildMessage({"", "value", "k", ""})));
}

TEST(DescribeMessage, ListsEveryPairIncludingEmptyKeys)
{
    EXPECT_EQ(DescribeMessage(BuildMessage({"command", "ping", "response", '1'})),
              R"(("command" --> "ping", "response" --> "1"))");
    EXPECT_EQ(DescribeMessage({}), "()");
    EXPECT_EQ(DescribeMessage(BuildMessage({"", "x"})), R"(("" --> "x"))");
}

// The session id resumes a session as the password opens one.
TEST(DescribeMessage, MasksThePasswordAndTheSessionIdWhateverTheirLength)
{
    const QByteArray described = DescribeMessage(BuildMessage(
        {"command", "login", "username", "ann", "password", "0cc175b9c0f1b6a8", "session_id", "ab-42"}));
    EXPECT_EQ(described, R"(("command" --> "login", "username" --> "ann", "password" --> "********", )"
                         R"("session_id" --> "********"))");
    EXPECT_EQ(DescribeMessage(BuildMessage({"Session_ID", "7"})), R"(("Session_ID" --> "********"))");
    EXPECT_EQ(DescribeMessage(BuildMessage({"session_id", ""})), R"(("session_id" --> ""))");
    EXPECT_EQ(DescribeMessage(BuildMessage({"PASSWORD", "x"})), R"(("PASSWORD" --> "********"))");
    EXPECT_EQ(DescribeMessage(BuildMessage({"password", ""})), R"(("password" --> ""))");
}

TEST(UrlDecode, DecodesValidEscapesOnly)
{
    EXPECT_EQ(UrlDecode("a%2Bb+c"), "a+b+c");
    EXPECT_EQ(UrlDecode("%4a%4A"), "JJ");
    EXPECT_EQ(UrlDecode("%%41"), "%A");
    EXPECT_EQ(UrlDecode("%00"), QByteArray(1, '\0'));
    EXPECT_EQ(UrlDecode("%ff"), QByteArray(1, '\xff'));
    EXPECT_EQ(UrlDecode(""), "");
}

TEST(UrlDecode, MalformedEscapesPassThrough)
{
    for (const char* input : {"100%", "%4", "%G1", "%", "%%", "a%4g", "%x%"})
        EXPECT_EQ(UrlDecode(input), input) << input;
}

TEST(HexDigitValue, AcceptsBothCases)
{
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('a'), 10);
    EXPECT_EQ(HexDigitValue('F'), 15);
    EXPECT_EQ(HexDigitValue('f'), 15);
}

TEST(Preamble, IsTheTwoPlainCommands)
{
    EXPECT_EQ(QByteArray(Preamble), "command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n");
}

} // namespace
