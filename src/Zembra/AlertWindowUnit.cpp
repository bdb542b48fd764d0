#include "Zembra/AlertWindowUnit.h"

#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include "Zembra/MainConnectionUnit.h"
#include "Zembra/QuentGridFull.h"
#include "grids/BollingerGrid.h"
#include "grids/DravelGrid.h"
#include "grids/FerrikGrid.h"
#include "grids/PointsTopListGrid.h"
#include "grids/SymbolOnlyGrid.h"
#include "grids/VantorGrid.h"
#include "platform/core/IniFile.h"
#include "platform/gui/ErrorReport.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFont>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int ExpireIntervalMs = 1000;
const QByteArray DefaultExtraColumnKey("sma_divergence");

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

template <typename Grid, typename... TMore>
Grid* TAlertForm::AddGrid(TMore&... more)
{
    auto* grid = new Grid(this, m_parts.SymbolLinks, more...);
    layout()->addWidget(grid);
    grid->show();
    grid->installEventFilter(this);
    m_grid = grid;
    return grid;
}

// The grid shows the rows of the given kind; Grid::SetEntries takes them.
template <typename TGrid, typename TRows>
void TAlertForm::HandRowsTo(TGrid* grid)
{
    const auto& rows = dynamic_cast<const TRows&>(*m_rows);
    m_handRows = [this, grid, &rows] {
        m_rows->TakeAdded();
        grid->SetEntries(rows.Rows());
    };
}

void TAlertForm::LoadSettings(const TIniFile& ini, const QByteArray& section)
{
    // The style and its one grid are chosen once.
    TAV_ASSERT(m_grid == nullptr, "AlertWindowUnit", __LINE__);
    const QByteArray subscription = ini.ReadString(section, "subscription");
    m_suffix = ini.ReadString(section, "suffix");
    setWindowTitle(QString::fromUtf8(ini.ReadString(section, "title", "Alerts")));
    const quint32 color = ReadColorSetting(ini.ReadString(section, "color"));
    const TAlertStyle style = StyleFromDisplay(ini.ReadString(section, "display"));
    if (style == asStrike)
        m_extraColumnKey = ini.ReadString(section, "extra_column_internal_name", DefaultExtraColumnKey);
    m_rows =
        TAlertRows::Create(style, subscription, m_parts.ExcludeList, m_extraColumnKey, [this] { return m_dayClock(); });
    CreateGrid(ini, section, color);
    // The alert source hands the window its own category only. A window
    // that is gone receives nothing.
    m_parts.AlertSource.RegisterAlertCallback(subscription,
                                              [window = QPointer<TAlertForm>(this)](const QByteArray& data) {
                                                  if (window)
                                                      window->HandleAlert(data);
                                              });
}

void TAlertForm::CreateGrid(const TIniFile& ini, const QByteArray& section, quint32 color)
{
    const auto text = [&](const char* key) { return QString::fromUtf8(ini.ReadString(section, key)); };
    switch (Style()) {
    case asBollinger: {
        // The sign colours decide this grid's text; the colour setting does not apply.
        auto* grid = AddGrid<TBollingerGrid>();
        const QString extra = text("extra");
        if (!extra.isEmpty())
            grid->SetBandLabel(extra);
        HandRowsTo<TBollingerGrid, TBollingerRows>(grid);
        break;
    }
    case asSymbolOnly: {
        auto* grid = AddGrid<TSymbolOnlyGrid>();
        grid->SetTextColor(color);
        // The board's ring moves one cell per alert, however many are handed over at once.
        const auto& rows = dynamic_cast<const TVantorRows&>(*m_rows);
        m_handRows = [this, grid, &rows] { grid->AddEntries(rows.Rows(), m_rows->TakeAdded()); };
        break;
    }
    case asPointsList: {
        auto* grid = AddGrid<TPointsTopListGrid>();
        grid->SetTextColor(color);
        if (ini.ReadString(section, "volume") == "1")
            grid->ShowVolumeColumn();
        HandRowsTo<TPointsTopListGrid, TPointsListRows>(grid);
        break;
    }
    case asQuentFull: {
        auto* grid = AddGrid<TQuentTopListFullGrid>(m_parts.PriceSpikeSound);
        grid->SetColumns(text("columns"));
        grid->SetIgnoreSortTimer(ini.ReadString(section, "ignore_sort_timer") == "1");
        HandRowsTo<TQuentTopListFullGrid, TTopListRows>(grid);
        m_handEveryChange = true;
        break;
    }
    case asFerrik: {
        auto* grid = AddGrid<TFerrikGrid>();
        grid->SetTextColor(color);
        HandRowsTo<TFerrikGrid, TFerrikRows>(grid);
        break;
    }
    case asDravel: {
        auto* grid = AddGrid<TDravelGrid>();
        grid->SetTextColor(color);
        HandRowsTo<TDravelGrid, TDravelRows>(grid);
        break;
    }
    case asSimpleList: {
        auto* grid = AddGrid<TPointsTopListGrid>();
        grid->SetTextColor(color);
        HandRowsTo<TPointsTopListGrid, TSimpleListRows>(grid);
        break;
    }
    case asStrike: {
        auto* grid = AddGrid<TVantorGrid>();
        grid->SetExtraColumnName(text("extra_column_visible_name"));
        grid->SetExtraColumnFormat(text("extra_column_format"));
        grid->SetTextColor(color);
        HandRowsTo<TVantorGrid, TVantorRows>(grid);
        break;
    }
    }
}

// ---------------------------------------------------------------------------
// Alerts

void TAlertForm::HandleAlert(const QByteArray& data)
{
    // Before LoadSettings there are no rows and no grid to show them in.
    if (m_rows && m_rows->TakeAlert(data))
        RowsChanged();
}

void TAlertForm::RowsChanged()
{
    if (m_handEveryChange) {
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

TQuentTopListFullGrid* TAlertForm::TopListGrid() const { return GridAs<TQuentTopListFullGrid>(); }

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
    if (StyleHasClearCommand(Style()))
        return ClearPopup;
    if (Style() == asQuentFull)
        return QuentMenu;
    return nullptr;
}

void TAlertForm::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = ContextMenu();
    if (!menu) {
        event->ignore();
        return;
    }
    menu->popup(event->globalPos());
    event->accept();
}
