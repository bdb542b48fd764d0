#include "Zembra/AlertStyleGrids.h"

#include "base/Assertions.h"
#include "Zembra/QuentGridFull.h"
#include "grids/BollingerGrid.h"
#include "grids/DravelGrid.h"
#include "grids/FerrikGrid.h"
#include "grids/PointsTopListGrid.h"
#include "grids/SymbolOnlyGrid.h"
#include "grids/VantorGrid.h"
#include "platform/core/IniFile.h"

#include <QLayout>
#include <QWidget>
#include <type_traits>

namespace {

// The window's keys as a grid's set-up reads them, and where its requests go.
struct TGridKeys {
    const TGridRequests& Requests;
    const TIniFile& Ini;
    const QByteArray& Section;

    QByteArray Value(const char* key) const { return Ini.ReadString(Section, key); }
    QString Text(const char* key) const { return QString::fromUtf8(Value(key)); }
    quint32 Color() const { return ReadColorSetting(Value("color")); }
};

template <typename TGrid>
void SetUpTextColor(TGrid& grid, const TGridKeys& keys)
{
    grid.SetTextColor(keys.Color());
}

void SetUpStrike(TVantorGrid& grid, const TGridKeys& keys)
{
    grid.SetExtraColumnName(keys.Text("extra_column_visible_name"));
    grid.SetExtraColumnFormat(keys.Text("extra_column_format"));
    grid.SetTextColor(keys.Color());
}

// The sign colours decide this grid's text; the colour setting does not apply.
void SetUpBollinger(TBollingerGrid& grid, const TGridKeys& keys)
{
    const QString extra = keys.Text("extra");
    if (!extra.isEmpty())
        grid.SetBandLabel(extra);
}

void SetUpPointsList(TPointsTopListGrid& grid, const TGridKeys& keys)
{
    grid.SetTextColor(keys.Color());
    if (keys.Value("volume") == "1")
        grid.ShowVolumeColumn();
}

void SetUpTopList(TQuentTopListFullGrid& grid, const TGridKeys& keys)
{
    grid.SetColumns(keys.Text("columns"));
    grid.SetIgnoreSortTimer(keys.Value("ignore_sort_timer") == "1");
}

template <typename TGrid, typename TRows>
void SetEntries(TGrid& grid, TRows& rows)
{
    rows.TakeAdded();
    grid.SetEntries(rows.Rows());
}

// The board's ring moves one cell per alert, however many are handed over at once.
void AddToBoard(TSymbolOnlyGrid& grid, TVantorRows& rows) { grid.AddEntries(rows.Rows(), rows.TakeAdded()); }

TQuentTopListFullGrid* TopListOf(TListGrid*) { return nullptr; }

TQuentTopListFullGrid* TopListOf(TQuentTopListFullGrid* grid) { return grid; }

template <typename TGrid, typename TRows, void (*SetUp)(TGrid&, const TGridKeys&),
          void (*HandOver)(TGrid&, TRows&) = SetEntries<TGrid, TRows>>
TStyleGrid Bind(const TListStyle& style, const TRowsSetup& setup, QWidget& window, const TGridKeys& keys)
{
    auto rows = std::make_unique<TRows>(style, setup);
    TGrid* grid = nullptr;
    if constexpr (std::is_same_v<TGrid, TQuentTopListFullGrid>)
        grid = new TGrid(&window, keys.Requests.SymbolLinks, keys.Requests.PriceSpikeSound);
    else
        grid = new TGrid(&window, keys.Requests.SymbolLinks);
    window.layout()->addWidget(grid);
    grid->show();
    SetUp(*grid, keys);
    TRows& bound = *rows;
    return {std::move(rows), grid, [grid, &bound] { HandOver(*grid, bound); }, TopListOf(grid)};
}

struct TGridStyle {
    TAlertStyle Style;
    TStyleGrid (*Make)(const TListStyle& style, const TRowsSetup& setup, QWidget& window, const TGridKeys& keys);
};

constexpr TGridStyle GridStyles[] = {
    {asStrike, Bind<TVantorGrid, TVantorRows, SetUpStrike>},
    {asBollinger, Bind<TBollingerGrid, TBollingerRows, SetUpBollinger>},
    {asSymbolOnly, Bind<TSymbolOnlyGrid, TVantorRows, SetUpTextColor<TSymbolOnlyGrid>, AddToBoard>},
    {asPointsList, Bind<TPointsTopListGrid, TPointsListRows, SetUpPointsList>},
    {asSimpleList, Bind<TPointsTopListGrid, TSimpleListRows, SetUpTextColor<TPointsTopListGrid>>},
    {asFerrik, Bind<TFerrikGrid, TFerrikRows, SetUpTextColor<TFerrikGrid>>},
    {asQuentFull, Bind<TQuentTopListFullGrid, TTopListRows, SetUpTopList>},
    {asDravel, Bind<TDravelGrid, TDravelRows, SetUpTextColor<TDravelGrid>>},
};

} // namespace

TStyleGrid MakeStyleGrid(const TListStyle& style, const TRowsSetup& rows, QWidget& window,
                         const TGridRequests& requests, const TIniFile& ini, const QByteArray& section)
{
    for (const TGridStyle& grid : GridStyles)
        if (grid.Style == style.Style)
            return grid.Make(style, rows, window, TGridKeys{requests, ini, section});
    // Every style of the session's table has its grid here.
    AssertionFailure("Assertion failure", "AlertStyleGrids", __LINE__);
}
