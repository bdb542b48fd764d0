#pragma once
// The byte pipe between a conversation and the alert server. The conversation
// hands over its settings, hooks the four events, calls Connect and then uses
// Send, ReadAll and Close. Everything runs on the GUI thread.
#include "Shared/ConnectionSettings.h"
#include <QByteArray>
#include <QString>
#include <functional>
#include <utility>

class TGenericServerConnection;

using TConnectionEvent = std::function<void(TGenericServerConnection* sender)>;
using TConnectionTextEvent = std::function<void(TGenericServerConnection* sender, const QString& text)>;

class TGenericServerConnection {
public:
    explicit TGenericServerConnection(TConnectionSettings settings) : m_settings(std::move(settings)) {}
    TGenericServerConnection(const TGenericServerConnection&) = delete;
    TGenericServerConnection& operator=(const TGenericServerConnection&) = delete;
    virtual ~TGenericServerConnection() = default;

    // How the pipe reaches the server (proxies, TLS, the tunnel's time-out).
    const TConnectionSettings& Settings() const { return m_settings; }

    // Events; each is raised only when set.
    TConnectionEvent OnSessionClosed;
    TConnectionEvent OnSessionConnected;
    TConnectionEvent OnDataAvailable;
    TConnectionTextEvent OnDebugText;

    // Why Connect failed, or why a session ended when the pipe knows better
    // than the conversation (a refused certificate, say).
    QString ErrorText;

    // The protocol that encrypts the open pipe after the server was
    // verified ("TLS 1.3"); empty when the pipe is not encrypted.
    virtual QString EncryptionProtocol() const { return {}; }

    // True: the attempt is under way (OnSessionConnected or OnSessionClosed follow).
    // False: it failed at once; ErrorText is set and OnSessionClosed was raised.
    virtual bool Connect() = 0;
    virtual void Send(const QByteArray& data) = 0;
    virtual void Close() = 0;
    virtual QByteArray ReadAll() = 0;
    // Takes in what the network holds for the pipe right now, without
    // waiting, and says whether ReadAll has anything (OnDataAvailable may
    // or may not be raised for it). A pipe that can only hear of data on a
    // later turn of the event loop says no.
    virtual bool ReadAhead() { return false; }

protected:
    void RaiseSessionClosed()
    {
        if (OnSessionClosed)
            OnSessionClosed(this);
    }
    void RaiseSessionConnected()
    {
        if (OnSessionConnected)
            OnSessionConnected(this);
    }
    void RaiseDataAvailable()
    {
        if (OnDataAvailable)
            OnDataAvailable(this);
    }
    void RaiseDebugText(const QString& text)
    {
        if (OnDebugText)
            OnDebugText(this, text);
    }

private:
    TConnectionSettings m_settings;
};
