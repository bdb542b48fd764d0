#include "ScriptedServerConnection.h"
#include "base/Assertions.h"
#include <stdexcept>

ScriptedServerConnection::~ScriptedServerConnection()
{
    *Destroyed = true;
    if (m_phase != Phase::Ended)
        EndSession();
}

bool ScriptedServerConnection::Connect()
{
    ++ConnectCalls;
    if (!m_failConnect)
        return true;
    ErrorText = m_connectFailure;
    ++SessionClosedRaised;
    RaiseSessionClosed();
    return false;
}

void ScriptedServerConnection::Send(const QByteArray& data)
{
    if (m_phase == Phase::NotOpen)
        AssertionFailure("Assertion failure", "ScriptedServerConnection", __LINE__);
    if (m_phase == Phase::Open)
        m_sends.append(data);
}

void ScriptedServerConnection::Close()
{
    ++CloseCalls;
    if (m_phase != Phase::Ended)
        EndSession();
}

QByteArray ScriptedServerConnection::ReadAll()
{
    ++ReadAllCalls;
    if (!m_readAllFailure.isEmpty()) {
        const QString message = m_readAllFailure;
        m_readAllFailure.clear();
        throw std::runtime_error(message.toStdString());
    }
    QByteArray bytes;
    bytes.swap(m_incoming);
    return bytes;
}

void ScriptedServerConnection::ReportConnected()
{
    if (m_phase != Phase::NotOpen)
        return;
    m_phase = Phase::Open;
    RaiseSessionConnected();
}

void ScriptedServerConnection::ReportClosed()
{
    if (m_phase != Phase::Ended)
        EndSession();
}

void ScriptedServerConnection::Deliver(const QByteArray& bytes)
{
    m_incoming += bytes;
    RaiseDataAvailable();
}

void ScriptedServerConnection::FailConnectWith(const QString& errorText)
{
    m_failConnect = true;
    m_connectFailure = errorText;
}

void ScriptedServerConnection::FailReadAllWith(const QString& message) { m_readAllFailure = message; }

QByteArray ScriptedServerConnection::AllSent() const
{
    QByteArray all;
    for (const QByteArray& piece : m_sends)
        all += piece;
    return all;
}

void ScriptedServerConnection::EndSession()
{
    m_phase = Phase::Ended;
    ++SessionClosedRaised;
    RaiseSessionClosed();
}

TTalkWithServer::TConnectionFactory ScriptedServerConnection::FactoryInto(ScriptedServerConnection** made)
{
    return [made](TTalkWithServer& talk) -> std::unique_ptr<TGenericServerConnection> {
        auto connection = std::make_unique<ScriptedServerConnection>(talk.Settings());
        *made = connection.get();
        return connection;
    };
}
