#include "Zembra/AlertWindowUnit.h"

#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "Shared/HashTables.h"
#include "Zembra/MainConnectionUnit.h"
#include "platform/core/IniFile.h"
#include "platform/gui/ErrorReport.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFont>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <type_traits>

namespace {

constexpr int ExpireIntervalMs = 1000;
constexpr qint64 MsPerDay = 24LL * 60 * 60 * 1000;
const QByteArray DefaultExtraColumnKey("sma_divergence");

QList<TAlertForm*>& LivingAlertWindows()
{
    // Never freed: the windows live until the process ends, and this keeps
    // them reachable until then.
    static auto* windows = new QList<TAlertForm*>;
    return *windows;
}

double Number(const tHashTable& fields, const char* key)
{
    return ReadAlertNumber(fields.Lookup(key));
}

qint32 Count(const tHashTable& fields, const char* key)
{
    return ReadAlertCount(fields.Lookup(key));
}

// Hands a newest-first list to a grid. A grid whose entry array is itself a
// newest-first list takes it at constant cost; any other array is filled
// newest first.
template <typename Grid, typename T>
void ShowNewestFirst(Grid* grid, const TNewestFirstList<T>& rows)
{
    using Entries = typename Grid::TEntries;
    if constexpr (std::is_same_v<Entries, TNewestFirstList<T>>) {
        grid->SetEntries(rows);
    } else {
        Entries entries;
        entries.reserve(rows.size());
        for (const T& row : rows)
            entries.append(row);
        grid->SetEntries(entries);
    }
}

// Empties a list and shows the empty list; an empty list is left alone.
template <typename Grid, typename T>
void ClearNewestFirst(Grid* grid, TNewestFirstList<T>& rows)
{
    if (rows.isEmpty())
        return;
    rows.clear();
    ShowNewestFirst(grid, rows);
}

} // namespace

// ---------------------------------------------------------------------------
// Rows from fields

TVantorEntry StrikeRowFromFields(const tHashTable& fields, const QByteArray& extraKey)
{
    TVantorEntry row;
    row.symbol = fields.Lookup("symbol");
    row.last = Number(fields, "last");
    row.prevClose = Number(fields, "prev_close");
    row.extra = ReadAlertNumber(fields.Lookup(extraKey));
    row.time = fields.Lookup("time");
    return row;
}

TPointsTopListEntry SimpleListRowFromFields(const tHashTable& fields)
{
    TPointsTopListEntry row;
    row.symbol = fields.Lookup("symbol");
    row.last = Number(fields, "last");
    row.change = Number(fields, "change");
    row.percentVol = 0;
    return row;
}

TFerrikEntry FerrikRowFromFields(const tHashTable& fields)
{
    TFerrikEntry row;
    row.time = fields.Lookup("time");
    row.symbol = fields.Lookup("symbol");
    row.change = Number(fields, "change");
    row.count = Count(fields, "count");
    row.volume = Count(fields, "volume");
    row.bb = Number(fields, "bb");
    row.rank = ReadAlertNumberOrZero(fields.Lookup("rank"));
    row.rv = Number(fields, "rv");
    return row;
}

TDravelEntry DravelRowFromFields(const tHashTable& fields)
{
    TDravelEntry row;
    row.time = fields.Lookup("time");
    row.symbol = fields.Lookup("symbol");
    row.last = Number(fields, "last");
    row.prevClose = ReadAlertNumberOrZero(fields.Lookup("prev_close"));
    row.percentChange = DravelPercentChange(row.last, row.prevClose);
    row.dollarChange = DravelDollarChange(row.last, row.prevClose);
    row.count = Count(fields, "count");
    row.volume = Count(fields, "volume");
    return row;
}

TBollingerEntry BollingerRowFromFields(const tHashTable& fields, double received)
{
    TBollingerEntry row;
    row.symbol = fields.Lookup("symbol");
    row.last = Number(fields, "last");
    row.prevClose = Number(fields, "prev_close");
    row.distFromBB = Number(fields, "dist_from_bb");
    row.received = received;
    return row;
}

TPointsTopListEntries PointsListFromFields(const tHashTable& fields)
{
    TPointsTopListEntries rows;
    for (qsizetype n = 0;; ++n) {
        TPointsTopListEntry row;
        row.symbol = fields.Lookup(NumberedKey("symbol", n));
        row.last = ReadAlertNumber(fields.Lookup(NumberedKey("last", n)));
        row.change = ReadAlertNumber(fields.Lookup(NumberedKey("change", n)));
        row.percentVol = ReadAlertNumber(fields.Lookup(NumberedKey("percent_vol", n)));
        if (row.symbol.isEmpty() || std::isnan(row.last) || std::isnan(row.change))
            return rows;
        rows.append(row);
    }
}

TQuentTopListEntries QuentListFromFields(const tHashTable& fields)
{
    TQuentTopListEntries rows;
    rows.reserve(InitialQuentRows);
    const auto number = [&fields](const char* key, qsizetype n) {
        return ReadAlertNumber(fields.Lookup(NumberedKey(key, n)));
    };
    for (qsizetype n = 0;; ++n) {
        TQuentTopListEntry row;
        row.symbol = fields.Lookup(NumberedKey("symbol", n));
        if (row.symbol.isEmpty())
            return rows;
        row.priceSpike = number("price_spike", n);
        row.volRate = number("vol_rate", n);
        row.todaysRange = number("todays_range", n);
        row.openingRange = number("opening_range", n);
        row.strength = number("strength", n);
        row.upTrend = number("up_trend", n);
        row.nearHigh = number("near_high", n);
        row.nearLow = number("near_low", n);
        row.newHigh = number("new_high", n);
        row.newLow = number("new_low", n);
        row.last = number("last", n);
        row.change = number("change", n);
        row.volume = ReadAlertCount(fields.Lookup(NumberedKey("volume", n)));
        row.count = ReadAlertCount(fields.Lookup(NumberedKey("count", n)));
        if (rows.size() == rows.capacity())
            rows.reserve(rows.capacity() * 2);
        rows.append(row);
    }
}

double ToDayNumber(const QDateTime& moment)
{
    static const qint64 epochDay = QDate(1899, 12, 30).toJulianDay();
    const QDateTime utc = moment.toUTC();
    return double(utc.date().toJulianDay() - epochDay) + double(utc.time().msecsSinceStartOfDay()) / MsPerDay;
}

bool BollingerRowAlive(double received, double now)
{
    return std::llround(received * MsPerDay) + BollingerLifetimeMs > std::llround(now * MsPerDay);
}

// ---------------------------------------------------------------------------
// The form

TAlertForm::TAlertForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
    , m_clock([] { return QDateTime::currentDateTime(); })
{
    BuildForm();
    LivingAlertWindows().append(this);
    // Registered before the settings are read: the window filters by its
    // subscription on every call. A window that is gone receives nothing.
    MainConnection().RegisterAlertCallback([window = QPointer<TAlertForm>(this)](const QByteArray& data) {
        if (window)
            window->HandleAlert(data);
    });
}

TAlertForm::~TAlertForm()
{
    LivingAlertWindows().removeAll(this);
}

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
    m_clock = std::move(clock);
}

template <typename Grid>
Grid* TAlertForm::AddGrid()
{
    auto* grid = new Grid(this);
    layout()->addWidget(grid);
    grid->show();
    m_grid = grid;
    return grid;
}

void TAlertForm::LoadSettings(const TIniFile& ini, const QByteArray& section)
{
    // The style and its one grid are chosen once.
    TAV_ASSERT(m_grid == nullptr, "AlertWindowUnit", __LINE__);
    m_subscription = ini.ReadString(section, "subscription");
    m_suffix = ini.ReadString(section, "suffix");
    setWindowTitle(QString::fromUtf8(ini.ReadString(section, "title", "Alerts")));
    const quint32 color = ReadColorSetting(ini.ReadString(section, "color"));
    m_style = StyleFromDisplay(ini.ReadString(section, "display"));
    CreateGrid(ini, section, color);
}

void TAlertForm::CreateGrid(const TIniFile& ini, const QByteArray& section, quint32 color)
{
    const auto text = [&](const char* key) { return QString::fromUtf8(ini.ReadString(section, key)); };
    switch (m_style) {
    case asBollinger: {
        m_bollingerSymbols.Clear();
        BollingerView = AddGrid<TBollingerGrid>();
        const QString extra = text("extra");
        if (!extra.isEmpty())
            BollingerView->SetBandLabel(extra);
        break;
    }
    case asSymbolOnly:
        SymbolView = AddGrid<TSymbolOnlyGrid>();
        SymbolView->SetTextColor(color);
        break;
    case asPointsList:
        PointsView = AddGrid<TPointsTopListGrid>();
        PointsView->SetTextColor(color);
        if (ini.ReadString(section, "volume") == "1")
            PointsView->ShowVolumeColumn();
        break;
    case asQuentFull:
        QuentView = AddGrid<TQuentTopListFullGrid>();
        QuentView->SetColumns(text("columns"));
        QuentView->SetIgnoreSortTimer(ini.ReadString(section, "ignore_sort_timer") == "1");
        break;
    case asFerrik:
        FerrikView = AddGrid<TFerrikGrid>();
        FerrikView->SetTextColor(color);
        break;
    case asDravel:
        DravelView = AddGrid<TDravelGrid>();
        DravelView->SetTextColor(color);
        break;
    case asSimpleList:
        PointsView = AddGrid<TPointsTopListGrid>();
        PointsView->SetTextColor(color);
        break;
    case asStrike:
        StrikeView = AddGrid<TVantorGrid>();
        StrikeView->SetExtraColumnName(text("extra_column_visible_name"));
        StrikeView->SetExtraColumnFormat(text("extra_column_format"));
        m_extraColumnKey = ini.ReadString(section, "extra_column_internal_name", DefaultExtraColumnKey);
        StrikeView->SetTextColor(color);
        break;
    }
}

// ---------------------------------------------------------------------------
// Alerts

void TAlertForm::HandleAlert(const QByteArray& data)
{
    QByteArray fieldLine;
    if (!CutFieldLine(data, m_subscription, &fieldLine))
        return;
    // Before LoadSettings there is no grid to show anything in.
    if (!m_grid)
        return;
    if (!AlertWithinLimits(fieldLine)) {
        DebugOutput(QStringLiteral("Alert window \"%1\": an alert was dropped: it has more than %2 fields or a field "
                                   "longer than %3 bytes.")
                        .arg(QString::fromUtf8(m_subscription))
                        .arg(MaxAlertFields)
                        .arg(MaxAlertFieldBytes));
        return;
    }
    tHashTable fields(0);
    ReadAlertFields(fieldLine, fields);
    switch (m_style) {
    case asStrike:
    case asSymbolOnly:
    case asSimpleList:
    case asFerrik:
    case asDravel:
        AddNewestFirst(fields);
        break;
    case asBollinger:
        UpdateBollinger(fields);
        break;
    case asPointsList:
        m_pointsRows = PointsListFromFields(fields);
        ShowPointsRows();
        break;
    case asQuentFull:
        m_quentRows = QuentListFromFields(fields);
        QuentView->SetEntries(m_quentRows);
        break;
    }
}

void TAlertForm::AddNewestFirst(const tHashTable& fields)
{
    switch (m_style) {
    case asStrike:
        if (ExcludeList().Contains(fields.Lookup("symbol")))
            return;
        m_strikeRows.PushFront(StrikeRowFromFields(fields, m_extraColumnKey), MaxNewestFirstRows);
        ShowNewestFirst(StrikeView, m_strikeRows);
        break;
    case asSymbolOnly:
        m_symbolRows.PushFront(StrikeRowFromFields(fields, DefaultExtraColumnKey), MaxNewestFirstRows);
        ShowNewestFirst(SymbolView, m_symbolRows);
        break;
    case asSimpleList:
        m_simpleListRows.PushFront(SimpleListRowFromFields(fields), MaxNewestFirstRows);
        ShowNewestFirst(PointsView, m_simpleListRows);
        break;
    case asFerrik:
        m_ferrikRows.PushFront(FerrikRowFromFields(fields));
        ShowNewestFirst(FerrikView, m_ferrikRows);
        break;
    case asDravel:
        m_dravelRows.PushFront(DravelRowFromFields(fields));
        ShowNewestFirst(DravelView, m_dravelRows);
        break;
    default:
        break;
    }
}

void TAlertForm::UpdateBollinger(const tHashTable& fields)
{
    const QByteArray symbol = fields.Lookup("symbol");
    qsizetype index = m_bollingerSymbols.Contains(symbol) ? FindRowBySymbol(m_bollingerRows, symbol) : -1;
    const QByteArray action = fields.Lookup("action");
    if (action == "add") {
        m_bollingerSymbols.Add(symbol);
        TBollingerEntry row = BollingerRowFromFields(fields, ToDayNumber(m_clock()));
        if (index < 0) {
            m_bollingerRows.append(row);
            index = m_bollingerRows.size() - 1;
        }
        BollingerPlace(m_bollingerRows, index, std::move(row));
    } else if (action == "delete") {
        // A symbol without a row changes nothing and repaints nothing.
        if (index < 0)
            return;
        m_bollingerSymbols.Remove(symbol);
        m_bollingerRows.removeAt(index);
    }
    ShowBollingerRows();
}

void TAlertForm::ShowBollingerRows()
{
    BollingerView->SetEntries(m_bollingerRows);
}

void TAlertForm::ShowPointsRows()
{
    PointsView->SetEntries(m_pointsRows);
}

void TAlertForm::ExpireBollingersTimerTimer()
{
    const double now = ToDayNumber(m_clock());
    if (m_style == asBollinger) {
        m_bollingerSymbols.Clear();
        TBollingerEntries kept;
        kept.reserve(m_bollingerRows.size());
        for (const TBollingerEntry& row : std::as_const(m_bollingerRows)) {
            if (BollingerRowAlive(row.received, now)) {
                kept.append(row);
                m_bollingerSymbols.Add(row.symbol);
            }
        }
        if (kept.size() != m_bollingerRows.size()) {
            m_bollingerRows = kept;
            ShowBollingerRows();
        }
    }
    // This timer is also the full top list's clock.
    if (QuentView)
        QuentView->CheckSort();
}

// ---------------------------------------------------------------------------
// Commands

void TAlertForm::ClearWindow()
{
    switch (m_style) {
    case asStrike:
        ClearNewestFirst(StrikeView, m_strikeRows);
        break;
    case asSymbolOnly:
        ClearNewestFirst(SymbolView, m_symbolRows);
        break;
    case asSimpleList:
        ClearNewestFirst(PointsView, m_simpleListRows);
        break;
    default:
        break;
    }
}

void TAlertForm::ClearWindowMenuItemClick()
{
    ClearWindow();
}

void TAlertForm::FreezeActionUpdate()
{
    if (QuentView)
        FreezeAction->setChecked(QuentView->Frozen());
}

void TAlertForm::FreezeActionExecute()
{
    if (!QuentView)
        return;
    QuentView->SetFrozen(!QuentView->Frozen());
    FreezeActionUpdate();
}

void TAlertForm::SortNowActionUpdate()
{
    if (!QuentView)
        return;
    SortNowAction->setEnabled(QuentView->HavePending());
    const QString missing = QuentView->MissingText();
    SortNowAction->setText(missing.isEmpty() ? QStringLiteral("Sort Now")
                                             : QStringLiteral("Sort Now (") + missing + QStringLiteral(" missing)"));
}

void TAlertForm::SortNowActionExecute()
{
    if (QuentView)
        QuentView->SortNow();
}

QMenu* TAlertForm::ContextMenu() const
{
    if (StyleHasClearCommand(m_style))
        return ClearPopup;
    if (m_style == asQuentFull)
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

const QList<TAlertForm*>& AllAlertWindows()
{
    return LivingAlertWindows();
}
