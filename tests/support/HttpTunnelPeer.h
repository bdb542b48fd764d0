#pragma once
// The server end of an HTTP tunnel, scripted by the test, on 127.0.0.1 with
// a port the system picks. A GET is answered with status 200, the opening
// lines (in one write or in pieces) and then whatever the test pushes; POSTs
// are recorded and answered with the statuses the test queued (0 holds the
// answer back until the test releases it). As an HTTP proxy it also insists
// on absolute request targets and on a given Proxy-Authorization.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVector>

struct PeerRequest {
    QByteArray Method;
    QByteArray Target; // as written in the request line
    QHash<QByteArray, QByteArray> Headers; // names in lower case
    QByteArray Body;
    QByteArray Header(const QByteArray& name) const { return Headers.value(name.toLower()); }
};

class HttpTunnelPeer : public QObject {
public:
    HttpTunnelPeer();
    quint16 Port() const { return m_server.serverPort(); }
    // "http://127.0.0.1:<port>" followed by the path.
    QString Url(const QString& path = QStringLiteral("/tunnel")) const;

    // The opening of every GET's body: the greeting line, then the POST
    // address line. With OpeningPieces set, those are written instead, one
    // piece per turn of the event loop, a little apart.
    QByteArray Greeting = "TUNNEL TEST 1\r\n";
    QByteArray PostAddress; // default: Url("/post/t1")
    QList<QByteArray> OpeningPieces;

    // Non-empty: act as an HTTP proxy that wants this Proxy-Authorization value.
    QByteArray RequiredProxyAuthorization;

    // Statuses for the next POSTs, in order; 200 once they run out. 0 holds
    // the answer back until AnswerHeld.
    QList<int> PostStatuses;

    void Push(const QByteArray& bytes);
    void EndStream();
    bool StreamOpen() const { return !m_stream.isNull() && m_stream->state() == QAbstractSocket::ConnectedState; }
    void AnswerHeld(int status);
    int HeldCount() const { return static_cast<int>(m_held.size()); }

    QVector<PeerRequest> Gets;
    QVector<PeerRequest> Posts;
    int ProxyChallenges = 0;

    // The sequence number and the still-encoded data of a tunnel POST body.
    static qint64 SequenceOf(const PeerRequest& post);
    static QByteArray EncodedDataOf(const PeerRequest& post);

private:
    void Accept();
    void ReadRequests(QTcpSocket* socket);
    void Handle(QTcpSocket* socket, const PeerRequest& request);
    void OpenStream(QTcpSocket* socket);
    void WritePieces(QList<QByteArray> pieces);
    static void Respond(QTcpSocket* socket, int status, const QByteArray& extraHeaders = {});

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QPointer<QTcpSocket> m_stream;
    QList<QPointer<QTcpSocket>> m_held;
};
