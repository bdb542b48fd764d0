#include "ConversationHarness.h"
#include "FuzzSupport.h"
#include <QHash>
#include <QtEndian>
#include <cstdio>
#include <stdexcept>
#include <zlib.h>

namespace FuzzSupport {

// The server's stream as the conversation must read it: inflated with the
// sync flush; its first error, or its end, stops it for good.
struct ConversationHarness::ModelInflater {
    enum class Result { Output, Error };

    ModelInflater() { inflateInit(&z); }
    ~ModelInflater() { inflateEnd(&z); }

    Result Feed(const QByteArray& compressed, QByteArray& out)
    {
        if (ended || compressed.isEmpty())
            return Result::Output;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
        z.avail_in = static_cast<uInt>(compressed.size());
        static char buffer[1 << 16];
        for (;;) {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            const int result = inflate(&z, Z_SYNC_FLUSH);
            out.append(buffer, static_cast<qsizetype>(sizeof buffer - z.avail_out));
            if (result == Z_STREAM_END) {
                ended = true;
                return Result::Output;
            }
            if (result == Z_BUF_ERROR)
                return Result::Output;
            if (result != Z_OK) { // Z_NEED_DICT included: this stream has no dictionary
                ended = true;
                return Result::Error;
            }
            if (z.avail_in == 0 && z.avail_out != 0)
                return Result::Output;
        }
    }

    z_stream z{};
    bool ended = false;
};

void ConversationHarness::Run(const uint8_t* data, size_t size, TInput kind)
{
    EnsureApplication();
    ConversationHarness harness;
    for (const QByteArray& read : Pieces(data, size)) {
        if (kind == TInput::Compressed)
            harness.DeliverCompressed(read);
        else
            harness.DeliverPlain(read);
    }
    harness.Finish();
}

ConversationHarness::ConversationHarness()
    : m_talk(std::make_unique<TTalkWithServer>()), m_inflater(std::make_unique<ModelInflater>())
{
    m_talk->ConnectionFactory = ScriptedServerConnection::FactoryInto(&m_connection);
    m_talk->OnResponse = [this](bool success, const QByteArray&, const TMessageToServer&) {
        if (success)
            ++m_observedGood;
        else
            ++m_observedOneShotErrors;
    };
    const int login =
        Send(BuildMessage({"command", "login", "username", "fuzz", "password", "fuzz", "session_id", ""}), false);
    m_requests[login].Throws = true;
    Send(BuildMessage({"command", "listen_for_alerts"}), true);
    const int ping = Send(BuildMessage({"command", "ping", "response", '1'}), false);
    m_requests[ping].ResendsOnAnswer = true;
    const int cancelledOneShot = Send(BuildMessage({"command", "ping", "response", '1'}), false);
    const int cancelledPersistent = Send(BuildMessage({"command", "listen_for_alerts"}), true);
    for (int cancelled : {cancelledOneShot, cancelledPersistent}) {
        m_talk->CancelResponse(m_requests[cancelled].Handle);
        m_requests[cancelled].Cancelled = true;
    }
    m_talk->SendMessage(BuildMessage({"command", "add_alert_category", "category", "strike"}), false, nullptr);
    FUZZ_CHECK(m_requests[0].Id == LoginId && m_requests[1].Id == AlertsId && m_requests[2].Id == PingId &&
          m_requests[3].Id == CancelledOneShotId && m_requests[4].Id == CancelledPersistentId);
    m_setupRequests = static_cast<int>(m_requests.size());

    m_talk->Connect();
    FUZZ_CHECK(m_connection != nullptr);
    m_connection->ReportConnected();
    FUZZ_CHECK(m_talk->State() == TTalkWithServer::Connected);
}

ConversationHarness::~ConversationHarness() = default;

int ConversationHarness::Send(const TMessageToServer& message, bool persistent)
{
    const int index = static_cast<int>(m_requests.size());
    m_requests.push_back(Request{});
    const TRequestHandle handle = m_talk->SendMessage(
        message, persistent,
        [this, index](bool success, const QByteArray& response, const TMessageToServer&) {
            OnAnswer(index, success, response);
        });
    FUZZ_CHECK(handle.Id > 0);
    m_requests[index].Handle = handle;
    m_requests[index].Id = handle.Id;
    m_requests[index].Persistent = persistent;
    return index;
}

void ConversationHarness::OnAnswer(int index, bool success, const QByteArray& response)
{
    {
        Request& request = m_requests[static_cast<size_t>(index)];
        FUZZ_CHECK(!request.Cancelled);
        FUZZ_CHECK(request.Errors == 0); // nothing after an error response
        FUZZ_CHECK(request.Persistent || request.Good == 0);
        if (!success) {
            FUZZ_CHECK(response.isEmpty());
            ++request.Errors;
            return;
        }
        // No delivery once the conversation has closed.
        FUZZ_CHECK(m_talk && m_talk->State() == TTalkWithServer::Connected);
        ++request.Good;
        m_deliveries.push_back(Delivery{index, response, -1});
    }
    if (m_requests[static_cast<size_t>(index)].ResendsOnAnswer && m_pingsLeft > 0) {
        --m_pingsLeft;
        const int created = Send(BuildMessage({"command", "ping", "response", '1'}), false);
        m_requests[static_cast<size_t>(created)].ResendsOnAnswer = true;
        m_deliveries.back().CreatedRequest = created;
    }
    if (m_requests[static_cast<size_t>(index)].Throws)
        throw std::runtime_error("callback failure");
}

void ConversationHarness::DeliverCompressed(const QByteArray& bytes)
{
    ModelInflate(bytes);
    Deliver(bytes);
}

void ConversationHarness::DeliverPlain(const QByteArray& plain)
{
    if (!m_modelRejected) {
        m_modelBuffer += plain;
        ModelCutFrames();
    }
    Deliver(m_deflater.Burst(plain));
}

void ConversationHarness::Deliver(const QByteArray& compressed)
{
    m_connection->Deliver(compressed);
}

void ConversationHarness::ModelInflate(const QByteArray& compressed)
{
    if (m_modelRejected)
        return;
    QByteArray plain;
    if (m_inflater->Feed(compressed, plain) == ModelInflater::Result::Error) {
        // Everything inflated from this read, and what waited before it, is dropped.
        m_modelRejected = true;
        m_modelBuffer.clear();
        return;
    }
    m_modelBuffer += plain;
    ModelCutFrames();
}

void ConversationHarness::ModelCutFrames()
{
    qsizetype at = 0;
    while (m_modelBuffer.size() - at >= 8) {
        const qint32 id = qFromLittleEndian<qint32>(m_modelBuffer.constData() + at);
        const qint32 length = qFromLittleEndian<qint32>(m_modelBuffer.constData() + at + 4);
        if (length < 0 || length > LargestFrameLength) {
            m_modelRejected = true;
            m_modelBuffer.clear();
            return;
        }
        if (m_modelBuffer.size() - at - 8 < length)
            break;
        m_modelFrames.push_back(Frame{id, m_modelBuffer.mid(at + 8, length)});
        at += 8 + length;
    }
    m_modelBuffer.remove(0, at);
}

void ConversationHarness::Finish()
{
    if (m_modelRejected) {
        FUZZ_CHECK(m_talk->State() == TTalkWithServer::Closed);
        FUZZ_CHECK(m_talk->ErrorText().startsWith("Invalid data from server: "));
    } else {
        FUZZ_CHECK(m_talk->State() == TTalkWithServer::Connected);
        FUZZ_CHECK(m_talk->ErrorText() == "Unexpected disconnect from server.");
    }
    m_talk.reset();
    CheckDeliveries();
    CheckErrorResponses();
    // FUZZ_VERBOSE=1 shows what was checked, e.g. when replaying one input.
    static const bool verbose = qEnvironmentVariableIntValue("FUZZ_VERBOSE") != 0;
    if (verbose)
        std::fprintf(stderr, "frames cut %zu, delivered %zu, requests %zu, corrupt input %s\n", m_modelFrames.size(),
                     m_deliveries.size(), m_requests.size(), m_modelRejected ? "yes" : "no");
}

// Replays the model's frames against the table of live requests; requests a
// callback made join the table right after that callback's delivery.
void ConversationHarness::CheckDeliveries() const
{
    struct Slot {
        int Request;
        bool Persistent;
        bool Cancelled;
    };
    QHash<qint32, Slot> live;
    for (int i = 0; i < m_setupRequests; ++i) {
        const Request& request = m_requests[static_cast<size_t>(i)];
        live.insert(request.Id, Slot{i, request.Persistent, request.Cancelled});
    }
    size_t next = 0;
    for (const Frame& frame : m_modelFrames) {
        const auto found = live.find(frame.Id);
        if (found == live.end())
            continue;
        const Slot slot = *found;
        if (!slot.Persistent)
            live.erase(found);
        if (slot.Cancelled)
            continue;
        FUZZ_CHECK(next < m_deliveries.size());
        const Delivery& delivery = m_deliveries[next++];
        FUZZ_CHECK(delivery.Request == slot.Request);
        FUZZ_CHECK(delivery.Payload == frame.Payload);
        if (delivery.CreatedRequest >= 0) {
            const Request& created = m_requests[static_cast<size_t>(delivery.CreatedRequest)];
            // A new request never takes an id that is still waiting.
            FUZZ_CHECK(!live.contains(created.Id));
            live.insert(created.Id, Slot{delivery.CreatedRequest, false, false});
        }
    }
    FUZZ_CHECK(next == m_deliveries.size());
}

void ConversationHarness::CheckErrorResponses() const
{
    int good = 0;
    int oneShotErrors = 0;
    for (const Request& request : m_requests) {
        if (request.Cancelled) {
            FUZZ_CHECK(request.Good == 0 && request.Errors == 0);
        } else if (request.Persistent) {
            FUZZ_CHECK(request.Errors == 1);
        } else {
            FUZZ_CHECK(request.Good + request.Errors == 1);
            oneShotErrors += request.Errors;
        }
        good += request.Good;
    }
    FUZZ_CHECK(m_observedGood == good);
    FUZZ_CHECK(m_observedOneShotErrors == oneShotErrors);
}

} // namespace FuzzSupport
