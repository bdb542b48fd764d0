#pragma once
// The byte pipe between a conversation and the alert server. The conversation
// fills the proxy settings, hooks the four events, calls Connect and then uses
// Send, ReadAll and Close. Everything runs on the GUI thread.
#include "platform/core/TlsPolicy.h"
#include <QByteArray>
#include <QString>
#include <functional>

class TGenericServerConnection;

using TConnectionEvent = std::function<void(TGenericServerConnection* sender)>;
using TConnectionTextEvent = std::function<void(TGenericServerConnection* sender, const QString& text)>;

class TGenericServerConnection {
public:
    TGenericServerConnection() = default;
    TGenericServerConnection(const TGenericServerConnection&) = delete;
    TGenericServerConnection& operator=(const TGenericServerConnection&) = delete;
    virtual ~TGenericServerConnection() = default;

    // Settings, written by the owner before Connect.
    QString SocksServer;
    QString SocksPort;     // decimal digits
    QString SocksUsercode; // empty: no authentication
    QString SocksPassword;
    QString SocksLevel;    // "4" or "5"; empty: no SOCKS
    QString ProxyUsername;
    QString ProxyPassword;
    QString Proxy;         // HTTP proxy host; empty: none
    qint32 ProxyPort = 0;
    qint32 SendTimeout = 0; // milliseconds a POST may stay unanswered (tunnel only)
    TTlsSettings Tls;

    // Hands every setting above to a connection this one wraps.
    void CopySettingsTo(TGenericServerConnection& target) const
    {
        target.SocksServer = SocksServer;
        target.SocksPort = SocksPort;
        target.SocksUsercode = SocksUsercode;
        target.SocksPassword = SocksPassword;
        target.SocksLevel = SocksLevel;
        target.ProxyUsername = ProxyUsername;
        target.ProxyPassword = ProxyPassword;
        target.Proxy = Proxy;
        target.ProxyPort = ProxyPort;
        target.SendTimeout = SendTimeout;
        target.Tls = Tls;
    }

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
};
