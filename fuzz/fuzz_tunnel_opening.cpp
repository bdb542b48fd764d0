// Arbitrary bytes as the body of the tunnel's long-running GET, delivered in
// pieces: the greeting line, the POST address line, then the server's stream.
// The GET itself is started (the tunnel must be opening) but the event loop
// never runs during an input, so nothing reaches the network; the pieces go
// in through the receive client's body handler.
//
// Checked against the harness's own reading of the bytes: the tunnel opens
// exactly once, and only once two CR LF have arrived (within its greeting
// limit); the POST address is the second line; everything after it comes out
// of ReadAll, in order and complete; data is announced only while open and
// only with bytes waiting; an overlong greeting closes the tunnel once.
#include "FuzzSupport.h"
#include "Shared/HttpTunnels.h"
#include <QCoreApplication>
#include <QEvent>

namespace {

// The longest opening the tunnel waits for; more without two lines closes it.
constexpr qsizetype GreetingLimit = 64 * 1024;

struct Observed {
    int connected = 0;
    int closed = 0;
    QByteArray stream;
};

struct Expected {
    bool open = false;
    QByteArray postAddress;
    QByteArray stream;
    bool tooLong = false;
};

Expected Read(const QList<QByteArray>& pieces)
{
    Expected e;
    QByteArray all;
    for (const QByteArray& piece : pieces) {
        all += piece;
        if (e.open || e.tooLong)
            continue;
        const qsizetype first = all.indexOf("\r\n");
        const qsizetype second = first < 0 ? -1 : all.indexOf("\r\n", first + 2);
        if (second >= 0) {
            e.open = true;
            e.postAddress = all.mid(first + 2, second - first - 2);
            all.remove(0, second + 2);
        } else if (all.size() > GreetingLimit) {
            e.tooLong = true;
        }
    }
    if (e.open)
        e.stream = all;
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::EnsureApplication();
    const QList<QByteArray> pieces = FuzzSupport::Pieces(data, size);
    const Expected expected = Read(pieces);
    Observed seen;
    {
        THttpTunnel tunnel(QStringLiteral("http://127.0.0.1:9/tunnel"));
        tunnel.OnSessionConnected = [&](TGenericServerConnection*) {
            FUZZ_CHECK(tunnel.State() == THttpTunnel::Open);
            ++seen.connected;
        };
        tunnel.OnDataAvailable = [&](TGenericServerConnection* sender) {
            FUZZ_CHECK(sender == &tunnel && tunnel.State() == THttpTunnel::Open);
            const QByteArray bytes = tunnel.ReadAll();
            FUZZ_CHECK(!bytes.isEmpty());
            seen.stream += bytes;
        };
        tunnel.OnSessionClosed = [&](TGenericServerConnection*) { ++seen.closed; };
        FUZZ_CHECK(tunnel.Connect());
        FUZZ_CHECK(tunnel.State() == THttpTunnel::Opening);
        for (const QByteArray& piece : pieces) {
            if (tunnel.State() == THttpTunnel::Opening)
                FUZZ_CHECK(tunnel.ReadAll().isEmpty());
            tunnel.ReceiveData(piece);
            if (tunnel.State() == THttpTunnel::Open)
                tunnel.Send(piece.left(16)); // queued for a POST that never starts here
        }
        FUZZ_CHECK(seen.connected == (expected.open ? 1 : 0));
        FUZZ_CHECK(seen.closed == (expected.tooLong ? 1 : 0));
        if (expected.open) {
            FUZZ_CHECK(tunnel.State() == THttpTunnel::Open);
            FUZZ_CHECK(tunnel.SendClient().URL == QString::fromUtf8(expected.postAddress));
            FUZZ_CHECK(seen.stream == expected.stream);
            FUZZ_CHECK(tunnel.ReadAll().isEmpty());
        } else {
            FUZZ_CHECK(seen.stream.isEmpty());
            FUZZ_CHECK(tunnel.State() == (expected.tooLong ? THttpTunnel::Closed : THttpTunnel::Opening));
        }
    }
    FUZZ_CHECK(seen.closed == 1);
    // The aborted GET's reply is deleted on the next turn of the loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
