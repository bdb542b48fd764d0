#pragma once
// The one session manager of the process: credentials, server address,
// categories, alert receivers; creates conversations, logs in, subscribes,
// pings, resets a silent conversation, reconnects after every loss and obeys
// the server's STOP. Widget-free.
//
// PUBLIC INTERFACE (other units code against this; the implementation may add
// private members but keeps these names and signatures).
#include "base/Subscription.h"
#include "Shared/ConnectionSettings.h"
#include "Shared/TalkWithServer.h"
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

// Receives the payload of every frame answering "listen_for_alerts", unchanged.
using TAlertCallback = std::function<void(const QByteArray& data)>;

// Whether the conversation is encrypted, for the window to show.
struct TEncryption {
    bool Required = false; // the settings allow no conversation in clear
    QString Protocol;      // "TLS 1.3" while a verified encrypted conversation is open; else empty
};

// What a main connection works with besides its settings; the defaults are
// the real ones, tests replace them.
struct TMainConnectionDependencies {
    // The connection every new conversation will use; empty: as the settings say.
    TTalkWithServer::TConnectionFactory ConnectionFactory;
    // The local clock that schedules pings and stamps the status.
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTime(); };
    // False: no 500 ms timer, the test drives Tick itself.
    bool Timer = true;
};

class TMainConnection {
public:
    // The settings are read from the source for each new conversation.
    explicit TMainConnection(TConnectionSettingsSource settings, TMainConnectionDependencies dependencies = {});
    ~TMainConnection();
    TMainConnection(const TMainConnection&) = delete;
    TMainConnection& operator=(const TMainConnection&) = delete;

    void AddCategory(const QByteArray& category);
    // Receives every payload while the subscription lives.
    TSubscription RegisterAlertCallback(TAlertCallback callback);
    // Receives the payloads whose first line (up to the first CR LF, or the
    // whole text) is the category exactly, and only those. Every payload
    // reaches its receivers in the order they registered, whichever kind.
    TSubscription RegisterAlertCallback(const QByteArray& category, TAlertCallback callback);
    void SetUserName(const QByteArray& userName);
    void SetPassword(const QByteArray& password);
    void ResetConnection();
    // Reads the server address again, for a configuration file made after
    // start-up; the next conversation uses it.
    void ReloadServerAddress();

    // The settings as the source gives them now.
    TConnectionSettingsRead ReadSettings() const;

    const QString& Status() const;
    TSubscription WatchStatus(std::function<void()> observer);
    const TEncryption& Encryption() const;
    TSubscription WatchEncryption(std::function<void()> observer);

    // Alerts come from a recording instead of a server: from now on no
    // conversation is made (an open one is closed), Login and Reset change
    // nothing, and the status shows what SetOfflineStatus says.
    void GoOffline();
    bool Offline() const;
    void SetOfflineStatus(const QString& text);

    // The response handler of the alert subscription; the fake data form calls
    // it directly with success true, an alert text and an empty message.
    void DeliverAlerts(bool success, const QByteArray& response, const TMessageToServer& message);
    TRequestHandle SendRequest(const TMessageToServer& message, TResponseCallback callback);

    // Read-only views for the window and for tests.
    const QString& ServerAddress() const;
    bool Stopped() const;
    const QByteArray& SessionId() const;
    TTalkWithServer* Conversation() const;

    // For tests: the counter rate (0 means no high-resolution counter, so no
    // pings), and the timer's work.
    void SetCounterRate(qint64 rate);
    qint64 CounterRate() const;
    void Tick();
    int MissedTicks() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
