#pragma once
// Keeps tests away from the developer's own files: every test binary runs in a
// fresh temporary working directory (where "Braxo.ini" is looked up) and with
// Qt's per-user settings redirected to a temporary folder.
#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>

namespace TestEnvironment {
void Install();
// The temporary working directory of this test binary.
QString WorkDir();
// Writes "Braxo.ini" in the working directory (replacing any earlier one).
void WriteIni(const QByteArray& contents);
void RemoveIni();
// Clears every stored per-user setting.
void ClearSettings();
// Runs the event loop until the predicate holds or the timeout passes;
// returns the predicate's last value. Never sleeps blindly.
bool WaitFor(const std::function<bool()>& predicate,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Delivers every posted event, including ones posted while delivering, without
// waiting for anything new: one turn of the loop as a handler's caller sees it.
void DeliverPosted();
}
