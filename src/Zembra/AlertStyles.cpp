#include "Zembra/AlertStyles.h"
#include "Zembra/AlertRows.h"
#include "base/Assertions.h"
#include <limits>

namespace {

template <typename TRows>
std::unique_ptr<TAlertRows> MakeRows(const TListStyle& style, const TRowsSetup& setup)
{
    return std::make_unique<TRows>(style, setup);
}

constexpr TListStyle Styles[] = {
    {asStrike, nullptr, true, MaxNewestFirstRows, MakeRows<TVantorRows>},
    {asBollinger, "set", false, 0, MakeRows<TBollingerRows>},
    {asSymbolOnly, "symbol", true, MaxNewestFirstRows, MakeRows<TVantorRows>},
    {asPointsList, "pointslist", false, 0, MakeRows<TPointsListRows>},
    {asSimpleList, "simplelist", true, MaxNewestFirstRows, MakeRows<TSimpleListRows>},
    {asFerrik, "ferrik-simplelist", false, 0, MakeRows<TFerrikRows>},
    {asQuentFull, "quent", false, 0, MakeRows<TTopListRows>},
    {asDravel, "dravel-simplelist", false, 0, MakeRows<TDravelRows>},
};

// A style is found by its value: the table must not skip or repeat one.
constexpr bool InStyleOrder()
{
    for (size_t i = 0; i < std::size(Styles); ++i)
        if (Styles[i].Style != i)
            return false;
    return true;
}
static_assert(InStyleOrder());

constexpr quint32 White = 0x00FFFFFF;

} // namespace

std::span<const TListStyle> ListStyles() { return Styles; }

const TListStyle& ListStyleOf(TAlertStyle style)
{
    TAV_ASSERT(style < std::size(Styles), "AlertStyles", __LINE__);
    return Styles[style];
}

const TListStyle& StyleFromDisplay(const QByteArray& display)
{
    for (const TListStyle& style : Styles)
        if (style.Display && display == style.Display)
            return style;
    return Styles[asStrike];
}

std::unique_ptr<TAlertRows> MakeAlertRows(TAlertStyle style, const TRowsSetup& setup)
{
    const TListStyle& listStyle = ListStyleOf(style);
    return listStyle.MakeRows(listStyle, setup);
}

quint32 ReadColorSetting(const QByteArray& text)
{
    bool ok = false;
    qint64 value = 0;
    if (text.startsWith('$')) {
        const QByteArray digits = text.mid(1);
        // A sign after the "$" is no hexadecimal number.
        if (!digits.isEmpty() && digits.front() != '-' && digits.front() != '+')
            value = digits.toLongLong(&ok, 16);
    } else {
        value = text.toLongLong(&ok, 10);
    }
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<quint32>::max())
        return White;
    return static_cast<quint32>(value);
}
