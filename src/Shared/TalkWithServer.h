#pragma once
// One conversation with the alert server over one server connection: the
// plain preamble, a compressed stream each way, the table of requests waiting
// for responses and the deferred, batched sending. Used once: after it has
// closed, its owner destroys it and makes a new one.
//
// PUBLIC INTERFACE (other units code against this; the implementation may add
// private members but keeps these names and signatures).
#include "base/DisposeWhenIdle.h"
#include "Shared/GenericServerConnection.h"
#include "Shared/WireMessages.h"
#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <stdexcept>

class TWakeMeSoon;

// Raised inside the receive path and caught there, like EZlibError; its name
// and message reach the debug log and the conversation's ErrorText.
class EInvalidFrame : public std::runtime_error {
public:
    explicit EInvalidFrame(qint32 length);
};

// Success, the response text (empty for an error response), the message sent.
using TResponseCallback =
    std::function<void(bool success, const QByteArray& response, const TMessageToServer& message)>;

struct TRequestHandle {
    qint32 Id = 0;
    qint64 Serial = 0;
};

// What an answer is handed to: the callback, and the message it answers.
struct TResponseHandler {
    TResponseCallback Callback;
    TMessageToServer Message;
};

struct TPendingRequest {
    TMessageToServer Message; // empty marks a free slot
    qint64 Serial = 0;
    // Shared, so that a delivery holds it cheaply while the slot may be
    // cancelled or freed from inside the callback; none once cancelled.
    std::shared_ptr<const TResponseHandler> Handler;
    bool Persistent = false;
};

// Numbers every request that waits for an answer. One owner's conversations
// share it, so that a handle kept from an earlier conversation never matches
// a request of a later one.
class TRequestSerials {
public:
    qint64 Take() { return m_next++; }

private:
    qint64 m_next = 0;
};

class TTalkWithServer {
public:
    enum TState : quint8 { NotConnected = 0, Connected = 2, Closed = 3 };

    // Serials shared with the other conversations of one owner; none: its own.
    explicit TTalkWithServer(TConnectionSettings settings = {}, std::shared_ptr<TRequestSerials> serials = {});
    ~TTalkWithServer();
    TTalkWithServer(const TTalkWithServer&) = delete;
    TTalkWithServer& operator=(const TTalkWithServer&) = delete;

    std::function<void()> OnConnected;
    std::function<void()> OnDisconnected;
    TResponseCallback OnResponse;
    std::function<void(const QString& text)> OnDebugText;

    // How much one pass of the event loop delivers of what has arrived: at
    // least MinFrames frames, then frames until Milliseconds have gone; the
    // rest follows on the next pass, and the pipe is not read meanwhile.
    struct TReceivePass {
        int MinFrames = 256;
        qint64 Milliseconds = 30;
    };
    TReceivePass ReceivePass;

    // Builds the server connection the conversation will use, with its
    // Settings(). Defaults to a TCP connection or an HTTP tunnel as the
    // settings ask; tests replace it with a scripted double. Called once, from Connect.
    using TConnectionFactory = std::function<std::unique_ptr<TGenericServerConnection>(TTalkWithServer& talk)>;
    TConnectionFactory ConnectionFactory;

    void Connect();
    TRequestHandle SendMessage(const TMessageToServer& message, bool persistent, TResponseCallback callback);
    void CancelResponse(const TRequestHandle& handle);

    const TConnectionSettings& Settings() const;
    TState State() const;
    const QString& ErrorText() const;
    // The server's bytes could not be read (ErrorText tells how).
    bool ReceivedInvalidData() const;
    TGenericServerConnection* Connection() const;
    // Number of slots in the request table (for tests and diagnostics).
    int RequestTableLength() const;

private:
    // Counts the conversation's handlers; the hidden state outlives this
    // object when it is destroyed from inside one of them, until it has returned.
    TDisposeWhenIdle m_lifetime;
    struct Impl;
    std::unique_ptr<Impl> d;
};
