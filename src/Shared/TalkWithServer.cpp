#include "Shared/TalkWithServer.h"
#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include "Shared/ServerConnectionFactory.h"
#include "Shared/WakeMeSoon.h"
#include "Shared/ZlibStreams.h"
#include <QElapsedTimer>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {
constexpr const char* AssertUnit = "Shared/TalkWithServer";
constexpr int ConnectLine = 555;
constexpr qsizetype EarlySendSize = 5000;
constexpr qsizetype FrameHeaderSize = 8;
// No answer of this server comes near this; a larger length can only be
// corrupt input, and waiting for it would buffer without bound.
constexpr qint32 MaxFrameLength = 64 * 1024 * 1024;
// The work one pass of the event loop does on received data is bounded
// (TReceivePass): whatever is left waits for the next pass, so windows
// repaint and timers run while alerts arrive faster than they are handled;
// the socket is not read meanwhile, and TCP holds the server back.
constexpr int FramesPerClockReading = 16;
// Inflated at a time: what waits stays compressed.
constexpr qsizetype InflateStepBytes = 256 * 1024;
// A payload buffer larger than this is not kept for the next frame.
constexpr qsizetype ReusedPayloadBytes = 64 * 1024;

QByteArray Int32Bytes(qint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 4);
}

QString DescribeForLog(const TMessageToServer& message)
{
    return QString::fromUtf8(DescribeMessage(message));
}
}

EInvalidFrame::EInvalidFrame(qint32 length) : std::runtime_error("invalid frame length " + std::to_string(length)) {}

struct TTalkWithServer::Impl {
    Impl(TTalkWithServer* owner, TConnectionSettings settings, std::shared_ptr<TRequestSerials> serials,
         TDisposeWhenIdle::THandlerCount handlers);
    ~Impl();

    // Counts the conversation's handlers on the stack; while one runs, the
    // owner's destruction only detaches and this object waits for the last
    // one to return (see Detach).
    struct HandlerScope : TDisposeWhenIdle::THandlerScope {
        explicit HandlerScope(const Impl& d) : THandlerScope(d.handlers) {}
    };

    void Detach();

    void Connect();
    void HookConnection();
    TRequestHandle SendMessage(const TMessageToServer& message, bool persistent, TResponseCallback callback);
    qint32 ReserveSlot(const TMessageToServer& message, bool persistent, TResponseCallback callback);
    void CancelResponse(const TRequestHandle& handle);

    void SendRaw(const QByteArray& bytes);
    void SendCompressed(const QByteArray& chunk);
    void SendInteger(qint32 value) { SendCompressed(Int32Bytes(value)); }
    void SendString(const QByteArray& text);
    void FlushOutput();

    void ConnectionConnected(TGenericServerConnection* sender);
    // The pipe ended (true) or the owner went (false); what the server sent
    // before the end is delivered first when the pipe ended.
    void ConnectionClosed(bool pipeEnded);
    void ServerConnectionDataAvailable();
    // Delivers received frames, inflating and reading as it goes, within one
    // pass's budget (or everything, at the end of the pipe).
    void Receive(bool everything);
    bool ReadMore();
    bool InflateMore();
    bool CutFrame();
    void DropConsumed();
    void RejectInput(const std::exception& e);
    void SendGoodResponse(qint32 id, const QByteArray& payload);
    void SendErrorResponse(const TMessageToServer& message, bool persistent, const TResponseCallback& callback);
    void RaiseOwnerEvent(std::function<void()> TTalkWithServer::*event, const QString& location);

    TTalkWithServer* owner; // none once the owner has been destroyed
    const TConnectionSettings settings;
    const std::shared_ptr<TRequestSerials> serials;
    std::unique_ptr<TGenericServerConnection> connection;
    std::unique_ptr<TWakeMeSoon> wakeUp;
    // The rest of a pass's work on received data, on the next pass.
    std::unique_ptr<TWakeMeSoon> receiveSoon;
    // The pipe has reported data that has not been read yet.
    bool dataWaiting = false;
    bool receiving = false; // inside Receive: a data event there only notes the data
    QByteArray pendingOutput;
    TDecompressor decompressor;
    QByteArray received; // inflated bytes; frames are cut from receivedPos on
    qsizetype receivedPos = 0;
    // The payload handed to the callbacks. When none of them kept a copy,
    // the next frame reuses its memory instead of allocating again.
    QByteArray payload;
    int cutting = 0; // frames being delivered (more than one in a nested event loop)
    TCompressor compressor;
    QByteArray keptChunk;
    QByteArray compressedOutput;
    TState state = NotConnected;
    QString errorText;
    bool invalidData = false;
    QVector<TPendingRequest> requests;
    TDisposeWhenIdle::THandlerCount handlers;
};

TTalkWithServer::Impl::Impl(TTalkWithServer* owner, TConnectionSettings settings,
                            std::shared_ptr<TRequestSerials> serials, TDisposeWhenIdle::THandlerCount handlers)
    : owner(owner),
      settings(std::move(settings)),
      serials(serials ? std::move(serials) : std::make_shared<TRequestSerials>()),
      wakeUp(std::make_unique<TWakeMeSoon>()),
      receiveSoon(std::make_unique<TWakeMeSoon>()),
      errorText("Unable to connect to server."),
      handlers(handlers)
{
    wakeUp->OnWakeUp = [this] { FlushOutput(); };
    receiveSoon->OnWakeUp = [this] {
        HandlerScope scope(*this);
        Receive(false);
    };
    SendRaw(QByteArray(Preamble));
}

TTalkWithServer::Impl::~Impl()
{
    if (connection) {
        connection->OnSessionClosed = nullptr;
        connection->OnSessionConnected = nullptr;
        connection->OnDataAvailable = nullptr;
        connection->OnDebugText = nullptr;
    }
    connection.reset();
    wakeUp.reset();
    receiveSoon.reset();
}

// Called by the owner's destructor. While a handler runs, this object
// outlives the owner; the pipe is closed now so that nothing more arrives.
void TTalkWithServer::Impl::Detach()
{
    if (state != Closed)
        ConnectionClosed(false);
    owner = nullptr;
    if (connection && handlers.Running())
        connection->Close();
}

void TTalkWithServer::Impl::Connect()
{
    HandlerScope scope(*this);
    TAV_ASSERT(state == NotConnected && !connection && owner, AssertUnit, ConnectLine);
    connection = owner->ConnectionFactory ? owner->ConnectionFactory(*owner) : CreateServerConnection(settings);
    TAV_ASSERT(connection != nullptr, AssertUnit, ConnectLine);
    HookConnection();
    errorText.clear();
    if (connection->Connect()) {
        // A pipe that already closed during Connect keeps the reason it gave.
        if (state == NotConnected || (state == Closed && errorText.isEmpty()))
            errorText = "Error in server connection.";
    } else {
        errorText = connection->ErrorText;
    }
}

void TTalkWithServer::Impl::HookConnection()
{
    connection->OnSessionClosed = [this](TGenericServerConnection*) { ConnectionClosed(true); };
    connection->OnSessionConnected = [this](TGenericServerConnection* sender) { ConnectionConnected(sender); };
    connection->OnDataAvailable = [this](TGenericServerConnection*) { ServerConnectionDataAvailable(); };
    connection->OnDebugText = [this](TGenericServerConnection*, const QString& text) {
        HandlerScope scope(*this);
        if (!owner || !owner->OnDebugText)
            return;
        auto handler = owner->OnDebugText;
        GuardedCall(QStringLiteral("TTalkWithServer.OnDebugText"), [&] { handler(text); });
    };
}

TRequestHandle TTalkWithServer::Impl::SendMessage(const TMessageToServer& message, bool persistent,
                                                  TResponseCallback callback)
{
    HandlerScope scope(*this);
    if (state == Closed || IsEmptyMessage(message)) {
        if (callback)
            SendErrorResponse(message, persistent, callback);
        return {};
    }
    TRequestHandle handle;
    if (callback) {
        handle.Id = ReserveSlot(message, persistent, std::move(callback));
        handle.Serial = serials->Take();
        requests[handle.Id - 1].Serial = handle.Serial;
        SendString("message_id");
        SendString(QByteArray::number(handle.Id));
    }
    for (const TMessageField& field : message) {
        if (field.Key.isEmpty())
            continue;
        SendString(field.Key);
        SendString(field.Value);
    }
    SendInteger(0);
    return handle;
}

// Takes the free slot with the highest index; the table only grows, doubling
// with a minimum of 8. Returns the message id (slot index + 1).
qint32 TTalkWithServer::Impl::ReserveSlot(const TMessageToServer& message, bool persistent, TResponseCallback callback)
{
    qsizetype slot = requests.size() - 1;
    while (slot >= 0 && !requests[slot].Message.isEmpty())
        --slot;
    if (slot < 0) {
        slot = requests.size();
        requests.resize(std::max<qsizetype>(8, 2 * slot));
    }
    TPendingRequest& request = requests[slot];
    request.Message = message;
    request.Handler = std::make_shared<const TResponseHandler>(TResponseHandler{std::move(callback), message});
    request.Persistent = persistent;
    return static_cast<qint32>(slot + 1);
}

void TTalkWithServer::Impl::CancelResponse(const TRequestHandle& handle)
{
    if (handle.Id < 1 || handle.Id > requests.size())
        return;
    TPendingRequest& request = requests[handle.Id - 1];
    if (request.Serial == handle.Serial)
        request.Handler.reset();
}

void TTalkWithServer::Impl::SendRaw(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    switch (state) {
    case NotConnected:
        pendingOutput += bytes;
        break;
    case Connected:
        connection->Send(bytes);
        break;
    case Closed:
        break;
    }
}

// The most recent chunk is kept back so that the wake-up can deflate it with
// the sync flush that ends the burst.
void TTalkWithServer::Impl::SendCompressed(const QByteArray& chunk)
{
    if (!chunk.isEmpty()) {
        if (!keptChunk.isEmpty())
            compressor.Write(keptChunk, Z_NO_FLUSH, compressedOutput);
        keptChunk = chunk;
    }
    if (compressedOutput.size() >= EarlySendSize) {
        QByteArray out;
        out.swap(compressedOutput);
        SendRaw(out);
    }
    wakeUp->RequestWakeUp();
}

void TTalkWithServer::Impl::SendString(const QByteArray& text)
{
    SendInteger(static_cast<qint32>(text.size()));
    SendCompressed(text);
}

void TTalkWithServer::Impl::FlushOutput()
{
    HandlerScope scope(*this);
    if (!keptChunk.isEmpty()) {
        QByteArray chunk;
        chunk.swap(keptChunk);
        compressor.Write(chunk, Z_SYNC_FLUSH, compressedOutput);
    }
    QByteArray out;
    out.swap(compressedOutput);
    SendRaw(out);
}

void TTalkWithServer::Impl::RaiseOwnerEvent(std::function<void()> TTalkWithServer::*event, const QString& location)
{
    if (!owner || !(owner->*event))
        return;
    auto handler = owner->*event;
    GuardedCall(location, handler);
}

void TTalkWithServer::Impl::ConnectionConnected(TGenericServerConnection* sender)
{
    HandlerScope scope(*this);
    // A late report must not bring a closed conversation back.
    if (state != NotConnected)
        return;
    errorText = "Unexpected disconnect from server.";
    state = Connected;
    QByteArray out;
    out.swap(pendingOutput);
    if (!out.isEmpty())
        sender->Send(out);
    RaiseOwnerEvent(&TTalkWithServer::OnConnected, "TTalkWithServer.OnConnected");
}

// Raised by the connection (possibly more than once) and by destruction; only
// the first call has anything to do.
void TTalkWithServer::Impl::ConnectionClosed(bool pipeEnded)
{
    HandlerScope scope(*this);
    if (state == Closed)
        return;
    // Alerts the server sent before it went still count, as they did when
    // every read was handled at once.
    if (pipeEnded)
        Receive(true);
    if (state == Closed)
        return;
    // A pipe that ended may know why better than we do ("DNS error", a
    // refused certificate, a server that closed without a word).
    if (connection && !connection->ErrorText.isEmpty())
        errorText = connection->ErrorText;
    state = Closed;
    pendingOutput.clear();
    compressedOutput.clear();
    keptChunk.clear();
    RaiseOwnerEvent(&TTalkWithServer::OnDisconnected, "TTalkWithServer.OnDisconnected");
    QVector<TPendingRequest> waiting;
    waiting.swap(requests);
    for (const TPendingRequest& request : std::as_const(waiting))
        if (request.Handler)
            SendErrorResponse(request.Message, request.Persistent, request.Handler->Callback);
}

void TTalkWithServer::Impl::ServerConnectionDataAvailable()
{
    HandlerScope scope(*this);
    dataWaiting = true;
    // While earlier data waits for the next pass, this waits behind it; and
    // a pass already under way reads it itself.
    if (!receiveSoon->Pending() && !receiving)
        Receive(false);
}

void TTalkWithServer::Impl::Receive(bool everything)
{
    const TTalkWithServer::TReceivePass budget = owner ? owner->ReceivePass : TTalkWithServer::TReceivePass{};
    QElapsedTimer pass;
    pass.start();
    int frames = 0;
    const bool nested = std::exchange(receiving, true);
    struct TLeave {
        bool& receiving;
        bool was;
        ~TLeave() { receiving = was; }
    } leave{receiving, nested};
    while (state != Closed) {
        if (CutFrame()) {
            ++frames;
            if (!everything && frames >= budget.MinFrames && frames % FramesPerClockReading == 0 &&
                pass.elapsed() >= budget.Milliseconds) {
                receiveSoon->RequestWakeUp();
                return;
            }
            continue;
        }
        if (InflateMore() || ReadMore())
            continue;
        // While the pass has time left, what the network holds now counts
        // too: a pass per read would repaint every window for every read.
        if (everything || !connection || pass.elapsed() >= budget.Milliseconds || !connection->ReadAhead())
            break;
        dataWaiting = true;
    }
    // What stays is one incomplete frame.
    DropConsumed();
}

// Moves the incomplete frame to the front of the buffer, which keeps its
// room: inflating into fresh memory for every read costs page faults.
void TTalkWithServer::Impl::DropConsumed()
{
    const qsizetype rest = received.size() - receivedPos;
    if (rest > 0 && receivedPos > 0)
        std::memmove(received.data(), received.constData() + receivedPos, size_t(rest));
    received.resize(rest);
    receivedPos = 0;
}

// Reads what the pipe holds, once it said it has data.
bool TTalkWithServer::Impl::ReadMore()
{
    if (!dataWaiting || !connection)
        return false;
    dataWaiting = false;
    try {
        const QByteArray bytes = connection->ReadAll();
        decompressor.Take(bytes);
        return !bytes.isEmpty();
    } catch (const std::exception& e) {
        RejectInput(e);
    } catch (...) {
        RejectInput(std::runtime_error("unknown error"));
    }
    return false;
}

bool TTalkWithServer::Impl::InflateMore()
{
    if (!decompressor.HasWork())
        return false;
    DropConsumed();
    try {
        decompressor.Inflate(received, InflateStepBytes);
        return true;
    } catch (const std::exception& e) {
        RejectInput(e);
    }
    return false;
}

// Corrupt input ends the conversation: nothing more is decoded, frames still
// buffered are dropped, and the close fails every waiting request.
void TTalkWithServer::Impl::RejectInput(const std::exception& e)
{
    decompressor.Stop();
    received.clear();
    receivedPos = 0;
    dataWaiting = false;
    invalidData = true;
    errorText = "Invalid data from server: " + QString::fromLocal8Bit(e.what());
    ReportException(e, "TalkWithServer, TTalkWithServer.ServerConnectionDataAvailable");
    if (connection)
        connection->Close();
}

// Each frame is consumed before its callback runs, so a callback that lets
// another data event in (a nested event loop) never sees a frame twice.
bool TTalkWithServer::Impl::CutFrame()
{
    if (received.size() - receivedPos < FrameHeaderSize)
        return false;
    const char* header = received.constData() + receivedPos;
    const qint32 id = qFromLittleEndian<qint32>(header);
    const qint32 length = qFromLittleEndian<qint32>(header + 4);
    if (length < 0 || length > MaxFrameLength) {
        RejectInput(EInvalidFrame(length));
        return false;
    }
    if (received.size() - receivedPos - FrameHeaderSize < length)
        return false;
    // A frame delivered from inside another's callback gets its own payload.
    QByteArray nested;
    QByteArray& text = cutting == 0 ? payload : nested;
    // Resizing a payload that a callback kept gives this frame fresh memory.
    text.resize(length);
    std::memcpy(text.data(), received.constData() + receivedPos + FrameHeaderSize, size_t(length));
    receivedPos += FrameHeaderSize + length;
    ++cutting;
    struct TDone {
        int& cutting;
        ~TDone() { --cutting; }
    } done{cutting};
    SendGoodResponse(id, text);
    if (text.capacity() > ReusedPayloadBytes)
        text = QByteArray();
    return true;
}

void TTalkWithServer::Impl::SendGoodResponse(qint32 id, const QByteArray& payload)
{
    if (id < 1 || id > requests.size())
        return;
    TPendingRequest& slot = requests[id - 1];
    const std::shared_ptr<const TResponseHandler> handler = slot.Handler;
    if (!slot.Persistent)
        slot = TPendingRequest{};
    if (!handler)
        return;
    const TMessageToServer& message = handler->Message;
    const auto location = [&] { return "TTalkWithServer.SendGoodResponse, " + DescribeForLog(message); };
    GuardedCall(location, [&] {
        if (owner && owner->OnResponse) {
            auto observer = owner->OnResponse;
            observer(true, payload, message);
        }
        handler->Callback(true, payload, message);
    });
}

void TTalkWithServer::Impl::SendErrorResponse(const TMessageToServer& message, bool persistent,
                                              const TResponseCallback& callback)
{
    const auto location = [&] { return "TTalkWithServer.SendErrorResponse, " + DescribeForLog(message); };
    GuardedCall(location, [&] {
        if (!persistent && owner && owner->OnResponse) {
            auto observer = owner->OnResponse;
            observer(false, QByteArray(), message);
        }
        callback(false, QByteArray(), message);
    });
}

TTalkWithServer::TTalkWithServer(TConnectionSettings settings, std::shared_ptr<TRequestSerials> serials)
    : d(std::make_unique<Impl>(this, std::move(settings), std::move(serials),
                               TDisposeWhenIdle::THandlerCount(m_lifetime)))
{
}

// Every waiting callback gets its error response first. When this runs from
// inside one of the conversation's own handlers, the internals outlive this
// object until that handler has returned; nothing reaches the owner any more.
TTalkWithServer::~TTalkWithServer()
{
    d->Detach();
    m_lifetime.Dispose(std::move(d));
}

void TTalkWithServer::Connect() { d->Connect(); }

TRequestHandle TTalkWithServer::SendMessage(const TMessageToServer& message, bool persistent,
                                            TResponseCallback callback)
{
    return d->SendMessage(message, persistent, std::move(callback));
}

void TTalkWithServer::CancelResponse(const TRequestHandle& handle) { d->CancelResponse(handle); }

const TConnectionSettings& TTalkWithServer::Settings() const { return d->settings; }

TTalkWithServer::TState TTalkWithServer::State() const { return d->state; }

const QString& TTalkWithServer::ErrorText() const { return d->errorText; }

bool TTalkWithServer::ReceivedInvalidData() const { return d->invalidData; }

TGenericServerConnection* TTalkWithServer::Connection() const { return d->connection.get(); }

int TTalkWithServer::RequestTableLength() const { return static_cast<int>(d->requests.size()); }
