#pragma once
// A conversation over the scripted connection, with requests waiting the way
// the main connection leaves them (a persistent alert subscription, one-shot
// requests, a cancelled one of each kind, a fire-and-forget message), and an
// independent model of the receive path: the harness inflates and cuts the
// frames itself from what it was fed and, at the end, checks that exactly the
// frames that belong to a live, uncancelled request reached their callbacks,
// in order and unchanged, that nothing arrived after the close, that corrupt
// input (and only corrupt input) ended the conversation, and that every
// request got the error response it is owed. A broken rule aborts.
#include "ScriptedServerConnection.h"
#include "Shared/TalkWithServer.h"
#include "WireTestKit.h"
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace FuzzSupport {

// Ids the requests of a fresh conversation receive, in the order the harness
// sends them (the highest free slot first, the table starting with 8 slots).
// The seed capture asks the reference server with the same ids.
enum TRequestIds : qint32 {
    LoginId = 1,
    AlertsId = 8,
    PingId = 7,
    CancelledOneShotId = 6,
    CancelledPersistentId = 5,
};

// The largest payload length the conversation accepts; a larger one can
// only be corrupt input.
inline constexpr qint32 LargestFrameLength = 64 * 1024 * 1024;

class ConversationHarness {
public:
    enum class TInput { Compressed, Inflated };
    // One fuzz input: its pieces as reads of the compressed stream, or as
    // inflated bytes that are compressed here, then the final checks.
    static void Run(const uint8_t* data, size_t size, TInput kind);

    ConversationHarness();
    ~ConversationHarness();
    ConversationHarness(const ConversationHarness&) = delete;
    ConversationHarness& operator=(const ConversationHarness&) = delete;

    // One read of the server's compressed stream.
    void DeliverCompressed(const QByteArray& bytes);
    // One read holding exactly these inflated bytes (compressed here as one
    // sync-flushed burst of a single stream).
    void DeliverPlain(const QByteArray& plain);
    // Checks the state, destroys the conversation, checks every response.
    void Finish();

private:
    struct Request {
        TRequestHandle Handle;
        qint32 Id = 0;
        bool Persistent = false;
        bool Cancelled = false;
        bool ResendsOnAnswer = false; // a ping that asks for the next ping
        bool Throws = false;          // its callback raises after recording
        int Good = 0;
        int Errors = 0;
    };
    struct Delivery {
        int Request = -1;
        QByteArray Payload;
        int CreatedRequest = -1; // sent from inside this callback, or -1
    };
    struct Frame {
        qint32 Id = 0;
        QByteArray Payload;
    };

    int Send(const TMessageToServer& message, bool persistent);
    void OnAnswer(int request, bool success, const QByteArray& response);
    void Deliver(const QByteArray& compressed);
    void ModelCutFrames();
    void ModelInflate(const QByteArray& compressed);
    void CheckDeliveries() const;
    void CheckErrorResponses() const;

    std::unique_ptr<TTalkWithServer> m_talk;
    ScriptedServerConnection* m_connection = nullptr;
    std::vector<Request> m_requests;
    int m_setupRequests = 0; // those sent before the connection opened
    std::vector<Delivery> m_deliveries;
    int m_observedGood = 0;
    int m_observedOneShotErrors = 0;
    int m_pingsLeft = 64; // bounds the requests made from inside callbacks

    // The model: its own inflater and buffer, and the frames it cut.
    struct ModelInflater;
    std::unique_ptr<ModelInflater> m_inflater;
    WireTestKit::Deflater m_deflater;
    QByteArray m_modelBuffer;
    bool m_modelRejected = false; // corrupt input seen: the conversation must close
    std::vector<Frame> m_modelFrames;
};

} // namespace FuzzSupport
