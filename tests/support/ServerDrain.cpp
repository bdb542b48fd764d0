#include "ServerDrain.h"
#include "Shared/TalkWithServer.h"
#include "TestEnvironment.h"
#include "WireTestKit.h"
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

using namespace std::chrono_literals;
using TestEnvironment::WaitFor;

QByteArray ServerDrain::Payload(int index)
{
    QByteArray payload = QByteArray::number(index) + ':';
    QRandomGenerator noise(quint32(index) + 1);
    while (payload.size() < PayloadBytes)
        payload.append(char(noise.bounded(256)));
    return payload;
}

bool ServerDrain::Run(TTalkWithServer& talk, QTcpServer& server)
{
    Subscribe(talk);
    talk.Connect();
    if (!WaitFor([&] { return server.hasPendingConnections(); }, 20s) || !Serve(*server.nextPendingConnection()))
        return false;
    if (!WaitFor([&] { return Errors > 0; }, 60s))
        return false;
    // Anything that would follow the error has its turn.
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    return true;
}

void ServerDrain::Subscribe(TTalkWithServer& talk)
{
    m_id = talk.SendMessage(BuildMessage({"command", "listen_for_alerts"}), true,
                            [this](bool success, const QByteArray& text, const TMessageToServer&) {
                                if (!success)
                                    ++Errors;
                                else if (Errors > 0)
                                    ++AfterError;
                                else if (text == Payload(Delivered))
                                    ++Delivered;
                                else
                                    ++Misordered;
                            })
               .Id;
}

bool ServerDrain::Serve(QTcpSocket& peer)
{
    // What the client sent is read first: a socket closed with unread input
    // is reset, and a reset may discard what the client has not read yet.
    WireTestKit::ClientStreamDecoder sent;
    QVector<TMessageToServer> messages;
    if (!WaitFor([&] {
            sent.Feed(peer.readAll());
            messages += sent.TakeMessages();
            return !messages.isEmpty();
        }))
        return false;
    WireTestKit::ServerStreamEncoder server;
    constexpr int FramesPerBurst = 16;
    for (int first = 0; first < Frames; first += FramesPerBurst) {
        QByteArray frames;
        for (int i = first; i < std::min(Frames, first + FramesPerBurst); ++i)
            frames += WireTestKit::Frame(m_id, Payload(i));
        const QByteArray burst = server.Burst(frames);
        WireBytes += burst.size();
        peer.write(burst);
    }
    peer.disconnectFromHost(); // once everything written has left
    return true;
}

bool ServerDrain::EveryFrameThenOneError() const
{
    return WireBytes >= 4 << 20 && Delivered == Frames && Misordered == 0 && Errors == 1 && AfterError == 0;
}

QString ServerDrain::Summary() const
{
    return QStringLiteral("%1 bytes written; %2 of %3 frames in order, %4 out of order, %5 errors, %6 frames after one")
        .arg(WireBytes)
        .arg(Delivered)
        .arg(Frames)
        .arg(Misordered)
        .arg(Errors)
        .arg(AfterError);
}
