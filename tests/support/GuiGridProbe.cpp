#include "GuiGridProbe.h"
#include "TestEnvironment.h"
#include "platform/gui/SymbolLink.h"
#include <QAbstractItemModel>
#include <QHash>
#include <QTest>

namespace GridProbe {

std::unique_ptr<QWidget> MakeOwner(int width, int height)
{
    auto owner = std::make_unique<QWidget>();
    owner->resize(width, height);
    owner->setFont(CrispFont());
    return owner;
}

QFont CrispFont(int pixelSize)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setKerning(false);
    return font;
}

void Show(QWidget& owner, TDrawGrid& grid)
{
    grid.setGeometry(owner.rect());
    owner.show();
    TestEnvironment::WaitFor([&] { return owner.isVisible() && grid.isVisible(); });
}

QImage Render(TDrawGrid& grid) { return grid.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QColor Pixel(const QImage& image, const QPoint& point) { return QColor(image.pixel(point)); }

namespace {
QRect Inside(TDrawGrid& grid, int column, int row)
{
    // Leave out the one-pixel 3-D edge the header cells carry.
    return grid.CellRect(column, row).adjusted(1, 1, -1, -1);
}
}

QColor CentreColour(TDrawGrid& grid, int column, int row)
{
    return Pixel(Render(grid), grid.CellRect(column, row).center());
}

QList<QColor> CellColours(TDrawGrid& grid, int column, int row)
{
    const QImage image = Render(grid);
    const QRect cell = Inside(grid, column, row);
    QList<QColor> colours;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor c = Pixel(image, {x, y});
            if (!colours.contains(c))
                colours.append(c);
        }
    return colours;
}

QColor Background(TDrawGrid& grid, int column, int row)
{
    const QImage image = Render(grid);
    const QRect cell = Inside(grid, column, row);
    QHash<QRgb, int> counts;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb best = 0;
    int bestCount = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > bestCount) {
            best = it.key();
            bestCount = it.value();
        }
    return QColor(best);
}

bool CellHasColour(TDrawGrid& grid, int column, int row, const QColor& colour)
{
    return CellColours(grid, column, row).contains(colour);
}

QString DisplayText(TDrawGrid& grid, int column, int row)
{
    QAbstractItemModel* model = grid.model();
    if (row == 0)
        return model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    return model->data(model->index(row - 1, column), Qt::DisplayRole).toString();
}

QStringList RowTexts(TDrawGrid& grid, int row)
{
    QStringList texts;
    for (int column = 0; column < grid.ColCount(); ++column)
        texts.append(DisplayText(grid, column, row));
    return texts;
}

void Click(TDrawGrid& grid, int column, int row, Qt::MouseButton button)
{
    const QPoint centre = grid.CellRect(column, row).center();
    if (row == 0) {
        QHeaderView* header = grid.horizontalHeader();
        QTest::mouseClick(header->viewport(), button, {}, header->viewport()->mapFrom(&grid, centre));
        return;
    }
    QTest::mouseClick(grid.viewport(), button, {}, grid.viewport()->mapFrom(&grid, centre));
}

LinkRecorder::LinkRecorder(TSymbolLinks& links)
{
    QObject::connect(&links, &TSymbolLinks::LinkRequested, &m_context,
                     [this](const QByteArray& symbol) { Symbols.append(symbol); });
}

QColor Rgb(TColor color) { return ToQColor(color); }

} // namespace GridProbe
