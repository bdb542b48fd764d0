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
