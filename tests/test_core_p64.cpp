#include "Shared/P64.h"
#include "P64Oracle.h"
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {
QByteArray RandomBytes(QRandomGenerator& random, int length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(random.bounded(256));
    return bytes;
}
}

TEST(P64, KnownVectors)
{
    EXPECT_EQ(P64Encode(""), "");
    EXPECT_EQ(P64Encode("a"), "yq");
    EXPECT_EQ(P64Encode("ab"), "ywi");
    EXPECT_EQ(P64Encode("abc"), "ywjJ");
    EXPECT_EQ(P64Encode("\xff\xff\xff"), "----");
    EXPECT_EQ(P64Encode(QByteArray(3, '\0')), "aaaa");
    EXPECT_EQ(P64Encode("\xfb\xff"), "_-8");
}

TEST(P64, EqualsTransformedBase64ForEveryLengthUpTo50)
{
    QRandomGenerator random(20261207);
    for (int length = 0; length <= 50; ++length) {
        for (int round = 0; round < 20; ++round) {
            const QByteArray data = RandomBytes(random, length);
            const QByteArray encoded = P64Encode(data);
            ASSERT_EQ(encoded, ExpectedFromBase64(data)) << "length " << length;
            ASSERT_EQ(encoded.size(), P64EncodedLength(length));
        }
    }
}

TEST(P64, EveryByteValueInEveryPositionUsesOnlyTheUrlSafeAlphabet)
{
    for (int position = 0; position < 3; ++position) {
        for (int value = 0; value < 256; ++value) {
            QByteArray data(3, '\x5a');
            data[position] = char(value);
            const QByteArray encoded = P64Encode(data);
            ASSERT_EQ(encoded, ExpectedFromBase64(data));
            for (const char c : encoded)
                ASSERT_TRUE(QByteArrayView("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-")
                                .contains(c));
        }
    }
}

TEST(P64, TunnelChunkSizes)
{
    QRandomGenerator random(6000);
    const QByteArray chunk = RandomBytes(random, 6000);
    const QByteArray encoded = P64Encode(chunk);
    EXPECT_EQ(encoded.size(), 8000);
    EXPECT_EQ(encoded, ExpectedFromBase64(chunk));
    EXPECT_EQ(P64Encode(chunk + 'x').size(), 8002);
    EXPECT_EQ(P64EncodedLength(6001), 8002);
    EXPECT_EQ(P64EncodedLength(6002), 8003);
}
