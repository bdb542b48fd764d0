#pragma once
// One alert window: shows the alerts of one category in one of eight list
// styles. It reads its own section of "Braxo.ini", keeps the rows its style
// needs (newest first, sorted and expiring, or replaced wholesale), and hands
// the whole list to its grid after every change. Closing it only hides it;
// it lives until the process ends.
#include "Zembra/AlertParsing.h"
#include "Zembra/ExcludeList.h"
#include "Shared/NewestFirstList.h"
#include "Zembra/QuentGridFull.h"
#include "grids/BollingerGrid.h"
#include "grids/DravelGrid.h"
#include "grids/FerrikGrid.h"
#include "grids/PointsTopListGrid.h"
#include "grids/SymbolOnlyGrid.h"
#include "grids/VantorGrid.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QWidget>
#include <functional>

class QAction;
class QMenu;
class QTimer;
class TIniFile;
class tHashTable;

// The local time now; tests replace it to drive the Bollinger expiry.
using TAlertClock = std::function<QDateTime()>;

// Row building from the decoded fields of one alert, one function per style.
TVantorEntry StrikeRowFromFields(const tHashTable& fields, const QByteArray& extraKey);
TPointsTopListEntry SimpleListRowFromFields(const tHashTable& fields);
TFerrikEntry FerrikRowFromFields(const tHashTable& fields);
TDravelEntry DravelRowFromFields(const tHashTable& fields);
TBollingerEntry BollingerRowFromFields(const tHashTable& fields, double received);
TPointsTopListEntries PointsListFromFields(const tHashTable& fields);
TQuentTopListEntries QuentListFromFields(const tHashTable& fields);

// A moment as the Bollinger rows hold it: days since 30 December 1899 (UTC),
// the time of day as the fraction.
double ToDayNumber(const QDateTime& moment);
// Whether a row received at `received` is still alive at `now` (both day
// numbers), compared to the millisecond so that exactly two minutes expire.
bool BollingerRowAlive(double received, double now);

class TAlertForm : public QWidget {
    Q_OBJECT
public:
    // Registers HandleAlert with the main connection; the style is the strike
    // style and no grid exists until LoadSettings.
    explicit TAlertForm(QWidget* parent = nullptr);
    ~TAlertForm() override;

    // Reads the section's keys, sets the caption and style, creates the grid.
    // Called once, right after creation.
    void LoadSettings(const TIniFile& ini, const QByteArray& section);
    // Subscription immediately followed by Suffix: names the window's
    // "Window:" placement section.
    QByteArray WindowKey() const { return m_subscription + m_suffix; }

    // One alert text, of any category.
    void HandleAlert(const QByteArray& data);

    void ClearWindow();
    void ClearWindowMenuItemClick();
    void FreezeActionExecute();
    void FreezeActionUpdate();
    void SortNowActionExecute();
    void SortNowActionUpdate();
    void ExpireBollingersTimerTimer();

    void SetClock(TAlertClock clock);

    const QByteArray& Subscription() const { return m_subscription; }
    const QByteArray& Suffix() const { return m_suffix; }
    const QByteArray& ExtraColumnKey() const { return m_extraColumnKey; }
    TAlertStyle Style() const { return m_style; }
    // The grid of the window's style (nullptr before LoadSettings).
    TListGrid* Grid() const { return m_grid; }
    // The menu a right click opens, if the style has one.
    QMenu* ContextMenu() const;

    // Row lists, for inspection.
    const TNewestFirstList<TVantorEntry>& StrikeRows() const { return m_strikeRows; }
    const TNewestFirstList<TVantorEntry>& SymbolRows() const { return m_symbolRows; }
    const TNewestFirstList<TFerrikEntry>& FerrikRows() const { return m_ferrikRows; }
    const TNewestFirstList<TDravelEntry>& DravelRows() const { return m_dravelRows; }
    const TNewestFirstList<TPointsTopListEntry>& SimpleListRows() const { return m_simpleListRows; }
    const TBollingerEntries& BollingerRows() const { return m_bollingerRows; }
    const TSymbolSet& BollingerSymbols() const { return m_bollingerSymbols; }
    const TPointsTopListEntries& PointsRows() const { return m_pointsRows; }
    const TQuentTopListEntries& QuentRows() const { return m_quentRows; }

    // The grids; only the one of the window's style exists.
    TVantorGrid* StrikeView = nullptr;
    TBollingerGrid* BollingerView = nullptr;
    TSymbolOnlyGrid* SymbolView = nullptr;
    TPointsTopListGrid* PointsView = nullptr;
    TFerrikGrid* FerrikView = nullptr;
    TDravelGrid* DravelView = nullptr;
    TQuentTopListFullGrid* QuentView = nullptr;

    QTimer* ExpireBollingersTimer = nullptr;
    QMenu* ClearPopup = nullptr;
    QAction* ClearWindowMenuItem = nullptr;
    QMenu* QuentMenu = nullptr;
    QAction* FreezeAction = nullptr;
    QAction* SortNowAction = nullptr;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildForm();
    void CreateGrid(const TIniFile& ini, const QByteArray& section, quint32 color);
    template <typename Grid>
    Grid* AddGrid();

    void AddNewestFirst(const tHashTable& fields);
    void UpdateBollinger(const tHashTable& fields);
    void ShowBollingerRows();
    void ShowPointsRows();

    TAlertClock m_clock;
    QByteArray m_subscription;
    QByteArray m_suffix;
    QByteArray m_extraColumnKey;
    TListGrid* m_grid = nullptr;
    TNewestFirstList<TVantorEntry> m_strikeRows;
    TBollingerEntries m_bollingerRows;
    // Exact comparison, like the row lookup it guards.
    TSymbolSet m_bollingerSymbols{TSymbolSet::ExactCase};
    TNewestFirstList<TVantorEntry> m_symbolRows;
    TNewestFirstList<TFerrikEntry> m_ferrikRows;
    TNewestFirstList<TDravelEntry> m_dravelRows;
    // The simple-list style's rows; the points-list style replaces PointsRows whole.
    TNewestFirstList<TPointsTopListEntry> m_simpleListRows;
    TPointsTopListEntries m_pointsRows;
    TQuentTopListEntries m_quentRows;
    TAlertStyle m_style = asStrike;
};

// Every alert window made in this process, in creation order. They are never
// destroyed while the program runs; the list keeps them reachable.
const QList<TAlertForm*>& AllAlertWindows();
