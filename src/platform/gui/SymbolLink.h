#pragma once
// How the grids reach external linking without depending on the window that
// hosts the connector: the shell installs the handler at start-up (the
// external linking window's LinkSymbol), tests install a fake. A handler may
// throw; the caller decides whether to report or drop the error.
#include <QByteArray>
#include <functional>

using TSymbolLinkHandler = std::function<void(const QByteArray& symbol)>;

void SetSymbolLinkHandler(TSymbolLinkHandler handler);
// Hands the symbol to the installed handler; does nothing without one.
void LinkSymbol(const QByteArray& symbol);
