#include "ServerState.h"
#include <QCryptographicHash>
#include <QRandomGenerator>

namespace AlertServer {

ServerState::ServerState(const ServerOptions& options)
    : Faults(options.Faults), LogMessages(options.LogMessages), Password(options.Password), Users(options.Users)
{
}

std::optional<QString> ServerState::RefusalFor(const QByteArray& user, const QByteArray& password) const
{
    if (!Faults.RefuseReason.isEmpty())
        return Faults.RefuseReason;
    const QString invalid = QStringLiteral("Invalid user name or password.");
    if (Users)
        return Users->contains(user) && Users->value(user) == password ? std::nullopt : std::optional(invalid);
    if (!Password.isEmpty() && password != Password.toUtf8())
        return invalid;
    return std::nullopt;
}

QByteArray ServerState::OpenSession(const QByteArray& requestedId, const QByteArray& user, bool& resumed)
{
    resumed = !requestedId.isEmpty() && SessionUsers.value(requestedId) == user && SessionUsers.contains(requestedId);
    if (resumed)
        return requestedId;
    // Unguessable ids: a session id is all a client needs to resume a session.
    const QByteArray seed = QByteArray::number(++SessionCounter) + QByteArray::number(QRandomGenerator::system()->generate64());
    const QByteArray id = QCryptographicHash::hash(seed, QCryptographicHash::Sha1).toHex().left(20);
    SessionUsers.insert(id, user);
    return id;
}

} // namespace AlertServer
