#pragma once
// One alert window: shows the alerts of one category in one of eight list
// styles. It reads its own section of "Braxo.ini", keeps the rows of its
// style (AlertRows, widget-free) and hands them to its grid once per pass of
// the event loop, however many alerts changed them: the grid repaints at most
// that often anyway. Closing it only hides it; the main window that made it
// keeps it until the program ends.
#include "Shared/WakeMeSoon.h"
#include "Zembra/AlertRows.h"
#include "Zembra/MainConnectionUnit.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QWidget>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QTimer;
class TAlertNotices;
class TIniFile;
class TListGrid;
class TPriceSpikeSound;
class TQuentTopListFullGrid;
class TSymbolLinks;

// The local time now; tests replace it to drive the Bollinger expiry.
using TAlertClock = std::function<QDateTime()>;

// What an alert window is given by whoever makes it; each outlives the window.
struct TAlertWindowParts {
    TMainConnection& AlertSource;      // it registers here for its alerts
    const TSymbolSet& ExcludeList;     // the symbols strike windows leave out
    TSymbolLinks& SymbolLinks;         // where its grid sends a clicked symbol
    TPriceSpikeSound& PriceSpikeSound; // where the full top list asks for the spike sound
    TAlertNotices& Notices;            // where its new rows go while it notifies
};

class TAlertForm : public QWidget {
    Q_OBJECT
public:
    // The style is the strike style and no rows or grid exist until LoadSettings.
    // The window registers with the parts' alert source for its alerts while it lives.
    explicit TAlertForm(const TAlertWindowParts& parts, QWidget* parent = nullptr);
    ~TAlertForm() override;

    // Reads the section's keys, sets the caption and style, creates the rows
    // and the grid, and registers HandleAlert with the main connection for
    // the window's category. Called once, right after creation.
    void LoadSettings(const TIniFile& ini, const QByteArray& section);
    // Subscription immediately followed by Suffix: names the window's
    // "Window:" placement section.
    QByteArray WindowKey() const { return Subscription() + m_suffix; }

    // One alert text, of any category.
    void HandleAlert(const QByteArray& data);
    // Hands rows changed since the last hand-off to the grid now rather than
    // on the next pass of the event loop.
    void ShowRowsNow();

    void ClearWindow();
    void ClearWindowMenuItemClick();
    void FreezeActionExecute();
    void FreezeActionUpdate();
    void SortNowActionExecute();
    void SortNowActionUpdate();
    void ExpireBollingersTimerTimer();

    void SetClock(TAlertClock clock);

    const QByteArray& Subscription() const;
    const QByteArray& Suffix() const { return m_suffix; }
    const QByteArray& ExtraColumnKey() const { return m_extraColumnKey; }
    TAlertStyle Style() const { return m_rows ? m_rows->Style() : asStrike; }
    // The rows of the window's style (nullptr before LoadSettings).
    const TAlertRows* Rows() const { return m_rows.get(); }
    // The grid of the window's style (nullptr before LoadSettings).
    TListGrid* Grid() const { return m_grid; }
    // The grid of the full top-list style; nullptr for the other styles.
    TQuentTopListFullGrid* TopListGrid() const { return m_topList; }
    // The menu a right click opens.
    QMenu* ContextMenu() const;

    // Whether new rows and price spikes raise desktop notifications ("notify"
    // of the section, then the "Notify" menu item).
    bool Notifying() const;
    void SetNotifying(bool on);

    QTimer* ExpireBollingersTimer = nullptr;
    QMenu* ClearPopup = nullptr;
    QAction* ClearWindowMenuItem = nullptr;
    QMenu* QuentMenu = nullptr;
    QAction* FreezeAction = nullptr;
    QAction* SortNowAction = nullptr;
    // In every style's menu; the styles without commands of their own have
    // NotifyPopup.
    QAction* NotifyAction = nullptr;
    QMenu* NotifyPopup = nullptr;

signals:
    // The trader turned notifications on or off from the menu.
    void NotifyToggled(bool on);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildForm();
    void BuildNotifyItem();
    void RowsChanged();
    void NoteNewRow();
    void ReportNewRows();
    void ReportPriceSpike(const QByteArray& symbol);

    TAlertWindowParts m_parts;
    TDayClock m_dayClock = DayNumberNow;
    QByteArray m_suffix;
    QByteArray m_extraColumnKey;
    std::unique_ptr<TAlertRows> m_rows;
    TListGrid* m_grid = nullptr;
    // Hands the rows to the grid; set with the grid.
    std::function<void()> m_handRows;
    // The grid again, by its own type, when the style is the full top list.
    TQuentTopListFullGrid* m_topList = nullptr;
    bool m_handOverDue = false;
    // New rows not yet reported, the latest for this symbol (while notifying).
    int m_newRows = 0;
    QByteArray m_newRowSymbol;
    TWakeMeSoon m_handOverSoon;
    // Last, so that it ends first: no alert reaches a window being destroyed.
    TSubscription m_alerts;
};
