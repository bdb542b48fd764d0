#pragma once
// Everything a soak run measures about the live client: alerts delivered per
// category on each conversation, each conversation's life, the time from a
// lost connection to the next working session, and the resident memory once
// a second. Written out as one JSON document at the end.
#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <vector>

class TAlertForm;

class TSoakRecorder {
public:
    TSoakRecorder();

    // Conversation bookkeeping, driven by the watched connections.
    int ConversationStarted();
    void ConnectionUp(int conversation);
    void DataHandled(int conversation, bool sessionConnected);
    void ConnectionDown(int conversation);
    // The status became "Connected!" for the newest conversation.
    void SessionConnected();
    // After this, closes are the end of the run, not drops.
    void RunEnding();

    void AlertDelivered(int conversation, const QByteArray& data);
    void SampleMemory();

    QJsonObject Report(const QList<TAlertForm*>& windows, const QString& status, bool stopped) const;

    qint64 NowMs() const { return m_clock.elapsed(); }

private:
    struct TConversation {
        qint64 CreatedMs = -1;
        qint64 ConnectedMs = -1;
        qint64 ReadyMs = -1;
        qint64 ClosedMs = -1;
        QMap<QByteArray, qint64> Alerts;
    };
    struct TDrop {
        int Conversation = 0;
        qint64 ClosedMs = 0;
        qint64 ReadyMs = -1; // the next session's, -1 while none
    };
    void MarkReady(int conversation);

    QElapsedTimer m_clock;
    std::vector<TConversation> m_conversations;
    std::vector<TDrop> m_drops;
    QMap<QByteArray, qint64> m_delivered;
    std::vector<std::pair<double, qint64>> m_memory; // seconds, kB
    bool m_ending = false;
};

// Resident set size of this process in kB, from /proc/self/status; -1 when unknown.
qint64 ResidentKilobytes();
