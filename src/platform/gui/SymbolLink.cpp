#include "platform/gui/SymbolLink.h"
#include "platform/gui/ErrorReport.h"
#include <QMetaMethod>

void TSymbolLinks::ReportFailure(const QString& message)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&TSymbolLinks::LinkFailed)))
        emit LinkFailed(message);
    else
        ShowWarningToUser(message); // non-modal: the click handler returns at once
}

TSymbolLinks& SymbolLinks()
{
    // Never destroyed: a grid may ask up to the very end of the process.
    static TSymbolLinks* const links = new TSymbolLinks;
    return *links;
}

void LinkSymbol(const QByteArray& symbol) { emit SymbolLinks().LinkRequested(symbol); }
