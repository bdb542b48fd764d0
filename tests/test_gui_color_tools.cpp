#include "base/Assertions.h"
#include "Shared/ColorTools.h"
#include <gtest/gtest.h>

namespace {
// A source whose every pixel has a distinct colour, derived from its position.
QImage Gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 20 % 256, y * 30 % 256, (x * 7 + y * 11) % 256));
    return image;
}

// The rounded mean (halves up) of one channel over a block, computed pixel by pixel.
int BlockMean(const QImage& image, int x0, int y0, int fx, int fy, int (*channel)(QRgb))
{
    int sum = 0;
    for (int y = y0; y < y0 + fy; ++y)
        for (int x = x0; x < x0 + fx; ++x)
            sum += channel(image.pixel(x, y));
    const int n = fx * fy;
    return (sum + n / 2) / n;
}

void ExpectBlockMeans(const QImage& source, const QImage& shrunk, int fx, int fy, bool mirrored)
{
    ASSERT_EQ(shrunk.format(), QImage::Format_RGB888);
    for (int y = 0; y < shrunk.height(); ++y) {
        for (int x = 0; x < shrunk.width(); ++x) {
            const int blockX = (mirrored ? shrunk.width() - 1 - x : x) * fx;
            const QRgb got = shrunk.pixel(x, y);
            EXPECT_EQ(qRed(got), BlockMean(source, blockX, y * fy, fx, fy, qRed)) << x << "," << y;
            EXPECT_EQ(qGreen(got), BlockMean(source, blockX, y * fy, fx, fy, qGreen)) << x << "," << y;
            EXPECT_EQ(qBlue(got), BlockMean(source, blockX, y * fy, fx, fy, qBlue)) << x << "," << y;
        }
    }
}
}

TEST(ShrinkBitmap, BlocksAverageToTheRoundedMean)
{
    QImage source(9, 9, QImage::Format_RGB888);
    source.fill(Qt::black);
    // Four white pixels in the centre block: (4 * 255 + 4) div 9 = 113.
    for (const auto& [x, y] : {std::pair{3, 3}, {5, 3}, {4, 4}, {3, 5}})
        source.setPixel(x, y, qRgb(255, 255, 255));
    QImage destination;
    ShrinkBitmap(source, destination, 3, 3);
    ASSERT_EQ(destination.size(), QSize(3, 3));
    EXPECT_EQ(destination.pixel(1, 1), qRgb(113, 113, 113));
    EXPECT_EQ(destination.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(destination.pixel(2, 2), qRgb(0, 0, 0));

    // Halves round up: 1 and 0 give 1, 255 and 254 give 255.
    QImage pair(2, 1, QImage::Format_RGB888);
    pair.setPixel(0, 0, qRgb(1, 0, 255));
    pair.setPixel(1, 0, qRgb(0, 0, 254));
    ShrinkBitmap(pair, destination, 2, 1);
    EXPECT_EQ(destination.pixel(0, 0), qRgb(1, 0, 255));
}

TEST(ShrinkBitmap, ChannelsStayApartAndRemaindersAreIgnored)
{
    const QImage source = Gradient(10, 8);
    QImage destination;
    ShrinkBitmap(source, destination, 3, 3);
    ASSERT_EQ(destination.size(), QSize(3, 2));
    ExpectBlockMeans(source, destination, 3, 3, false);

    // Changing only the ignored last column and rows changes nothing.
    QImage changed = source;
    for (int y = 0; y < 8; ++y)
        changed.setPixel(9, y, qRgb(255, 255, 255));
    for (int x = 0; x < 10; ++x) {
        changed.setPixel(x, 6, qRgb(255, 255, 255));
        changed.setPixel(x, 7, qRgb(255, 255, 255));
    }
    QImage fromChanged;
    ShrinkBitmap(changed, fromChanged, 3, 3);
    EXPECT_EQ(fromChanged, destination);

    // Unequal factors, and factors of 1 copy the image.
    ShrinkBitmap(source, destination, 2, 4);
    ASSERT_EQ(destination.size(), QSize(5, 2));
    ExpectBlockMeans(source, destination, 2, 4, false);
    ShrinkBitmap(source, destination, 1, 1);
    EXPECT_EQ(destination, source);
}

TEST(ShrinkBitmap, NegativeXFactorMirrorsLeftToRight)
{
    const QImage source = Gradient(12, 6);
    QImage plain;
    QImage mirrored;
    ShrinkBitmap(source, plain, 3, 3);
    ShrinkBitmap(source, mirrored, -3, 3);
    ASSERT_EQ(mirrored.size(), QSize(4, 2));
    EXPECT_EQ(mirrored, plain.mirrored(true, false));
    ExpectBlockMeans(source, mirrored, 3, 3, true);
}

TEST(ShrinkBitmap, OtherFormatsAreReadAsTwentyFourBitAndLeftUnchanged)
{
    QImage source = Gradient(6, 6).convertToFormat(QImage::Format_ARGB32);
    const QImage before = source;
    QImage destination(50, 50, QImage::Format_Mono);
    ShrinkBitmap(source, destination, 2, 3);
    EXPECT_EQ(destination.format(), QImage::Format_RGB888);
    ASSERT_EQ(destination.size(), QSize(3, 2));
    ExpectBlockMeans(source, destination, 2, 3, false);
    EXPECT_EQ(source, before);
}

TEST(ShrinkBitmap, SourcesSmallerThanOneBlockGiveAnEmptyImage)
{
    QImage destination = Gradient(4, 4);
    ShrinkBitmap(Gradient(2, 9), destination, 3, 3);
    EXPECT_EQ(destination.width(), 0);
    ShrinkBitmap(Gradient(9, 2), destination, -3, 3);
    EXPECT_EQ(destination.height(), 0);
    ShrinkBitmap(QImage(), destination, 3, 3);
    EXPECT_TRUE(destination.isNull());
}

TEST(ShrinkBitmap, NegativeYAndZeroFactorsAreRefused)
{
    const QImage source = Gradient(9, 9);
    QImage destination;
    try {
        ShrinkBitmap(source, destination, 3, -3);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Text(), "Not implemented yet.");
        EXPECT_STREQ(e.Unit(), "ColorTools");
        EXPECT_EQ(e.Line(), 198);
    }
    for (const auto& [fx, fy] : {std::pair{0, 3}, {3, 0}, {0, 0}}) {
        try {
            ShrinkBitmap(source, destination, fx, fy);
            ADD_FAILURE() << "no assertion for " << fx << "," << fy;
        } catch (const EAssertionFailed& e) {
            EXPECT_EQ(e.Text(), "Assertion failure");
            EXPECT_STREQ(e.Unit(), "ColorTools");
        }
    }
}
