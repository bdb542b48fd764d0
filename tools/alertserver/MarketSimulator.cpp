#include "MarketSimulator.h"
#include <algorithm>
#include <cmath>

namespace AlertServer {

namespace {
const char* const Tickers[] = {
    "AMRX", "BLTN", "CRVO", "DNXA", "EKLO", "FRWD", "GLMR", "HSKY", "INVR", "JOLT",
    "KRNA", "LUMN", "MAVX", "NTRO", "OPLX", "PRSM", "QUBE", "RVLT", "SNPR", "TRXA",
    "ULTR", "VNTG", "WYLD", "XENO", "YARD", "ZEPH", "ABX", "BRK.B", "CMX", "DLT",
    "EQX", "FYN", "GRT", "HLX", "IMP", "JNX", "KOR", "LVA", "MRQ", "NVL",
    "OBN", "PTRA", "QNT", "RSK", "STRN", "TVK", "UNDR", "VLMR", "WKR", "XPL",
    "YLO", "ZNC", "ARCT", "BOLT", "CNDL", "DRFT", "EMBR", "FLUX", "GRID", "HALO",
    "IRIS", "JADE", "KITE", "LYNX",
};

struct StyleName {
    ListStyle Style;
    const char* Name;
};
const StyleName StyleNames[] = {
    {ListStyle::Strike, "strike"},         {ListStyle::Bollinger, "bollinger"},
    {ListStyle::Symbol, "symbol"},         {ListStyle::PointsList, "pointslist"},
    {ListStyle::SimpleList, "simplelist"}, {ListStyle::Ferrik, "ferrik"},
    {ListStyle::Dravel, "dravel"},         {ListStyle::Quent, "quent"},
};

double PercentChange(const Quote& quote)
{
    return (quote.Last - quote.PrevClose) / quote.PrevClose * 100.0;
}
} // namespace

std::optional<ListStyle> ParseListStyle(const QString& name)
{
    for (const auto& entry : StyleNames)
        if (name == QLatin1String(entry.Name))
            return entry.Style;
    return std::nullopt;
}

QString ListStyleName(ListStyle style)
{
    for (const auto& entry : StyleNames)
        if (entry.Style == style)
            return QString::fromLatin1(entry.Name);
    return {};
}

QStringList ListStyleNames()
{
    QStringList names;
    for (const auto& entry : StyleNames)
        names << QString::fromLatin1(entry.Name);
    return names;
}

QByteArray FormatNumber(double value, int decimals)
{
    return QByteArray::number(value, 'f', decimals);
}

Market::Market(quint32 seed) : Random(seed)
{
    for (const char* ticker : Tickers) {
        Quote quote;
        quote.Symbol = ticker;
        quote.PrevClose = std::round(Uniform(2.0, 400.0) * 100.0) / 100.0;
        quote.Last = quote.PrevClose * Uniform(0.97, 1.03);
        quote.High = std::max(quote.Last, quote.PrevClose);
        quote.Low = std::min(quote.Last, quote.PrevClose);
        quote.OpenHigh = quote.Last * 1.004;
        quote.OpenLow = quote.Last * 0.996;
        quote.Volume = Between(20000, 2000000);
        quote.Count = Between(10, 900);
        quote.VolRate = Uniform(0.5, 3.5);
        Quotes.push_back(quote);
    }
}

double Market::Uniform(double low, double high)
{
    return low + Random.generateDouble() * (high - low);
}

int Market::Between(int low, int highInclusive)
{
    return static_cast<int>(Random.bounded(low, highInclusive + 1));
}

bool Market::Chance(double probability)
{
    return Random.generateDouble() < probability;
}

void Market::StepQuote(Quote& quote)
{
    quote.Last = std::max(0.5, quote.Last * (1.0 + Uniform(-0.004, 0.004)));
    quote.High = std::max(quote.High, quote.Last);
    quote.Low = std::min(quote.Low, quote.Last);
    quote.Volume += Between(100, 40000);
    quote.Count += Between(1, 40);
    quote.SmaDivergence = std::clamp(quote.SmaDivergence + Uniform(-0.3, 0.3), -5.0, 5.0);
    quote.BandDistance = std::clamp(quote.BandDistance + Uniform(-0.6, 0.6), -4.0, 4.0);
    quote.Strength = std::clamp(quote.Strength + Uniform(-1.5, 1.5), -10.0, 10.0);
    quote.UpTrend = std::clamp(quote.UpTrend + Uniform(-1.5, 1.5), -10.0, 10.0);
    quote.VolRate = std::clamp(quote.VolRate + Uniform(-0.3, 0.3), 0.5, 3.5);
}

void Market::Step()
{
    for (auto& quote : Quotes)
        StepQuote(quote);
}

int Market::PickIndex()
{
    return Between(0, SymbolCount() - 1);
}

QByteArray Market::NextTime(TimeFormat format)
{
    SecondsOfDay = (SecondsOfDay + Between(1, 4)) % (24 * 3600);
    const QByteArray minutes = QByteArray::number(SecondsOfDay / 3600).rightJustified(2, '0') + ':' +
                               QByteArray::number(SecondsOfDay / 60 % 60).rightJustified(2, '0');
    if (format == TimeFormat::Minutes)
        return minutes;
    return minutes + ':' + QByteArray::number(SecondsOfDay % 60).rightJustified(2, '0');
}

QByteArray Market::RandomTicker()
{
    return PickOne().Symbol;
}

AlertComposer::AlertComposer(ListStyle style, quint32 seed) : StyleOfList(style), Prices(seed) {}

AlertFields AlertComposer::NextAlert()
{
    Prices.Step();
    switch (StyleOfList) {
    case ListStyle::Strike: return StrikeAlert();
    case ListStyle::Bollinger: return BollingerAlert();
    case ListStyle::Symbol: return SymbolAlert();
    case ListStyle::PointsList: return PointsListAlert();
    case ListStyle::SimpleList: return SimpleListAlert();
    case ListStyle::Ferrik: return FerrikAlert();
    case ListStyle::Dravel: return DravelAlert();
    case ListStyle::Quent: return QuentAlert();
    }
    return {};
}

AlertFields AlertComposer::StrikeAlert()
{
    const Quote& quote = Prices.PickOne();
    return {{"symbol", quote.Symbol},
            {"last", FormatNumber(quote.Last)},
            {"prev_close", FormatNumber(quote.PrevClose)},
            {"sma_divergence", FormatNumber(quote.SmaDivergence)},
            {"volume", QByteArray::number(quote.Volume)},
            {"time", Prices.NextTime()}};
}

AlertFields AlertComposer::BollingerAlert()
{
    // Roughly one alert in four withdraws a symbol that is outside its band.
    if (!BandSymbols.isEmpty() && Prices.Chance(0.25)) {
        const QByteArray symbol = BandSymbols.takeAt(Prices.Between(0, int(BandSymbols.size()) - 1));
        return {{"action", "delete"}, {"symbol", symbol}};
    }
    const Quote& quote = Prices.PickOne();
    if (!BandSymbols.contains(quote.Symbol))
        BandSymbols.append(quote.Symbol);
    double distance = quote.BandDistance;
    if (std::abs(distance) < 0.05)
        distance = Prices.Chance(0.5) ? 0.05 : -0.05;
    return {{"action", "add"},
            {"symbol", quote.Symbol},
            {"last", FormatNumber(quote.Last)},
            {"prev_close", FormatNumber(quote.PrevClose)},
            {"dist_from_bb", FormatNumber(distance)}};
}

AlertFields AlertComposer::SymbolAlert()
{
    const Quote& quote = Prices.PickOne();
    return {{"symbol", quote.Symbol},
            {"last", FormatNumber(quote.Last)},
            {"prev_close", FormatNumber(quote.PrevClose)},
            {"sma_divergence", FormatNumber(quote.SmaDivergence)},
            {"time", Prices.NextTime()}};
}

std::vector<int> AlertComposer::RankedSymbols(int count, bool byStrength)
{
    std::vector<int> order(static_cast<size_t>(Prices.SymbolCount()));
    for (int i = 0; i < Prices.SymbolCount(); ++i)
        order[static_cast<size_t>(i)] = i;
    auto score = [&](int i) {
        const Quote& quote = Prices.At(i);
        return byStrength ? quote.Strength * quote.VolRate : PercentChange(quote);
    };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return score(a) > score(b); });
    order.resize(static_cast<size_t>(std::min(count, Prices.SymbolCount())));
    return order;
}

AlertFields AlertComposer::PointsListAlert()
{
    AlertFields fields;
    const auto ranked = RankedSymbols(Prices.Between(8, 12), false);
    for (size_t row = 0; row < ranked.size(); ++row) {
        const Quote& quote = Prices.At(ranked[row]);
        const QByteArray n = QByteArray::number(static_cast<int>(row));
        fields.append({"symbol" + n, quote.Symbol});
        fields.append({"last" + n, FormatNumber(quote.Last)});
        fields.append({"change" + n, FormatNumber(quote.Last - quote.PrevClose)});
        fields.append({"percent_vol" + n, FormatNumber(Prices.Uniform(0.1, 45.0), 1)});
    }
    return fields;
}

AlertFields AlertComposer::SimpleListAlert()
{
    const Quote& quote = Prices.PickOne();
    return {{"symbol", quote.Symbol},
            {"last", FormatNumber(quote.Last)},
            {"change", FormatNumber(quote.Last - quote.PrevClose)}};
}

// A count the "#" column of the simple lists can show: a symbol alerting
// again and again stands out at 10 (its cell turns yellow), and with 64
// symbols the count stays well under 100.
constexpr size_t RecentAlerts = 400;

const Quote& AlertComposer::PickRecounted(int& count)
{
    const int index = Prices.PickIndex();
    Recent.push_back(index);
    if (Recent.size() > RecentAlerts)
        Recent.pop_front();
    count = static_cast<int>(std::count(Recent.begin(), Recent.end(), index));
    return Prices.At(index);
}

AlertFields AlertComposer::FerrikAlert()
{
    int count = 0;
    const Quote& quote = PickRecounted(count);
    return {{"time", Prices.NextTime(Market::TimeFormat::Minutes)},
            {"symbol", quote.Symbol},
            {"change", FormatNumber(PercentChange(quote))},
            {"count", QByteArray::number(count)},
            {"volume", QByteArray::number(quote.Volume)},
            {"bb", FormatNumber(quote.BandDistance)},
            // A shading weight from 0 (none) to 1 (full); some rows unshaded.
            {"rank", Prices.Chance(0.25) ? QByteArray("0") : FormatNumber(Prices.Uniform(0.05, 1.0))},
            {"rv", FormatNumber(quote.VolRate)}};
}

AlertFields AlertComposer::DravelAlert()
{
    int count = 0;
    const Quote& quote = PickRecounted(count);
    return {{"time", Prices.NextTime(Market::TimeFormat::Minutes)},
            {"symbol", quote.Symbol},
            {"last", FormatNumber(quote.Last)},
            {"prev_close", FormatNumber(quote.PrevClose)},
            {"count", QByteArray::number(count)},
            {"volume", QByteArray::number(quote.Volume)}};
}

void AlertComposer::AppendQuentRow(AlertFields& fields, int row, const Quote& quote)
{
    const QByteArray n = QByteArray::number(row);
    const double range = std::max(quote.High - quote.Low, 0.01);
    const double openRange = std::max(quote.OpenHigh - quote.OpenLow, 0.01);
    // Spikes of 7 or more are rare on purpose: they light a cell and sound an alarm.
    const double drawn = Prices.Chance(0.04) ? Prices.Uniform(7.0, 12.0) : Prices.Uniform(0.0, 6.9);
    const double spike = SpikeStream ? (SpikesUp ? 9.0 : 1.0) : drawn;
    const bool atHigh = quote.Last >= quote.High - range * 0.02;
    const bool atLow = quote.Last <= quote.Low + range * 0.02;
    const double newHigh = atHigh ? Prices.Uniform(0.3, 1.0) : (Prices.Chance(0.15) ? Prices.Uniform(0.0, 0.3) : 0.0);
    const double newLow = atLow ? Prices.Uniform(0.3, 1.0) : (Prices.Chance(0.15) ? Prices.Uniform(0.0, 0.3) : 0.0);
    fields.append({"symbol" + n, quote.Symbol});
    fields.append({"price_spike" + n, FormatNumber(spike, 1)});
    fields.append({"vol_rate" + n, FormatNumber(quote.VolRate)});
    fields.append({"todays_range" + n, FormatNumber((quote.Last - quote.Low) / range * 100.0, 1)});
    fields.append({"opening_range" + n,
                   FormatNumber(std::clamp((quote.Last - quote.OpenLow) / openRange * 100.0, 0.0, 100.0), 1)});
    fields.append({"strength" + n, FormatNumber(quote.Strength, 1)});
    fields.append({"up_trend" + n, FormatNumber(quote.UpTrend, 1)});
    fields.append({"near_high" + n, FormatNumber((quote.High - quote.Last) / quote.Last * 100.0, 1)});
    fields.append({"near_low" + n, FormatNumber((quote.Last - quote.Low) / quote.Last * 100.0, 1)});
    fields.append({"new_high" + n, FormatNumber(newHigh, 2)});
    fields.append({"new_low" + n, FormatNumber(newLow, 2)});
    fields.append({"last" + n, FormatNumber(quote.Last)});
    fields.append({"change" + n, FormatNumber(PercentChange(quote))});
    fields.append({"volume" + n, QByteArray::number(quote.Volume)});
    fields.append({"count" + n, QByteArray::number(quote.Count)});
}

AlertFields AlertComposer::QuentAlert()
{
    // The list length drifts so that rows come and go between alerts.
    QuentRowCount = std::clamp(QuentRowCount + Prices.Between(-3, 3), 20, std::min(60, Prices.SymbolCount()));
    SpikesUp = SpikeStream && !SpikesUp;
    AlertFields fields;
    const auto ranked = RankedSymbols(QuentRowCount, true);
    for (size_t row = 0; row < ranked.size(); ++row)
        AppendQuentRow(fields, static_cast<int>(row), Prices.At(ranked[row]));
    return fields;
}

} // namespace AlertServer
