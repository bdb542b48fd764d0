#pragma once
// How the full top-list grid asks for the price-spike sound without depending
// on the main window: the shell connects the signal to the main window's
// PlayPriceSpikeSound at start-up, tests to a counter, each with a context
// object. The grid asks only after painting has finished, never from inside a
// paint event.
#include <QObject>

class TPriceSpikeSound : public QObject {
    Q_OBJECT

signals:
    void Requested();
};

TPriceSpikeSound& PriceSpikeSound();
void PlayPriceSpikeSound();
