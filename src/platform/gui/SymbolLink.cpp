#include "platform/gui/SymbolLink.h"

namespace {
TSymbolLinkHandler& Handler()
{
    static TSymbolLinkHandler handler;
    return handler;
}
}

void SetSymbolLinkHandler(TSymbolLinkHandler handler) { Handler() = std::move(handler); }

void LinkSymbol(const QByteArray& symbol)
{
    if (Handler())
        Handler()(symbol);
}
