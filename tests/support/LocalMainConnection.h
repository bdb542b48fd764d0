#pragma once
// Main connections of a test's own, and the settings they read.
#include "Zembra/MainConnectionUnit.h"
#include <memory>

// Always these settings; they never change.
TConnectionSettingsSource FixedConnectionSettings(TConnectionSettings settings);
// "Braxo.ini" in the working directory (the test's, see TestEnvironment),
// read for each conversation.
TConnectionSettingsSource TestIniSettings();

// Real connections as the conversation's settings say, but to this address.
TTalkWithServer::TConnectionFactory ConnectionsTo(const QString& address);

// A connection aimed at a closed local port with no timer of its own, so
// that nothing reaches the network and nothing reconnects behind the test's
// back. The test drives Tick itself when it needs to.
std::unique_ptr<TMainConnection> MakeLocalMainConnection(TMainConnectionDependencies dependencies = {});
