#pragma once
// The full top-list grid: a server-ranked list of symbols with up to thirteen
// measures each. Rows must not jump under the user's eyes: a list in a new
// order only updates the rows on screen in place (symbols the screen lacks
// are counted as missing and named for "Sort Now"), and the new order is
// shown at most once every 30 seconds, never while frozen, or at once on
// "Sort Now". Price spikes light up and ask for a sound; new highs and lows
// are drawn as small smoothed pies.
#include "grids/ListGridFamily.h"
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QList>
#include <QVector>
#include <functional>
#include <optional>

struct TQuentTopListEntry {
    QByteArray symbol;
    double priceSpike;
    double volRate; // 1 is the neutral point of the colour scale
    double todaysRange;
    double openingRange;
    double strength;
    double upTrend;
    double nearHigh;
    double nearLow;
    double newHigh; // fraction 0 to 1
    double newLow;  // fraction 0 to 1
    double last;
    double change;
    qint32 volume;
    qint32 count;

    // Every measure missing: NaN, the counts 0.
    TQuentTopListEntry();
};

// Implicitly shared: handing a list to the grid costs O(1) and the grid never
// sees later changes of the caller's list.
using TQuentTopListEntries = QVector<TQuentTopListEntry>;

// Milliseconds on a clock that never goes back; only differences matter.
using TQuentClock = std::function<qint64()>;

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

class TQuentTopListFullGrid : public TListGridOf<TQuentTopListEntry> {
    Q_OBJECT
public:
    // The owner must not be null.
    explicit TQuentTopListFullGrid(QWidget* owner);
    ~TQuentTopListFullGrid() override;

    void SetColumns(const QString& text);
    const QVector<int>& Columns() const { return m_columnKinds; }

    bool IgnoreSortTimer() const { return m_ignoreSortTimer; }
    void SetIgnoreSortTimer(bool on) { m_ignoreSortTimer = on; }

    // A new list from the alert window.
    void SetEntries(const TQuentTopListEntries& entries) override;
    // From the alert window's one-second timer: shows a pending order when due.
    void CheckSort();
    // Shows the pending list in its own order, frozen or not.
    void SortNow();
    void SetFrozen(bool frozen);
    bool Frozen() const { return m_frozen; }
    // A list has arrived whose order is not on screen yet.
    bool HavePending() const { return m_havePending; }
    int MissingCount() const { return m_missingCount; }
    // The first five missing symbols, then " and N more".
    QString MissingText() const { return m_missingText; }

    const TQuentTopListEntries& Displayed() const { return m_entries; }
    const TQuentTopListEntries& Pending() const { return m_pending; }
    QByteArray SelectedSymbol() const { return m_selectedSymbol; }
    // Symbols whose spike sound has played and whose spike is still on.
    const QList<QByteArray>& SpikedSymbols() const { return m_spikedSymbols; }

    // The default clock is monotonic; tests drive the 30-second rule with their own.
    void SetClock(TQuentClock clock);

    QString CellText(int column, int row) const override;

protected:
    QString ColumnTitle(int column) const override;
    TCellContent DataCell(int column, int index) const override;
    void DrawCell(int column, int row, const QRect& rect, TGridDrawState state) override;
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& point) override;
    void FontChanged() override;
    void SelectCell(int column, int row) override;
    bool viewportEvent(QEvent* event) override;

private:
    struct TPieBitmaps {
        QImage Large;
        QImage Small;
    };

    void Layout();
    int KindOf(int column) const;

    bool SameSymbols() const;
    bool SortDue() const;
    void ShowPending();
    void KeepOrRemoveSelection(int oldRow, int oldTopRow);
    void UpdateInPlace();
    void NoteMissing(const QByteArray& symbol);

    const TQuentTopListEntries& PaintedEntries() const;
    TCellColors CellColors(int kind, const TQuentTopListEntry* entry, bool headerLike);
    TColor HeaderColor() const;
    void ResetSpike(const QByteArray& symbol);
    void NoteSpike(const QByteArray& symbol);
    void PlayPendingSpikeSound();
    void DrawPieCell(TCanvas& canvas, TPieBitmaps& bitmaps, TColor background, bool newHigh, double x,
                     const QRect& inner);

    void GridSelectCell(int column, int row);

    TQuentTopListEntries m_pending;
    bool m_havePending = false;
    int m_missingCount = 0;
    QString m_missingText;
    bool m_ignoreSortTimer = false;
    bool m_frozen = false;
    std::optional<qint64> m_lastSortTime; // none: never sorted, a re-sort is due at once
    TQuentClock m_clock;
    TPieBitmaps m_newHighPie;
    TPieBitmaps m_newLowPie;
    QVector<int> m_columnKinds;
    bool m_selectEnabled = false;
    QList<QByteArray> m_spikedSymbols;
    QByteArray m_selectedSymbol;

    // Painting reads the list it started with, whatever arrives meanwhile.
    TQuentTopListEntries m_paintSnapshot;
    int m_paintDepth = 0;
    // A spike sound decided while painting, played once painting is over.
    bool m_spikeSoundPending = false;
};
