#pragma once
// A server that writes megabytes of frames and closes, against one
// conversation over a real socket (plain or TLS): every frame must arrive,
// in order, and then exactly one error. The test makes the conversation and
// the listening server; this subscribes, connects, serves and counts.
//
//   ServerDrain drain;
//   ASSERT_TRUE(drain.Run(talk, listeningServer)) << drain.Summary();
//   EXPECT_TRUE(drain.EveryFrameThenOneError()) << drain.Summary();
#include <QByteArray>
#include <QString>

class QTcpServer;
class QTcpSocket;
class TTalkWithServer;

class ServerDrain {
public:
    // Noise that deflate cannot shrink: the stream on the wire is as long
    // as the frames, 4.5 MB.
    static constexpr int Frames = 1100;
    static constexpr int PayloadBytes = 4096;

    // Subscribes, connects the conversation to the server, writes every frame
    // from the server's end and closes it, and waits for the error that
    // ends the request. False when a step did not happen.
    bool Run(TTalkWithServer& talk, QTcpServer& server);
    bool EveryFrameThenOneError() const;
    QString Summary() const;

    qint64 WireBytes = 0; // compressed, as written to the socket
    int Delivered = 0;    // frames that arrived, each the one expected next
    int Misordered = 0;   // frames that were not the one expected next
    int Errors = 0;
    int AfterError = 0;   // frames that arrived after an error

private:
    static QByteArray Payload(int index);
    void Subscribe(TTalkWithServer& talk);
    bool Serve(QTcpSocket& peer);

    qint32 m_id = 0;
};
