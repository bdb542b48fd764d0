#pragma once
// Box-filter reduction of 24-bit images by whole-number factors. The full
// top-list grid draws its pies at three times the cell size and shrinks them
// by 3 and 3, which gives them smooth edges.
#include <QImage>

// Destination becomes a Format_RGB888 image of (source width div |xFactor|) by
// (source height div yFactor) pixels, each the rounded mean of its block;
// source columns and rows beyond whole blocks are ignored. A negative xFactor
// mirrors the result left to right. A negative yFactor raises "Not implemented
// yet."; a factor of 0 raises "Assertion failure".
void ShrinkBitmap(const QImage& source, QImage& destination, int xFactor, int yFactor);
