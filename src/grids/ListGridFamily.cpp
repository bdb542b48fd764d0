#include "grids/ListGridFamily.h"
#include "platform/gui/ErrorReport.h"
#include "platform/gui/SymbolLink.h"
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace {

const QString Ellipsis = QStringLiteral("...");

// "-0.00" reads as a loss that is not there.
QString WithoutNegativeZero(QString text)
{
    if (text.startsWith(QLatin1Char('-'))) {
        const bool allZero = std::all_of(text.begin() + 1, text.end(), [](QChar c) {
            return !c.isDigit() || c == QLatin1Char('0');
        });
        if (allZero)
            text.remove(0, 1);
    }
    return text;
}

QString PlainFixed(double x, int decimals) { return WithoutNegativeZero(QString::number(x, 'f', decimals)); }

QString FirstFitting(TCanvas& canvas, const QRect& inner, std::initializer_list<QString> candidates)
{
    for (const QString& candidate : candidates)
        if (!TextTooWide(canvas, inner, candidate))
            return candidate;
    return Ellipsis;
}

QString ScaledWith(TCanvas& canvas, const QRect& inner, double x, QChar suffix, bool grouped)
{
    auto text = [&](int decimals) { return (grouped ? GroupedText(x, decimals) : PlainFixed(x, decimals)) + suffix; };
    return FirstFitting(canvas, inner, {text(2), text(1), text(0)});
}

QString CountWith(TCanvas& canvas, const QRect& inner, qint64 n, bool grouped)
{
    const QString whole = grouped ? GroupedText(double(n), 0) : QString::number(n);
    if (!TextTooWide(canvas, inner, whole))
        return whole;
    if (n < 1000)
        return Ellipsis;
    if (n > 999999)
        return ScaledWith(canvas, inner, double(n) / 1000000.0, QLatin1Char('M'), grouped);
    return ScaledWith(canvas, inner, double(n) / 1000.0, QLatin1Char('K'), grouped);
}

int TextTop(TCanvas& canvas, const QRect& inner, const QString& text)
{
    return inner.top() + std::max(inner.height() - canvas.TextHeight(text), 0) / 2;
}

} // namespace

// ---- Cell helpers

bool TextTooWide(TCanvas& canvas, const QRect& inner, const QString& text)
{
    return canvas.TextWidth(text) > inner.width();
}

QString FitText(TCanvas& canvas, const QRect& inner, const QString& text)
{
    if (!TextTooWide(canvas, inner, text))
        return text;
    int budget = inner.width() - canvas.TextWidth(Ellipsis);
    for (int i = 0; i < text.size(); ++i) {
        budget -= canvas.TextWidth(text.at(i));
        if (budget < 0)
            return text.left(i) + Ellipsis;
    }
    return text + Ellipsis;
}

void DrawLeft(TCanvas& canvas, const QRect& inner, const QString& text)
{
    canvas.SetBrushStyle(TBrushStyle::Clear);
    canvas.TextRect(inner, inner.left(), TextTop(canvas, inner, text), text);
}

void DrawRight(TCanvas& canvas, const QRect& inner, const QString& text)
{
    canvas.SetBrushStyle(TBrushStyle::Clear);
    const int x = inner.left() + std::max(inner.width() - canvas.TextWidth(text), 0);
    canvas.TextRect(inner, x, TextTop(canvas, inner, text), text);
}

void DrawCentered(TCanvas& canvas, const QRect& inner, const QString& text)
{
    const int x = inner.left() + std::max(inner.width() - canvas.TextWidth(text), 0) / 2;
    canvas.TextRect(inner, x, TextTop(canvas, inner, text), text);
}

// ---- Number texts

QString FixedText(const char* format, double x)
{
    // Accepted: "%" [ "." digits ] "f" followed by literal text ("%%" is "%").
    const QByteArray pattern(format);
    int pos = 0;
    int decimals = 2;
    if (pos < pattern.size() && pattern.at(pos) == '%')
        ++pos;
    if (pos < pattern.size() && pattern.at(pos) == '.') {
        ++pos;
        int digits = 0;
        while (pos < pattern.size() && pattern.at(pos) >= '0' && pattern.at(pos) <= '9')
            digits = digits * 10 + (pattern.at(pos++) - '0');
        decimals = std::min(digits, 18);
    }
    if (pos < pattern.size() && pattern.at(pos) == 'f')
        ++pos;
    QString literal = QString::fromLatin1(pattern.mid(pos));
    literal.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return PlainFixed(x, decimals) + literal;
}

QString GroupedText(double x, int decimals)
{
    const QString plain = PlainFixed(std::fabs(x), decimals);
    const qsizetype point = plain.indexOf(QLatin1Char('.'));
    const QString whole = point < 0 ? plain : plain.left(point);
    const QString fraction = point < 0 ? QString() : plain.mid(point);
    if (!std::isfinite(x))
        return PlainFixed(x, decimals);
    const QString separator = QLocale().groupSeparator();
    QString grouped;
    for (qsizetype i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0)
            grouped += separator;
        grouped += whole.at(i);
    }
    const QString text = grouped + fraction;
    return WithoutNegativeZero((x < 0 ? QStringLiteral("-") : QString()) + text);
}

QString FormatFixed(TCanvas& canvas, const QRect& inner, const char* format, double x)
{
    return FirstFitting(canvas, inner, {FixedText(format, x)});
}

QString FormatScaled(TCanvas& canvas, const QRect& inner, double x, QChar suffix)
{
    return ScaledWith(canvas, inner, x, suffix, true);
}

QString FormatCount(TCanvas& canvas, const QRect& inner, qint32 n) { return CountWith(canvas, inner, n, true); }

QString FormatScaledPlain(TCanvas& canvas, const QRect& inner, double x, QChar suffix)
{
    return ScaledWith(canvas, inner, x, suffix, false);
}

QString FormatInteger(TCanvas& canvas, const QRect& inner, qint64 n) { return CountWith(canvas, inner, n, false); }

TColor BlendColor(TColor from, TColor to, double w)
{
    TColor result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const double a = double((from >> shift) & 0xFF);
        const double b = double((to >> shift) & 0xFF);
        double byte;
        if (std::isnan(w) || w <= 0)
            byte = a;
        else if (w >= 1)
            byte = b;
        else
            byte = std::nearbyint((1 - w) * a + w * b); // ties to even in the default rounding mode
        result |= TColor(byte) << shift;
    }
    return result;
}

// ---- Painting frame and contents

QRect PaintCellFrame(TCanvas& canvas, const QRect& cell, TCellColors colors, bool headerLike, bool ctl3D)
{
    canvas.SetFontStyle(0);
    canvas.SetBrushColor(colors.Background);
    canvas.SetFontColor(colors.Text);
    canvas.FillRect(cell);
    QRect inner = cell;
    if (headerLike && ctl3D) {
        canvas.DrawRaisedInnerEdge(cell);
        inner.adjust(1, 1, -1, -1);
    }
    if (inner.width() > 14)
        inner.adjust(3, 0, -3, 0);
    return inner;
}

TCellContent TCellContent::FromFixed(const char* format, double x)
{
    if (std::isnan(x))
        return None();
    return {Fixed, FixedText(format, x), x};
}

TCellContent TCellContent::FromCount(qint32 n)
{
    if (n <= 0)
        return None();
    return {Count, GroupedText(double(n), 0), double(n)};
}

TCellContent TCellContent::FromInteger(qint64 n) { return {Integer, QString::number(n), double(n)}; }

QString FitContent(TCanvas& canvas, const QRect& inner, const TCellContent& content)
{
    switch (content.Kind) {
    case TCellContent::Empty:
        return {};
    case TCellContent::Text:
        return FitText(canvas, inner, content.Full);
    case TCellContent::Fixed:
        return FirstFitting(canvas, inner, {content.Full});
    case TCellContent::Count:
        return FormatCount(canvas, inner, qint32(content.Value));
    case TCellContent::Integer:
        return FormatInteger(canvas, inner, qint64(content.Value));
    case TCellContent::Clipped:
        return content.Full;
    }
    return {};
}

void DrawContent(TCanvas& canvas, const QRect& inner, const TCellContent& content, TCellAlign align)
{
    if (content.Kind == TCellContent::Empty)
        return;
    const QString text = FitContent(canvas, inner, content);
    if (align == TCellAlign::Left)
        DrawLeft(canvas, inner, text);
    else
        DrawRight(canvas, inner, text);
}

// ---- Link errors

void LinkSymbolReportingErrors(TSymbolLinks& links, const QByteArray& symbol, const QString& window)
{
    // The connector is outside this program; whatever it raises must not
    // unwind into Qt's event loop.
    RunReportingErrors([&] { links.Link(symbol, window); }, [&links](const QString& message) { links.ReportFailure(message); },
                       QStringLiteral("Unknown error while linking %1.").arg(QString::fromUtf8(symbol)));
}

// ---- TListGrid

TListGrid::TListGrid(QWidget* owner, TSymbolLinks& links, std::vector<TListColumn> columns, int columnCount)
    : TDrawGrid(owner), m_links(links), m_columns(std::move(columns))
{
    SetColor(clBlack);
    SetColCount(columnCount);
    SetRowCount(2);
    SetColumnSizing(true);
    if (owner)
        RecomputeLayout();
}

void TListGrid::SetTextColor(TColor color)
{
    m_textColor = color;
    InvalidateGrid();
}

int TListGrid::MeasureRowHeight()
{
    Canvas().SetFont(font());
    return Canvas().TextHeight(QStringLiteral("Xy()")) + 4;
}

int TListGrid::MeasureColumnWidth(const QString& sample)
{
    return Canvas().TextWidth(sample) + (Ctl3D() ? 16 : 12);
}

void TListGrid::SetColumnWidth(int column, const QString& sample) { SetColWidth(column, MeasureColumnWidth(sample)); }

void TListGrid::RecomputeLayout()
{
    SetDefaultRowHeight(MeasureRowHeight());
    ApplyColumnSamples();
    InvalidateGrid();
}

void TListGrid::ApplyColumnSamples()
{
    const int shown = std::min<int>(ColCount(), int(m_columns.size()));
    for (int column = 0; column < shown; ++column)
        if (m_columns[size_t(column)].Sample)
            SetColumnWidth(column, QString::fromLatin1(m_columns[size_t(column)].Sample));
}

QString TListGrid::ColumnTitle(int column) const
{
    if (column < 0 || column >= int(m_columns.size()))
        return {};
    return QString::fromLatin1(m_columns[size_t(column)].Title);
}

TCellAlign TListGrid::ColumnAlign(int column) const
{
    if (column < 0 || column >= int(m_columns.size()))
        return TCellAlign::Left;
    return m_columns[size_t(column)].Align;
}

QString TListGrid::CellText(int column, int row) const
{
    if (row == 0)
        return ColumnTitle(column);
    int index = -1;
    if (!CellToEntryIndex(column, row, index))
        return {};
    return DataCell(column, index).Full;
}

QString TListGrid::ValuesBeside(const QByteArray& symbol) const
{
    const QString symbolText = QString::fromUtf8(symbol);
    for (int index = 0; index < EntryCount(); ++index) {
        if (EntrySymbol(index) != symbol)
            continue;
        QStringList values;
        for (int column = 0; column < ColCount(); ++column) {
            const TCellContent content = DataCell(column, index);
            if (!content.Full.isEmpty() && !(content.Kind == TCellContent::Text && content.Full == symbolText))
                values << content.Full;
        }
        return values.join(u' ');
    }
    return {};
}

TCellColors TListGrid::AdjustColors(int, int, int, TCellColors colors) const { return colors; }

bool TListGrid::CellToEntryIndex(int, int row, int& index) const
{
    index = row - 1;
    return row >= 1 && index < EntryCount();
}

void TListGrid::DrawCell(int column, int row, const QRect& rect, TGridDrawState state)
{
    TCanvas& canvas = Canvas();
    int index = -1;
    const bool valid = !state.Fixed && CellToEntryIndex(column, row, index);
    TCellColors colors = state.Fixed ? TCellColors{FixedColor(), clBlack} : TCellColors{Color(), TextColor()};
    if (!state.Fixed)
        colors = AdjustColors(column, row, valid ? index : -1, colors);
    const QRect inner = PaintCellFrame(canvas, rect, colors, state.Fixed, Ctl3D());
    if (state.Fixed)
        DrawCentered(canvas, inner, FitText(canvas, inner, ColumnTitle(column)));
    else if (valid)
        DrawContent(canvas, inner, DataCell(column, index), ColumnAlign(column));
}

void TListGrid::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, const QPoint& point)
{
    if (button != Qt::LeftButton)
        return;
    int column = -1;
    int row = -1;
    int index = -1;
    if (MouseToCell(point, column, row) && CellToEntryIndex(column, row, index))
        LinkSymbolReportingErrors(m_links, EntrySymbol(index), WindowTitle());
}

void TListGrid::FontChanged()
{
    if (m_fontBound)
        RecomputeLayout();
}

void TListGrid::EntriesReplaced(int count)
{
    SetRowCount(std::max(1, count) + 1);
    InvalidateGrid();
}
