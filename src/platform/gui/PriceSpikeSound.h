#pragma once
// How the full top-list grid asks for the price-spike sound without depending
// on the main window: `main` owns the emitter the grids are given and
// connects its signal to the main window's PlayPriceSpikeSound, tests to a
// counter, each with a context object. The grid asks only after painting has finished, never from inside a
// paint event.
#include <QObject>

class TPriceSpikeSound : public QObject {
    Q_OBJECT

public:
    void Request() { emit Requested(); }

signals:
    void Requested();
};
