#include "Zembra/QuentGridFull.h"
#include "base/Assertions.h"
#include "Shared/ColorTools.h"
#include "base/GuardedCall.h"
#include "platform/gui/PriceSpikeSound.h"
#include "platform/gui/SymbolLink.h"
#include <QEvent>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QTimer>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr const char* kUnit = "QuentGridFull";
constexpr double kSpikeThreshold = 7;

constexpr TColor kFrozenHeader = 0x00F8FE20;
constexpr TColor kMissingHeader = 0x00C0C0FF;
constexpr TColor kPlainHeader = 0x00D8E9EC;
constexpr TColor kPureBlue = 0x00FF0000;
constexpr TColor kNewHighPie = 0x0000FF00;
constexpr TColor kNewLowPie = 0x000066FF;

// How a kind shows its measure: a number through its format, a pie, a count.
enum class TKindShape { Symbol, Number, Pie, Count };

struct TKindInfo {
    const char* Header;
    const char* Sample; // nullptr: the column keeps its width
    TKindShape Shape;
    double TQuentTopListEntry::*Number; // Number and Pie shapes
    const char* Format;                 // Number and Pie shapes
    qint32 TQuentTopListEntry::*Count;  // Count shape
};

using E = TQuentTopListEntry;
constexpr TKindShape kNumber = TKindShape::Number;

// Indexed by column kind.
constexpr TKindInfo kKinds[] = {
    {"Symbol", "XXXXX", TKindShape::Symbol, nullptr, nullptr, nullptr},
    {"PrSpk", "99.9", kNumber, &E::priceSpike, "%.1f", nullptr},
    {"IPR", "99.9", kNumber, &E::volRate, "%.1f", nullptr},
    {"TRang", "99.9", kNumber, &E::todaysRange, "%.1f", nullptr},
    {"ORang", "99.9", kNumber, &E::openingRange, "%.1f", nullptr},
    {"Strnth", "-99.9", kNumber, &E::strength, "%.1f", nullptr},
    {"Up Tr", "-99.9", kNumber, &E::upTrend, "%.1f", nullptr},
    {"Nr Hi", "99.9", kNumber, &E::nearHigh, "%.1f", nullptr},
    // A pie's text serves screen readers only.
    {"H", nullptr, TKindShape::Pie, &E::newHigh, "%.0f%%", nullptr},
    {"Nr Lo", "99.9", kNumber, &E::nearLow, "%.1f", nullptr},
    {"L", nullptr, TKindShape::Pie, &E::newLow, "%.0f%%", nullptr},
    {"Last", "999.9", kNumber, &E::last, "%f", nullptr},
    {"%Chg", "-1.93", kNumber, &E::change, "%.1f", nullptr},
    {"Volume", "100,000,000", TKindShape::Count, nullptr, nullptr, &E::volume},
    {"#", "100", TKindShape::Count, nullptr, nullptr, &E::count},
};
constexpr int kKindCount = int(std::size(kKinds));

bool KnownKind(int kind) { return kind >= 0 && kind < kKindCount; }

bool IsPieKind(int kind) { return KnownKind(kind) && kKinds[kind].Shape == TKindShape::Pie; }

bool IsBlank(QChar c) { return c.unicode() >= 1 && c.unicode() <= ' '; }

// One item in double quotes starting at pos; a doubled quote stands for one.
// An unterminated item runs to the end of the text.
QString TakeQuotedItem(const QString& text, qsizetype& pos)
{
    QString item;
    ++pos;
    while (pos < text.size()) {
        const QChar c = text[pos++];
        if (c != u'"') {
            item += c;
        } else if (pos < text.size() && text[pos] == u'"') {
            item += c;
            ++pos;
        } else {
            break;
        }
    }
    return item;
}

// Comma-separated text: items separated by commas or blanks; an empty item
// between two commas, or after a final comma, counts.
QStringList SplitCommaText(const QString& text)
{
    QStringList items;
    qsizetype pos = 0;
    const auto skipBlanks = [&] {
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
    };
    skipBlanks();
    while (pos < text.size()) {
        if (text[pos] == u'"') {
            items << TakeQuotedItem(text, pos);
        } else {
            const qsizetype start = pos;
            while (pos < text.size() && !IsBlank(text[pos]) && text[pos] != u',')
                ++pos;
            items << text.mid(start, pos - start);
        }
        skipBlanks();
        if (pos < text.size() && text[pos] == u',') {
            if (pos + 1 == text.size())
                items << QString();
            ++pos;
            skipBlanks();
        }
    }
    return items;
}

int KindFromItem(const QString& item)
{
    bool ok = false;
    const int kind = item.trimmed().toInt(&ok, 10);
    return ok ? kind : qkSymbol;
}

TCellContent EntryContent(int kind, const TQuentTopListEntry& e)
{
    if (!KnownKind(kind))
        return TCellContent::None();
    const TKindInfo& info = kKinds[kind];
    switch (info.Shape) {
    case TKindShape::Symbol:
        return TCellContent::FromBytes(e.symbol);
    case TKindShape::Number:
        return TCellContent::FromFixed(info.Format, e.*info.Number);
    case TKindShape::Pie:
        return e.*info.Number > 0 ? TCellContent::FromFixed(info.Format, std::min(e.*info.Number, 1.0) * 100)
                                  : TCellContent::None();
    case TKindShape::Count:
        return TCellContent::FromCount(e.*info.Count);
    }
    return TCellContent::None();
}

// The largest square centred in the rectangle (right and bottom exclusive).
QRect MakeSquare(const QRect& r)
{
    int left = r.left();
    int top = r.top();
    int right = r.left() + r.width();
    int bottom = r.top() + r.height();
    const int d = r.height() - r.width();
    if (d > 0) {
        top += d / 2;
        bottom -= (d + 1) / 2;
    } else if (d < 0) {
        left += -d / 2;
        right -= (-d + 1) / 2;
    }
    return QRect(left, top, right - left, bottom - top);
}

// A hard-edged pie covering the fraction x of the disc, counter-clockwise
// from twelve o'clock; a full disc from 1 on, nothing for 0, NaN or a square
// under 7 pixels.
void DrawPie(QPainter& painter, const QRect& area, bool newHigh, double x)
{
    if (std::isnan(x) || x <= 0)
        return;
    const QRect square = MakeSquare(area);
    if (square.height() < 7)
        return;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ToQColor(newHigh ? kNewHighPie : kNewLowPie));
    if (x >= 1) {
        painter.drawEllipse(square);
        return;
    }
    constexpr int kTwelveOClock = 90 * 16;
    painter.drawPie(square, kTwelveOClock, int(std::lround(x * 360 * 16)));
}

quint32 ScaleByte(double intensity)
{
    // Ties go to the even neighbour, as in the rest of the colour arithmetic.
    return quint32(std::clamp(std::nearbyint(intensity), 0.0, 255.0));
}

// Restores the snapshot of an enclosing paint when a paint ends.
class TPaintScope {
public:
    TPaintScope(TQuentTopListEntries& snapshot, int& depth, const TQuentTopListEntries& current)
        : m_snapshot(snapshot), m_depth(depth), m_outer(std::exchange(snapshot, current))
    {
        ++m_depth;
    }
    ~TPaintScope()
    {
        --m_depth;
        m_snapshot = std::move(m_outer);
    }
    TPaintScope(const TPaintScope&) = delete;
    TPaintScope& operator=(const TPaintScope&) = delete;

private:
    TQuentTopListEntries& m_snapshot;
    int& m_depth;
    TQuentTopListEntries m_outer;
};

QWidget* RequireOwner(QWidget* owner)
{
    TAV_ASSERT(owner != nullptr, kUnit, 798);
    return owner;
}

} // namespace

QVector<int> ParseQuentColumns(const QString& text)
{
    const QStringList items = SplitCommaText(text.trimmed());
    QVector<int> kinds;
    if (items.isEmpty()) {
        for (int kind = qkSymbol; kind <= qkNewLow; ++kind)
            kinds << kind;
        return kinds;
    }
    for (const QString& item : items)
        kinds << KindFromItem(item);
    return kinds;
}

QString QuentColumnHeader(int kind) { return KnownKind(kind) ? QString::fromLatin1(kKinds[kind].Header) : QString(); }

TColor VolumeRateColor(double v)
{
    if (std::isnan(v))
        return clBlack;
    if (v <= 0.5)
        return kPureBlue;
    if (v < 1)
        return ScaleByte((1 - v) * 2 * 255) << 16;
    if (v < 3.5)
        return ScaleByte((v - 1) / 2.5 * 255);
    return clRed;
}

// ---- Construction and layout

TQuentTopListFullGrid::TQuentTopListFullGrid(QWidget* owner, TSymbolLinks& links, TPriceSpikeSound& spikeSound)
    : TListGrid(RequireOwner(owner), links, {}, 1), m_spikeSound(spikeSound), m_keyRestTimer(new QTimer(this))
{
    m_keyRestTimer->setSingleShot(true);
    connect(m_keyRestTimer, &QTimer::timeout, this, &TQuentTopListFullGrid::LinkWhereTheKeysRest);
    SetTextColor(clWhite);
    // Rows past the bottom are reached with the keyboard; no scroll bars.
    SetVerticalScrollBarAllowed(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SetRowSelect(true);
    SetDefaultRowHeight(MeasureRowHeight());
    Layout();
}

TQuentTopListFullGrid::~TQuentTopListFullGrid() = default;

void TQuentTopListFullGrid::SetClock(TQuentClock clock) { m_order.SetClock(std::move(clock)); }

void TQuentTopListFullGrid::SetColumns(const QString& text)
{
    m_columnKinds = ParseQuentColumns(text);
    Layout();
}

void TQuentTopListFullGrid::Layout()
{
    if (m_columnKinds.isEmpty())
        m_columnKinds = {qkSymbol};
    SetColCount(int(m_columnKinds.size()));
    for (int column = 0; column < m_columnKinds.size(); ++column) {
        const int kind = m_columnKinds[column];
        if (IsPieKind(kind))
            SetColWidth(column, DefaultRowHeight());
        else if (KnownKind(kind) && kKinds[kind].Sample)
            SetColumnWidth(column, QString::fromLatin1(kKinds[kind].Sample));
    }
    InvalidateGrid();
}

void TQuentTopListFullGrid::FontChanged()
{
    SetDefaultRowHeight(MeasureRowHeight());
    Layout();
}

int TQuentTopListFullGrid::KindOf(int column) const
{
    return column >= 0 && column < m_columnKinds.size() ? m_columnKinds[column] : -1;
}

// ---- New lists and the re-sort rule

void TQuentTopListFullGrid::SetEntries(const TQuentTopListEntries& entries) { Show(m_order.SetEntries(entries)); }

void TQuentTopListFullGrid::CheckSort() { Show(m_order.CheckSort()); }

void TQuentTopListFullGrid::SortNow() { Show(m_order.SortNow()); }

void TQuentTopListFullGrid::SetFrozen(bool frozen) { Show(m_order.SetFrozen(frozen)); }

void TQuentTopListFullGrid::Show(TTopListOrder::TChange change)
{
    switch (change) {
    case TTopListOrder::Unchanged:
        break;
    case TTopListOrder::Repaint:
        InvalidateGrid();
        break;
    case TTopListOrder::Reorder:
        ShowNewOrder();
        break;
    }
}

void TQuentTopListFullGrid::ShowNewOrder()
{
    const int oldRow = Row();
    const int oldTopRow = TopRow();
    // Resizing moves the current cell; that move must not reach external linking.
    m_selectEnabled = false;
    EntriesReplaced(EntryCount());
    KeepOrRemoveSelection(oldRow, oldTopRow);
    m_selectEnabled = true;
}

void TQuentTopListFullGrid::KeepOrRemoveSelection(int oldRow, int oldTopRow)
{
    const int index = oldRow - FixedRows();
    const bool onEntry = oldRow >= FixedRows() && index < Displayed().size();
    if (onEntry && Displayed()[index].symbol == m_selectedSymbol) {
        if (Row() != oldRow)
            SetRow(oldRow);
        if (TopRow() != oldTopRow)
            SetTopRow(oldTopRow);
        return;
    }
    // The selected symbol moved or left: a frame on another symbol would
    // claim a link that was never made, and a link still waiting for the
    // keys to rest would link a row no longer there.
    m_selectedSymbol.clear();
    m_keyRestTimer->stop();
    if (Row() >= 0)
        SetRow(-1);
    SetTopRow(FixedRows());
}

// ---- Painting

bool TQuentTopListFullGrid::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::Paint)
        return TListGrid::viewportEvent(event);
    TPaintScope scope(m_paintSnapshot, m_paintDepth, Displayed());
    return TListGrid::viewportEvent(event);
}

const TQuentTopListEntries& TQuentTopListFullGrid::PaintedEntries() const
{
    return m_paintDepth > 0 ? m_paintSnapshot : Displayed();
}

void TQuentTopListFullGrid::DrawCell(int column, int row, const QRect& rect, TGridDrawState state)
{
    const TQuentTopListEntries& entries = PaintedEntries();
    const int index = row - FixedRows();
    const TQuentTopListEntry* entry = index >= 0 && index < entries.size() ? &entries[index] : nullptr;
    const int kind = KindOf(column);
    // A "-" row repeats the column headers inside the list.
    const bool headerLike = state.Fixed || (entry && entry->symbol == "-");
    TCanvas& canvas = Canvas();

    if (entry && kind == qkPriceSpike && !(entry->priceSpike >= kSpikeThreshold))
        ResetSpike(entry->symbol);
    const TCellColors colors = CellColors(kind, entry, headerLike);
    const QRect inner = PaintCellFrame(canvas, rect, colors, headerLike, Ctl3D());
    if (headerLike) {
        DrawCentered(canvas, inner, FitText(canvas, inner, QuentColumnHeader(kind)));
        return;
    }
    if (!entry)
        return;
    if (kind == qkNewHigh)
        DrawPieCell(canvas, m_newHighPie, colors.Background, true, entry->newHigh, inner);
    else if (kind == qkNewLow)
        DrawPieCell(canvas, m_newLowPie, colors.Background, false, entry->newLow, inner);
    else
        DrawContent(canvas, inner, EntryContent(kind, *entry), kind == qkSymbol ? TCellAlign::Left : TCellAlign::Right);
    // With whole-row selection this marks the selected row at its symbol.
    if (kind == qkSymbol && state.Selected)
        canvas.FrameRect(rect, colors.Text);
}

TColor TQuentTopListFullGrid::HeaderColor() const
{
    if (Frozen())
        return kFrozenHeader;
    if (MissingCount() > 0)
        return kMissingHeader;
    return kPlainHeader;
}

TCellColors TQuentTopListFullGrid::CellColors(int kind, const TQuentTopListEntry* entry, bool headerLike)
{
    if (headerLike)
        return {HeaderColor(), clBlack};
    if (kind == qkSymbol || kind == qkVolRate)
        return {VolumeRateColor(entry ? entry->volRate : std::nan("")), clWhite};
    if (kind == qkPriceSpike && entry && entry->priceSpike >= kSpikeThreshold) {
        NoteSpike(entry->symbol);
        return {clYellow, clBlack};
    }
    return {Color(), TextColor()};
}

void TQuentTopListFullGrid::ResetSpike(const QByteArray& symbol) { m_spikedSymbols.removeOne(symbol); }

void TQuentTopListFullGrid::NoteSpike(const QByteArray& symbol)
{
    if (m_spikedSymbols.contains(symbol))
        return;
    m_spikedSymbols << symbol;
    m_pendingSpikeSymbol = symbol;
    // The sound may wait and run the event loop; that must not happen inside
    // a paint, so it plays once this paint has returned to the loop. Spikes
    // painted until that sound is over join it: one sound, not a queue of
    // them that outlasts the spikes.
    if (m_spikeSoundPending)
        return;
    m_spikeSoundPending = true;
    QMetaObject::invokeMethod(this, [this] { PlayPendingSpikeSound(); }, Qt::QueuedConnection);
}

void TQuentTopListFullGrid::PlayPendingSpikeSound()
{
    GuardedCall(QStringLiteral("TQuentTopListFullGrid.PlayPendingSpikeSound"), [this] {
        emit PriceSpiked(std::exchange(m_pendingSpikeSymbol, {}));
        m_spikeSound.Request();
    });
    m_spikeSoundPending = false;
}

void TQuentTopListFullGrid::DrawPieCell(TCanvas& canvas, TPieBitmaps& bitmaps, TColor background, bool newHigh,
                                        double x, const QRect& inner)
{
    if (!canvas.Painter() || inner.isEmpty())
        return;
    // Drawn hard-edged at three times the size, then box-filtered down: smooth edges.
    const QSize largeSize(3 * inner.width(), 3 * inner.height());
    if (bitmaps.Large.size() != largeSize)
        bitmaps.Large = QImage(largeSize, QImage::Format_RGB888);
    bitmaps.Large.fill(ToQColor(background));
    {
        QPainter painter(&bitmaps.Large);
        DrawPie(painter, bitmaps.Large.rect(), newHigh, x);
    }
    ShrinkBitmap(bitmaps.Large, bitmaps.Small, 3, 3);
    canvas.Painter()->drawImage(inner.topLeft(), bitmaps.Small);
}

// ---- Texts for screen readers

QString TQuentTopListFullGrid::ColumnTitle(int column) const { return QuentColumnHeader(KindOf(column)); }

TCellContent TQuentTopListFullGrid::DataCell(int column, int index) const
{
    return EntryContent(KindOf(column), Displayed().at(index));
}

QString TQuentTopListFullGrid::CellText(int column, int row) const
{
    const int index = row - FixedRows();
    if (index >= 0 && index < Displayed().size() && Displayed()[index].symbol == "-")
        return ColumnTitle(column);
    return TListGrid::CellText(column, row);
}

// ---- Selection

void TQuentTopListFullGrid::MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, const QPoint&)
{
    // Here a symbol is linked when the selection reaches it, not on release.
}

void TQuentTopListFullGrid::SelectCell(int column, int row) { GridSelectCell(column, row); }

void TQuentTopListFullGrid::GridSelectCell(int, int row)
{
    if (!m_selectEnabled)
        return;
    const int index = row - FixedRows();
    const QByteArray symbol = index >= 0 && index < Displayed().size() ? Displayed()[index].symbol : QByteArray();
    if (symbol.isEmpty() || symbol == "-" || symbol == m_selectedSymbol)
        return;
    m_selectedSymbol = symbol;
    if (m_keyRepeating) {
        m_keyRestTimer->start(KeyRestMs);
        return;
    }
    m_keyRestTimer->stop();
    LinkWhereTheKeysRest();
}

void TQuentTopListFullGrid::LinkWhereTheKeysRest()
{
    // The connector's failures must not disturb the list; the selection stands.
    GuardedCall(QStringLiteral("TQuentTopListFullGrid.SelectCell"), [this] { Links().Link(m_selectedSymbol, WindowTitle()); });
}

void TQuentTopListFullGrid::keyPressEvent(QKeyEvent* event)
{
    const QScopedValueRollback repeating(m_keyRepeating, event->isAutoRepeat());
    TListGrid::keyPressEvent(event);
}
