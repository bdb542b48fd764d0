#pragma once
// How an alert window asks for a desktop notification without depending on
// who shows it: `main` owns the emitter the windows are given and connects
// its signal to the shell's notifications, tests to a recorder, each with a
// context object.
#include <QByteArray>
#include <QObject>
#include <QString>

class TAlertNotices : public QObject {
    Q_OBJECT

public:
    void Report(const QString& window, const QByteArray& symbol, const QString& values, int alerts, bool priceSpike)
    {
        emit NewRows(window, symbol, values, alerts, priceSpike);
    }

signals:
    // `alerts` new rows came to the window with that title, the latest for
    // `symbol`, beside which the window shows `values`; or a price spike
    // showed in the symbol's row.
    void NewRows(const QString& window, const QByteArray& symbol, const QString& values, int alerts, bool priceSpike);
};
