#include "Zembra/AlertWindowUnit.h"

#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include "Zembra/AlertStyleGrids.h"
#include "Zembra/MainConnectionUnit.h"
#include "Zembra/QuentGridFull.h"
#include "platform/core/IniFile.h"
#include "platform/gui/AlertNotices.h"
#include "platform/gui/ErrorReport.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFont>
#include <QMenu>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int ExpireIntervalMs = 1000;

} // namespace

// ---------------------------------------------------------------------------
// The form

TAlertForm::TAlertForm(const TAlertWindowParts& parts, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_parts(parts)
{
    BuildForm();
    m_handOverSoon.OnWakeUp = [this] { ShowRowsNow(); };
}

TAlertForm::~TAlertForm() = default;

void TAlertForm::BuildForm()
{
    setGeometry(36, 36, 393, 480);
    QFont initialFont(QStringLiteral("Terminal"));
    initialFont.setPixelSize(12);
    setFont(initialFont);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    ExpireBollingersTimer = new QTimer(this);
    ExpireBollingersTimer->setInterval(ExpireIntervalMs);
    connect(ExpireBollingersTimer, &QTimer::timeout, this, [this] {
        RunReportingErrors([this] { ExpireBollingersTimerTimer(); });
    });
    ExpireBollingersTimer->start();

    ClearPopup = new QMenu(this);
    ClearWindowMenuItem = ClearPopup->addAction(QStringLiteral("Clear Window"));
    connect(ClearWindowMenuItem, &QAction::triggered, this, [this] {
        RunReportingErrors([this] { ClearWindowMenuItemClick(); });
    });

    QuentMenu = new QMenu(this);
    FreezeAction = QuentMenu->addAction(QStringLiteral("Freeze"));
    FreezeAction->setCheckable(true);
    SortNowAction = QuentMenu->addAction(QStringLiteral("Sort Now"));
    connect(FreezeAction, &QAction::triggered, this, [this] {
        RunReportingErrors([this] { FreezeActionExecute(); });
    });
    connect(SortNowAction, &QAction::triggered, this, [this] {
        RunReportingErrors([this] { SortNowActionExecute(); });
    });
    connect(QuentMenu, &QMenu::aboutToShow, this, [this] {
        RunReportingErrors([this] {
            FreezeActionUpdate();
            SortNowActionUpdate();
        });
    });
    BuildNotifyItem();
}

void TAlertForm::BuildNotifyItem()
{
    NotifyAction = new QAction(QStringLiteral("Notify"), this);
    NotifyAction->setCheckable(true);
    connect(NotifyAction, &QAction::triggered, this, [this](bool on) {
        RunReportingErrors([this, on] {
            SetNotifying(on);
            emit NotifyToggled(on);
        });
    });
    ClearPopup->addSeparator();
    ClearPopup->addAction(NotifyAction);
    QuentMenu->addSeparator();
    QuentMenu->addAction(NotifyAction);
    NotifyPopup = new QMenu(this);
    NotifyPopup->addAction(NotifyAction);
}

bool TAlertForm::Notifying() const { return NotifyAction->isChecked(); }

void TAlertForm::SetNotifying(bool on)
{
    NotifyAction->setChecked(on);
    if (!on)
        m_newRows = 0;
}

void TAlertForm::SetClock(TAlertClock clock)
{
    m_dayClock = [clock = std::move(clock)] { return ToDayNumber(clock()); };
}

const QByteArray& TAlertForm::Subscription() const
{
    static const QByteArray none;
    return m_rows ? m_rows->Subscription() : none;
}

void TAlertForm::LoadSettings(const TIniFile& ini, const QByteArray& section)
{
    // The style and its one grid are chosen once.
    TAV_ASSERT(m_grid == nullptr, "AlertWindowUnit", __LINE__);
    const QByteArray subscription = ini.ReadString(section, "subscription");
    m_suffix = ini.ReadString(section, "suffix");
    setWindowTitle(QString::fromUtf8(ini.ReadString(section, "title", "Alerts")));
    const TListStyle& style = StyleFromDisplay(ini.ReadString(section, "display"));
    if (style.Style == asStrike)
        m_extraColumnKey = ini.ReadString(section, "extra_column_internal_name", DefaultExtraColumnKey);
    TStyleGrid made = MakeStyleGrid(
        style, {subscription, m_extraColumnKey, [this] { return m_dayClock(); }, &m_parts.ExcludeList}, *this,
        {m_parts.SymbolLinks, m_parts.PriceSpikeSound}, ini, section);
    m_rows = std::move(made.Rows);
    m_grid = made.Grid;
    m_handRows = std::move(made.HandRows);
    m_topList = made.TopList;
    m_grid->installEventFilter(this);
    SetNotifying(ini.ReadString(section, "notify") == "1");
    if (m_topList)
        connect(m_topList, &TQuentTopListFullGrid::PriceSpiked, this, &TAlertForm::ReportPriceSpike);
    // The alert source hands the window its own category only.
    m_alerts = m_parts.AlertSource.RegisterAlertCallback(subscription, [this](const QByteArray& data) { HandleAlert(data); });
}

// ---------------------------------------------------------------------------
// Alerts

void TAlertForm::HandleAlert(const QByteArray& data)
{
    // Before LoadSettings there are no rows and no grid to show them in.
    if (m_rows && m_rows->TakeAlert(data)) {
        NoteNewRow();
        RowsChanged();
    }
}

void TAlertForm::NoteNewRow()
{
    if (!Notifying())
        return;
    if (const std::optional<QByteArray> symbol = m_rows->NewRowSymbol()) {
        ++m_newRows;
        m_newRowSymbol = *symbol;
    }
}

// Once the grid has the rows, so that the values are those it shows.
void TAlertForm::ReportNewRows()
{
    if (m_newRows == 0)
        return;
    m_parts.Notices.Report(windowTitle(), m_newRowSymbol, m_grid->ValuesBeside(m_newRowSymbol),
                           std::exchange(m_newRows, 0), false);
}

void TAlertForm::ReportPriceSpike(const QByteArray& symbol)
{
    if (Notifying())
        m_parts.Notices.Report(windowTitle(), symbol, m_topList->ValuesBeside(symbol), 1, true);
}

void TAlertForm::RowsChanged()
{
    // Every top list passes the grid's order rule as it comes: a list that
    // only lasted a moment can still decide when the order changes.
    if (m_topList) {
        m_handRows();
        return;
    }
    m_handOverDue = true;
    m_handOverSoon.RequestWakeUp();
}

void TAlertForm::ShowRowsNow()
{
    if (!m_handOverDue)
        return;
    m_handOverDue = false;
    m_handRows();
    ReportNewRows();
}

bool TAlertForm::eventFilter(QObject* watched, QEvent* event)
{
    // A board that reshapes lays the rows it was handed out again: it must
    // have every row the trader could see by then.
    if (watched == m_grid && event->type() == QEvent::Resize)
        GuardedCall(QStringLiteral("TAlertForm.eventFilter"), [this] { ShowRowsNow(); });
    return QWidget::eventFilter(watched, event);
}

void TAlertForm::ExpireBollingersTimerTimer()
{
    if (m_rows && m_rows->Expire(m_dayClock()))
        RowsChanged();
    // This timer is also the full top list's clock.
    if (TQuentTopListFullGrid* grid = TopListGrid())
        grid->CheckSort();
}

// ---------------------------------------------------------------------------
// Commands

void TAlertForm::ClearWindow()
{
    if (!m_rows)
        return;
    ShowRowsNow();
    if (m_rows->Clear())
        m_handRows();
}

void TAlertForm::ClearWindowMenuItemClick()
{
    ClearWindow();
}

void TAlertForm::FreezeActionUpdate()
{
    if (TQuentTopListFullGrid* grid = TopListGrid())
        FreezeAction->setChecked(grid->Frozen());
}

void TAlertForm::FreezeActionExecute()
{
    TQuentTopListFullGrid* grid = TopListGrid();
    if (!grid)
        return;
    grid->SetFrozen(!grid->Frozen());
    FreezeActionUpdate();
}

void TAlertForm::SortNowActionUpdate()
{
    TQuentTopListFullGrid* grid = TopListGrid();
    if (!grid)
        return;
    SortNowAction->setEnabled(grid->HavePending());
    // The symbols come from the server: an "&" in one is a character, not a
    // menu shortcut.
    const QString missing = QString(grid->MissingText()).replace(u'&', QStringLiteral("&&"));
    SortNowAction->setText(missing.isEmpty() ? QStringLiteral("Sort Now")
                                             : QStringLiteral("Sort Now (") + missing + QStringLiteral(" missing)"));
}

void TAlertForm::SortNowActionExecute()
{
    if (TQuentTopListFullGrid* grid = TopListGrid())
        grid->SortNow();
}

QMenu* TAlertForm::ContextMenu() const
{
    if (ListStyleOf(Style()).HasClearCommand)
        return ClearPopup;
    if (m_topList)
        return QuentMenu;
    return NotifyPopup;
}

void TAlertForm::contextMenuEvent(QContextMenuEvent* event)
{
    ContextMenu()->popup(event->globalPos());
    event->accept();
}
