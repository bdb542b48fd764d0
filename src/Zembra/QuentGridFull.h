#pragma once
// The full top-list grid: a server-ranked list of symbols with up to thirteen
// measures each. Rows must not jump under the user's eyes: a list in a new
// order only updates the rows on screen in place (symbols the screen lacks
// are counted as missing and named for "Sort Now"), and the new order is
// shown at most once every 30 seconds, never while frozen, or at once on
// "Sort Now" (TopListOrder decides; the grid shows what it decides). Price
// spikes light up and ask for a sound; new highs and lows are drawn as small
// smoothed pies.
#include "Zembra/AlertEntries.h"
#include "Zembra/TopListOrder.h"
#include "grids/ListGridFamily.h"
#include "platform/gui/PriceSpikeSound.h"
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QList>
#include <QVector>

class QTimer;

// The column kinds a "columns" setting can name.
enum TQuentColumnKind {
    qkSymbol = 0,
    qkPriceSpike = 1,
    qkVolRate = 2,
    qkTodaysRange = 3,
    qkOpeningRange = 4,
    qkStrength = 5,
    qkUpTrend = 6,
    qkNearHigh = 7,
    qkNewHigh = 8,
    qkNearLow = 9,
    qkNewLow = 10,
    qkLast = 11,
    qkChange = 12,
    qkVolume = 13,
    qkCount = 14
};

// The column kinds of a "columns" setting: items separated by commas or
// blanks, double quotes group an item, an item that is not a decimal integer
// is kind 0; no items at all give the eleven kinds 0 to 10.
QVector<int> ParseQuentColumns(const QString& text);
// The header of a kind; empty for a kind outside 0 to 14.
QString QuentColumnHeader(int kind);
// Background of the symbol and rate cells for a volume rate: pure blue up to
// 0.5, fading to black at 1, growing red to pure red at 3.5; black for NaN.
TColor VolumeRateColor(double volRate);

class TQuentTopListFullGrid : public TListGrid {
    Q_OBJECT
public:
    // The owner must not be null. A spike's sound is asked of `spikeSound`,
    // which outlives the grid.
    TQuentTopListFullGrid(QWidget* owner, TSymbolLinks& links, TPriceSpikeSound& spikeSound);
    ~TQuentTopListFullGrid() override;

    void SetColumns(const QString& text);
    const QVector<int>& Columns() const { return m_columnKinds; }

    bool IgnoreSortTimer() const { return m_order.IgnoreSortTimer(); }
    void SetIgnoreSortTimer(bool on) { m_order.SetIgnoreSortTimer(on); }

    // A new list from the alert window.
    void SetEntries(const TQuentTopListEntries& entries);
    // From the alert window's one-second timer: shows a pending order when due.
    void CheckSort();
    // Shows the pending list in its own order, frozen or not.
    void SortNow();
    void SetFrozen(bool frozen);
    bool Frozen() const { return m_order.Frozen(); }
    // A list has arrived whose order is not on screen yet.
    bool HavePending() const { return m_order.HavePending(); }
    int MissingCount() const { return m_order.MissingCount(); }
    // The first five missing symbols, then " and N more".
    QString MissingText() const { return m_order.MissingText(); }

    const TQuentTopListEntries& Displayed() const { return m_order.Displayed(); }
    const TQuentTopListEntries& Pending() const { return m_order.Pending(); }
    int EntryCount() const override { return int(Displayed().size()); }
    QByteArray SelectedSymbol() const { return m_selectedSymbol; }
    // Symbols whose spike sound has played and whose spike is still on.
    const QList<QByteArray>& SpikedSymbols() const { return m_spikedSymbols; }

    // The default clock is monotonic; tests drive the 30-second rule with their own.
    void SetClock(TQuentClock clock);

    QString CellText(int column, int row) const override;

signals:
    // A spike was shown in the symbol's row; sent with the spike's sound
    // request, after painting (the latest of the spikes that request covers).
    void PriceSpiked(const QByteArray& symbol);

protected:
    QString ColumnTitle(int column) const override;
    TCellContent DataCell(int column, int index) const override;
    QByteArray EntrySymbol(int index) const override { return Displayed().at(index).symbol; }
    void DrawCell(int column, int row, const QRect& rect, TGridDrawState state) override;
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& point) override;
    void FontChanged() override;
    void SelectCell(int column, int row) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct TPieBitmaps {
        QImage Large;
        QImage Small;
    };

    void Layout();
    int KindOf(int column) const;

    // Shows what a call of the order changed.
    void Show(TTopListOrder::TChange change);
    void ShowNewOrder();
    void KeepOrRemoveSelection(int oldRow, int oldTopRow);

    const TQuentTopListEntries& PaintedEntries() const;
    TCellColors CellColors(int kind, const TQuentTopListEntry* entry, bool headerLike);
    TColor HeaderColor() const;
    void ResetSpike(const QByteArray& symbol);
    void NoteSpike(const QByteArray& symbol);
    void PlayPendingSpikeSound();
    void DrawPieCell(TCanvas& canvas, TPieBitmaps& bitmaps, TColor background, bool newHigh, double x,
                     const QRect& inner);

    void GridSelectCell(int column, int row);
    void LinkWhereTheKeysRest();

    TPriceSpikeSound& m_spikeSound;
    TTopListOrder m_order;
    TPieBitmaps m_newHighPie;
    TPieBitmaps m_newLowPie;
    QVector<int> m_columnKinds;
    bool m_selectEnabled = false;
    QList<QByteArray> m_spikedSymbols;
    QByteArray m_selectedSymbol;
    // While an arrow key repeats, the selection only passes over rows: the
    // symbol is linked once it rests this long on one.
    static constexpr int KeyRestMs = 150;
    bool m_keyRepeating = false;
    QTimer* m_keyRestTimer = nullptr;

    // Painting reads the list it started with, whatever arrives meanwhile.
    TQuentTopListEntries m_paintSnapshot;
    int m_paintDepth = 0;
    // A spike sound decided while painting, played once painting is over.
    bool m_spikeSoundPending = false;
    QByteArray m_pendingSpikeSymbol;
};
