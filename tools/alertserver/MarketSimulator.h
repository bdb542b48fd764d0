#pragma once
// A synthetic market: a few dozen symbols whose prices, volumes and trade
// counts take random walks, and the alert composers that turn it into the
// fields each list style needs. Everything is driven by one seeded generator
// per composer, so a seed repeats a category's alerts exactly.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

namespace AlertServer {

using AlertFields = QList<QPair<QByteArray, QByteArray>>;

enum class ListStyle { Strike, Bollinger, Symbol, PointsList, SimpleList, Ferrik, Dravel, Quent };

std::optional<ListStyle> ParseListStyle(const QString& name);
QString ListStyleName(ListStyle style);
QStringList ListStyleNames();

struct Quote {
    QByteArray Symbol;
    double PrevClose = 0;
    double Last = 0;
    double High = 0;
    double Low = 0;
    double OpenHigh = 0;
    double OpenLow = 0;
    qint64 Volume = 0;
    int Count = 0;
    double SmaDivergence = 0;
    double BandDistance = 0;
    double Strength = 0;
    double UpTrend = 0;
    double VolRate = 1;
};

class Market {
public:
    explicit Market(quint32 seed);
    void Step();
    int SymbolCount() const { return static_cast<int>(Quotes.size()); }
    const Quote& At(int index) const { return Quotes[static_cast<size_t>(index)]; }
    int PickIndex();
    const Quote& PickOne() { return At(PickIndex()); }
    double Uniform(double low, double high);
    int Between(int low, int highInclusive);
    bool Chance(double probability);
    // Market time of day, "HH:MM:SS" or "HH:MM" (as the simple lists show
    // it); it advances a few seconds per call so that seeded runs do not
    // depend on the wall clock.
    enum class TimeFormat { Seconds, Minutes };
    QByteArray NextTime(TimeFormat format = TimeFormat::Seconds);
    QByteArray RandomTicker();

private:
    void StepQuote(Quote& quote);
    QRandomGenerator Random;
    std::vector<Quote> Quotes;
    int SecondsOfDay = 9 * 3600 + 30 * 60;
};

QByteArray FormatNumber(double value, int decimals = 2);

class AlertComposer {
public:
    AlertComposer(ListStyle style, quint32 seed);
    ListStyle Style() const { return StyleOfList; }
    AlertFields NextAlert();
    // On: every row of a top list spikes (9) on every other alert and is calm
    // (1) in between, so that each spike is new to the client.
    void SetSpikeStream(bool on) { SpikeStream = on; }

private:
    AlertFields StrikeAlert();
    AlertFields BollingerAlert();
    AlertFields SymbolAlert();
    AlertFields PointsListAlert();
    AlertFields SimpleListAlert();
    AlertFields FerrikAlert();
    AlertFields DravelAlert();
    AlertFields QuentAlert();
    void AppendQuentRow(AlertFields& fields, int row, const Quote& quote);
    // A symbol for the simple lists, and how often the category alerted on
    // it lately: its alerts among the category's last RecentAlerts.
    const Quote& PickRecounted(int& count);
    std::vector<int> RankedSymbols(int count, bool byStrength);

    ListStyle StyleOfList;
    Market Prices;
    QList<QByteArray> BandSymbols;
    std::deque<int> Recent; // symbol indices, newest last
    int QuentRowCount = 30;
    bool SpikeStream = false;
    bool SpikesUp = false;
};

} // namespace AlertServer
