#pragma once
// Looking at a rendered grid the way a user would: render it offscreen, read
// the colours a cell is painted in, click on cells, read the text assistive
// technology gets. Grids under test use a font without antialiasing, so text
// pixels carry exactly the text colour.
#include "platform/gui/DrawGrid.h"
#include "platform/gui/SymbolLink.h"
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <ostream>

namespace GridProbe {

// A visible top-level owner of the given size for a grid to fill.
std::unique_ptr<QWidget> MakeOwner(int width = 640, int height = 200);
// A font whose glyph pixels are either background or exactly the text colour.
QFont CrispFont(int pixelSize = 13);
// Places the grid to fill its owner, shows the owner and lets the layout settle.
void Show(QWidget& owner, TDrawGrid& grid);

QImage Render(TDrawGrid& grid);
QColor Pixel(const QImage& image, const QPoint& point);
// The colour of the middle of the cell.
QColor CentreColour(TDrawGrid& grid, int column, int row);
// The cell's background: its most frequent colour (inside the 3-D edge).
QColor Background(TDrawGrid& grid, int column, int row);
// Whether some pixel of the cell has exactly the colour.
bool CellHasColour(TDrawGrid& grid, int column, int row, const QColor& colour);
// The colours found in the cell (without the 3-D edge).
QList<QColor> CellColours(TDrawGrid& grid, int column, int row);

QString DisplayText(TDrawGrid& grid, int column, int row);
// The display texts of a whole row, column by column.
QStringList RowTexts(TDrawGrid& grid, int row);

void Click(TDrawGrid& grid, int column, int row, Qt::MouseButton button = Qt::LeftButton);

// Records the symbols the grids ask the links to link, for as long as it lives.
class LinkRecorder {
public:
    explicit LinkRecorder(TSymbolLinks& links);
    QList<QByteArray> Symbols;

private:
    QObject m_context;
};

QColor Rgb(TColor color);

} // namespace GridProbe

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QColor& colour, std::ostream* out) { *out << colour.name().toStdString(); }
