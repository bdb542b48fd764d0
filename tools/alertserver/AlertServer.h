#pragma once
// The listening server: accepts TCP connections (and hands tunnel sessions
// the same treatment), streams each category's synthetic alerts to the
// sessions subscribed to it, and carries out the fault switches and the
// run-time control commands.
#include "AlertSession.h"
#include "MarketSimulator.h"
#include "ServerOptions.h"
#include "ServerState.h"
#include "TlsListener.h"
#include <QList>
#include <QMap>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTimer>
#include <memory>
#include <vector>

class TAlertReplay;
struct TRecordedAlert;

namespace AlertServer {

class TunnelEndpoint;

class AlertServerCore : public QObject {
    Q_OBJECT
public:
    explicit AlertServerCore(const ServerOptions& options, QObject* parent = nullptr);
    ~AlertServerCore() override;
    bool Listen(QString& error);
    quint16 Port() const { return Listener.serverPort(); }
    std::optional<quint16> HttpPort() const;
    // The TLS the TCP ports serve; none without --tls-cert.
    const std::optional<QSslConfiguration>& Tls() const { return ServerTls; }

    // A new session, registered for alerts and faults; Parent owns it.
    AlertSession* CreateSession(QObject* parent);
    ServerState& State() { return SharedState; }

    // Runs one control line; returns the reply text, starting "ok" or "error".
    QString ExecuteCommand(const QString& line);
    QString Summary() const;

signals:
    void QuitRequested();

private:
    struct CategoryFeed {
        CategoryFeed(const CategoryConfig& config, quint32 seed) : Config(config), Composer(config.Style, seed) {}
        CategoryConfig Config;
        AlertComposer Composer;
        QTimer Timer;
        qint64 Generated = 0;
        qint64 Sent = 0;
    };

    void AcceptConnections();
    void AttachSocket(QTcpSocket* socket);
    void PublishAlert(CategoryFeed& feed);
    QList<AlertSession*> LiveSessions() const;
    void DropAll(DropStyle how, const QString& why);
    void ScheduleRandomDrop();
    void SetRate(double rate);
    // Serving a recording: opened with the listener, started once the first
    // client has subscribed (so that it misses nothing), each alert sent to
    // the clients subscribed to its category.
    bool OpenReplay(QString& error);
    void StartReplaySoon();
    void PublishRecorded(const TRecordedAlert& alert);
    void EndOnceWritten();

    ServerOptions Options;
    ServerState SharedState;
    std::optional<QSslConfiguration> ServerTls;
    TlsListener Listener;
    std::unique_ptr<TunnelEndpoint> Tunnel;
    std::vector<std::unique_ptr<CategoryFeed>> Feeds;
    QList<QPointer<AlertSession>> Sessions;
    QTimer RandomDropTimer;
    QRandomGenerator DropRandom;
    int SessionCounter = 0;
    std::unique_ptr<TAlertReplay> Replay;
    QMap<QString, qint64> ReplaySent;
    qint64 ReplayUnheard = 0; // recorded alerts no client was subscribed to
};

} // namespace AlertServer
