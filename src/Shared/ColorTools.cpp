#include "Shared/ColorTools.h"
#include "base/Assertions.h"
#include <cstdlib>
#include <vector>

namespace {
constexpr char Unit[] = "ColorTools";

// Red, green and blue sums of one destination column. 64 bits, so that even a
// block of more than 16 million pixels cannot overflow.
struct TChannelSums {
    quint64 Sum[3] = {0, 0, 0};
};

void AccumulateRow(const uchar* row, int blockCount, qint64 fx, bool mirror,
                   std::vector<TChannelSums>& sums)
{
    for (int block = 0; block < blockCount; ++block) {
        TChannelSums& column = sums[mirror ? blockCount - 1 - block : block];
        for (qint64 x = 0; x < fx; ++x, row += 3) {
            column.Sum[0] += row[0];
            column.Sum[1] += row[1];
            column.Sum[2] += row[2];
        }
    }
}

// Each channel := the mean rounded to nearest, halves up; then starts afresh.
void WriteMeansAndClear(std::vector<TChannelSums>& sums, quint64 n, uchar* row)
{
    for (TChannelSums& column : sums) {
        for (quint64& sum : column.Sum) {
            *row++ = uchar((sum + n / 2) / n);
            sum = 0;
        }
    }
}
}

void ShrinkBitmap(const QImage& source, QImage& destination, int xFactor, int yFactor)
{
    if (yFactor < 0)
        AssertionFailure("Not implemented yet.", Unit, 198);
    // A zero factor has no block to average over.
    TAV_ASSERT(xFactor != 0 && yFactor != 0, Unit, __LINE__);

    const bool mirror = xFactor < 0;
    const qint64 fx = std::llabs(qint64(xFactor));
    const qint64 fy = yFactor;

    const QImage rgb = source.format() == QImage::Format_RGB888
                           ? source
                           : source.convertToFormat(QImage::Format_RGB888);
    const int width = int(rgb.width() / fx);
    const int height = int(rgb.height() / fy);
    destination = QImage(width, height, QImage::Format_RGB888);
    if (width == 0 || height == 0)
        return;

    const quint64 n = quint64(fx * fy);
    std::vector<TChannelSums> sums(width);
    for (int y = 0; y < height; ++y) {
        for (qint64 r = 0; r < fy; ++r)
            AccumulateRow(rgb.constScanLine(int(y * fy + r)), width, fx, mirror, sums);
        WriteMeansAndClear(sums, n, destination.scanLine(y));
    }
}
