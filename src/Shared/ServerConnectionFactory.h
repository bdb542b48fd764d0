#pragma once
// Makes the server connection the settings ask for: a TCP connection to the
// server address, or the HTTP tunnel when they name one.
#include "Shared/GenericServerConnection.h"
#include <QString>
#include <memory>

struct TServerAddress {
    QString Host;
    QString Port;
};

// Cuts "host:port" at the first colon; without a colon the whole text is the
// host and the port is "8888".
TServerAddress SplitServerAddress(const QString& address);

std::unique_ptr<TGenericServerConnection> CreateServerConnection(const TConnectionSettings& settings);
