#pragma once
// How the grids reach external linking without depending on the window that
// hosts the connector: they ask the TSymbolLinks they are given, which `main`
// owns and whose signals it connects to the external linking window (tests
// to a recorder), each with a context object, so that a receiver that goes
// is disconnected by Qt.
#include <QByteArray>
#include <QObject>
#include <QString>

class TSymbolLinks : public QObject {
    Q_OBJECT

public:
    // Hands the symbol, linked in the window with that title, to the
    // connected receivers; does nothing without one.
    void Link(const QByteArray& symbol, const QString& window) { emit LinkRequested(symbol, window); }
    // The trader is told why a link failed: through LinkFailed when someone
    // listens, else in a non-modal warning box.
    void ReportFailure(const QString& message);

signals:
    // Connect directly: a receiver may throw, and the caller of Link decides
    // whether to report or drop the error.
    void LinkRequested(const QByteArray& symbol, const QString& window);
    void LinkFailed(const QString& message);
};
