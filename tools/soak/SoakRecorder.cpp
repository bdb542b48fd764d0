#include "SoakRecorder.h"
#include "Zembra/AlertWindowUnit.h"
#include "grids/ListGridFamily.h"
#include <QFile>
#include <QJsonArray>

qint64 ResidentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

TSoakRecorder::TSoakRecorder() { m_clock.start(); }

int TSoakRecorder::ConversationStarted()
{
    TConversation conversation;
    conversation.CreatedMs = NowMs();
    m_conversations.push_back(conversation);
    return int(m_conversations.size()) - 1;
}

void TSoakRecorder::ConnectionUp(int conversation) { m_conversations[size_t(conversation)].ConnectedMs = NowMs(); }

void TSoakRecorder::MarkReady(int conversation)
{
    TConversation& record = m_conversations[size_t(conversation)];
    if (record.ReadyMs >= 0)
        return;
    record.ReadyMs = NowMs();
    for (TDrop& drop : m_drops)
        if (drop.ReadyMs < 0 && drop.Conversation < conversation)
            drop.ReadyMs = record.ReadyMs;
}

// The status text only changes when it differs, so a session that follows a
// "Connected!" one shows no change; its first answered burst (login and first
// ping are answered together) marks it instead.
void TSoakRecorder::DataHandled(int conversation, bool sessionConnected)
{
    if (sessionConnected)
        MarkReady(conversation);
}

void TSoakRecorder::SessionConnected()
{
    if (!m_conversations.empty())
        MarkReady(int(m_conversations.size()) - 1);
}

void TSoakRecorder::ConnectionDown(int conversation)
{
    TConversation& record = m_conversations[size_t(conversation)];
    record.ClosedMs = NowMs();
    if (!m_ending && record.ConnectedMs >= 0)
        m_drops.push_back(TDrop{conversation, record.ClosedMs, -1});
}

void TSoakRecorder::RunEnding() { m_ending = true; }

void TSoakRecorder::AlertDelivered(int conversation, const QByteArray& data)
{
    const qsizetype end = data.indexOf("\r\n");
    const QByteArray category = end < 0 ? data : data.left(end);
    ++m_delivered[category];
    if (conversation >= 0)
        ++m_conversations[size_t(conversation)].Alerts[category];
}

void TSoakRecorder::SampleMemory() { m_memory.emplace_back(double(NowMs()) / 1000.0, ResidentKilobytes()); }

namespace {

QJsonObject CountsObject(const QMap<QByteArray, qint64>& counts)
{
    QJsonObject object;
    for (auto it = counts.begin(); it != counts.end(); ++it)
        object.insert(QString::fromUtf8(it.key()), it.value());
    return object;
}

} // namespace

QJsonObject TSoakRecorder::Report(const QList<TAlertForm*>& windows, const QString& status, bool stopped) const
{
    QJsonArray conversations;
    for (const TConversation& record : m_conversations) {
        conversations.append(QJsonObject{{"created_ms", record.CreatedMs},
                                         {"connected_ms", record.ConnectedMs},
                                         {"ready_ms", record.ReadyMs},
                                         {"closed_ms", record.ClosedMs},
                                         {"alerts", CountsObject(record.Alerts)}});
    }
    QJsonArray drops;
    for (const TDrop& drop : m_drops) {
        drops.append(QJsonObject{{"conversation", drop.Conversation},
                                 {"closed_ms", drop.ClosedMs},
                                 {"ready_ms", drop.ReadyMs},
                                 {"delay_ms", drop.ReadyMs < 0 ? -1 : drop.ReadyMs - drop.ClosedMs}});
    }
    QJsonArray memory;
    for (const auto& [seconds, kilobytes] : m_memory)
        memory.append(QJsonArray{seconds, kilobytes});
    QJsonArray windowRows;
    for (const TAlertForm* window : windows) {
        windowRows.append(QJsonObject{{"title", window->windowTitle()},
                                      {"subscription", QString::fromUtf8(window->Subscription())},
                                      {"style", int(window->Style())},
                                      {"rows", window->Grid() ? window->Grid()->EntryCount() : -1}});
    }
    return QJsonObject{{"duration_s", double(NowMs()) / 1000.0},
                       {"status", status},
                       {"stopped", stopped},
                       {"delivered", CountsObject(m_delivered)},
                       {"conversations", conversations},
                       {"drops", drops},
                       {"memory_kb", memory},
                       {"windows", windowRows}};
}
