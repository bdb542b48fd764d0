#pragma once
// What all connections share: who may log in, the sessions handed out so far
// (so a re-login with a known session id is recognised) and the fault switches.
#include "ServerOptions.h"
#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

namespace AlertServer {

class ServerState {
public:
    explicit ServerState(const ServerOptions& options);
    // The STOP reason for a refused login, nullopt when the login is accepted.
    std::optional<QString> RefusalFor(const QByteArray& user, const QByteArray& password) const;
    // Returns the session id for this login: the requested one when it is known
    // for the same user (Resumed set), otherwise a fresh one.
    QByteArray OpenSession(const QByteArray& requestedId, const QByteArray& user, bool& resumed);
    FaultSwitches Faults;
    const bool LogMessages;

private:
    QString Password;
    std::optional<QHash<QByteArray, QByteArray>> Users;
    QHash<QByteArray, QByteArray> SessionUsers;
    quint64 SessionCounter = 0;
};

} // namespace AlertServer
