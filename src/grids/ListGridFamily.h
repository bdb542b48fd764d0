#pragma once
// What every list grid shares: construction settings, layout, the cell
// painting frame, text fitting, number formats, colour blending and the
// forwarding of a clicked symbol to external linking. Each grid adds only its
// entry record, its column table and its colour rules.
#include "platform/gui/Canvas.h"
#include "platform/gui/DrawGrid.h"
#include "platform/gui/SymbolLink.h"
#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>
#include <vector>

// ---- Cell helpers: all measure with the canvas font against the inner rectangle.

// The text unchanged when it fits, else its longest head that fits with "...".
QString FitText(TCanvas& canvas, const QRect& inner, const QString& text);
bool TextTooWide(TCanvas& canvas, const QRect& inner, const QString& text);
// Left- and right-aligned text with a clear brush, vertically centred, clipped.
void DrawLeft(TCanvas& canvas, const QRect& inner, const QString& text);
void DrawRight(TCanvas& canvas, const QRect& inner, const QString& text);
// Centred text drawn with the current (solid) brush, so it is opaque.
void DrawCentered(TCanvas& canvas, const QRect& inner, const QString& text);

// ---- Number texts. "." is the decimal point; the "n" conversion groups
// thousands with the user's locale separator.

// A fixed-point format as the grids use them: "%f" (two decimals), "%.01f",
// "%.1f", "%f%%" and the like: an optional precision, "f", then literal text
// in which "%%" stands for "%". Negative zero is shown without its sign.
QString FixedText(const char* format, double x);
// The "n" conversion: fixed point with thousands separators.
QString GroupedText(double x, int decimals);

// The formatters: the first candidate that fits, else "...".
QString FormatFixed(TCanvas& canvas, const QRect& inner, const char* format, double x);
// "%.2n%s", "%.1n%s", "%.0n%s".
QString FormatScaled(TCanvas& canvas, const QRect& inner, double x, QChar suffix);
// "%.0n" of n, else n in thousands (K) or millions (M) through FormatScaled.
QString FormatCount(TCanvas& canvas, const QRect& inner, qint32 n);
// The same two without thousands separators: "%.2f%s" .. and "%d".
QString FormatScaledPlain(TCanvas& canvas, const QRect& inner, double x, QChar suffix);
QString FormatInteger(TCanvas& canvas, const QRect& inner, qint64 n);

// Per colour byte: w <= 0 gives from, w >= 1 gives to, otherwise the weighted
// mean rounded to the nearest integer, ties to even.
TColor BlendColor(TColor from, TColor to, double w);

// ---- The painting frame.

struct TCellColors {
    TColor Background;
    TColor Text;
};

// The newest entry of the strike and symbol-only grids: the two colours swapped.
inline TCellColors Swapped(TCellColors colors) { return {colors.Text, colors.Background}; }
// The "#" cell of the simple lists turns yellow with black text at 10 alerts or more.
inline constexpr TCellColors HighCountColors{clYellow, clBlack};
inline bool IsHighCount(qint32 count) { return count >= 10; }

// Font style normal, fill the cell in the background colour, the raised edge
// on header-like cells with the 3-D look, the 3-pixel insets. Returns the
// inner rectangle the text goes into; the brush stays solid in the background.
QRect PaintCellFrame(TCanvas& canvas, const QRect& cell, TCellColors colors, bool headerLike, bool ctl3D);

// ---- What a data cell shows.

enum class TCellAlign { Left, Right };

struct TCellContent {
    enum TKind {
        Empty,   // nothing
        Text,    // cut to fit with "..."
        Fixed,   // a single formatted candidate, or "..."
        Count,   // FormatCount of Value
        Integer, // FormatInteger of Value
        Clipped  // drawn unchanged, clipped at the cell's edge
    };
    TKind Kind = Empty;
    QString Full; // the whole text, as screen readers get it
    double Value = 0;

    static TCellContent None() { return {}; }
    static TCellContent FromText(const QString& text) { return {Text, text, 0}; }
    static TCellContent FromBytes(QByteArrayView text) { return FromText(QString::fromUtf8(text)); }
    static TCellContent FromClipped(QByteArrayView text) { return {Clipped, QString::fromUtf8(text), 0}; }
    // FormatFixed; NaN gives an empty cell.
    static TCellContent FromFixed(const char* format, double x);
    // FormatCount, shown only above 0.
    static TCellContent FromCount(qint32 n);
    // FormatInteger of an integer already truncated.
    static TCellContent FromInteger(qint64 n);
    // The "..." of a value that has no integer form.
    static TCellContent Unconvertible() { return {Fixed, QStringLiteral("..."), 0}; }
};

// The text to draw for the content in the inner rectangle.
QString FitContent(TCanvas& canvas, const QRect& inner, const TCellContent& content);
void DrawContent(TCanvas& canvas, const QRect& inner, const TCellContent& content, TCellAlign align);

// ---- Reporting an error raised while handing a symbol to external linking.

// Hands the symbol to the links; an error a receiver raises is reported to
// the trader (TSymbolLinks::ReportFailure) and goes no further.
void LinkSymbolReportingErrors(TSymbolLinks& links, const QByteArray& symbol, const QString& window);

// ---- The family's base grid.

struct TListColumn {
    const char* Title;
    const char* Sample; // nullptr: the column keeps the default width
    TCellAlign Align;
};

class TListGrid : public TDrawGrid {
    Q_OBJECT
public:
    // Builds the grid with the family's settings; with an owner the grid is
    // parented to it. A clicked symbol goes to `links`, which outlives the
    // grid. The subclass lays out once it is complete.
    TListGrid(QWidget* owner, TSymbolLinks& links, std::vector<TListColumn> columns, int columnCount);

    TColor TextColor() const { return m_textColor; }
    void SetTextColor(TColor color);

    // Row height from "Xy()", widths from the column samples, repaint.
    void RecomputeLayout();
    // The column's width := width of the sample + 16 (+ 12 without 3-D look).
    void SetColumnWidth(int column, const QString& sample);
    int MeasureColumnWidth(const QString& sample);
    int MeasureRowHeight();
    // The widths of every shown column that has a sample.
    void ApplyColumnSamples();

    QString CellText(int column, int row) const override;

    // Zero until a subclass holds entries (also while the base is being built).
    virtual int EntryCount() const { return 0; }
    // The texts the first row holding the symbol shows beside it, in full and
    // in column order; empty when no row holds it.
    QString ValuesBeside(const QByteArray& symbol) const;

protected:
    virtual QString ColumnTitle(int column) const;
    virtual TCellContent DataCell(int column, int index) const = 0;
    virtual QByteArray EntrySymbol(int index) const = 0;
    // The common colours adjusted by the grid's own rules; index is -1 for a
    // cell that shows no entry.
    virtual TCellColors AdjustColors(int column, int row, int index, TCellColors colors) const;
    // The entry a cell shows: row r shows entry r - 1.
    virtual bool CellToEntryIndex(int column, int row, int& index) const;

    void DrawCell(int column, int row, const QRect& rect, TGridDrawState state) override;
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& point) override;
    void FontChanged() override;

    // Grids whose layout follows the font re-measure on every font change.
    void BindFontChange(bool bound) { m_fontBound = bound; }
    // After new entries: one empty data row at least, then repaint.
    void EntriesReplaced(int count);
    const std::vector<TListColumn>& Columns() const { return m_columns; }
    TCellAlign ColumnAlign(int column) const;
    TSymbolLinks& Links() const { return m_links; }
    // The title of the window the grid shows in, which names it to whoever follows the links.
    QString WindowTitle() const { return window()->windowTitle(); }

private:
    TSymbolLinks& m_links;
    std::vector<TListColumn> m_columns;
    TColor m_textColor = clWhite;
    bool m_fontBound = false;
};

// Entry storage with value semantics at constant cost. The default array is
// implicitly shared: SetEntries takes the caller's array in O(1) and a later
// change of the caller's array detaches from the grid's copy. Grids whose
// lists only grow at the front store a newest-first list instead, whose
// copies stay valid while the owner keeps inserting, without any copying.
template <typename TEntry, typename TStore = QVector<TEntry>>
class TListGridOf : public TListGrid {
public:
    using TEntries = TStore;
    using TListGrid::TListGrid;

    virtual void SetEntries(const TEntries& entries)
    {
        m_entries = entries;
        EntriesReplaced(int(m_entries.size()));
    }
    const TEntries& Entries() const { return m_entries; }
    int EntryCount() const override { return int(m_entries.size()); }

protected:
    QByteArray EntrySymbol(int index) const override { return m_entries.at(index).symbol; }
    TEntries m_entries;
};
