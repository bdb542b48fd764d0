// The receive hot path of a conversation: one burst of N alert frames,
// compressed as the server sends it, is inflated, cut into frames and handed
// to the subscription's callback.
#include "Shared/GenericServerConnection.h"
#include "Shared/TalkWithServer.h"
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <zlib.h>

namespace {

// Hands the conversation one prepared burst and discards what it sends.
class BurstConnection : public TGenericServerConnection {
public:
    BurstConnection() : TGenericServerConnection(TConnectionSettings()) {}
    bool Connect() override { return true; }
    void Send(const QByteArray&) override {}
    void Close() override {}
    QByteArray ReadAll() override
    {
        QByteArray bytes;
        bytes.swap(m_waiting);
        return bytes;
    }
    void Open() { RaiseSessionConnected(); }
    void Arrive(const QByteArray& bytes)
    {
        m_waiting = bytes;
        RaiseDataAvailable();
    }

private:
    QByteArray m_waiting;
};

QByteArray LittleEndian(qint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 4);
}

QByteArray AlertText(int n)
{
    return "TOP_GAINERS\r\nsymbol=SYM" + QByteArray::number(n % 500) + "&price=" + QByteArray::number(10 + n % 90) +
           ".25&volume=" + QByteArray::number(1000 + n * 13) + "&change=%2B" + QByteArray::number(n % 7) +
           ".5&time=09%3A31%3A" + QByteArray::number(n % 60) + "&exchange=NASDAQ&description=Example+Corp";
}

// N frames answering request 1, deflated in one sync-flushed burst.
QByteArray ServerBurst(int alerts)
{
    QByteArray plain;
    for (int n = 0; n < alerts; ++n) {
        const QByteArray text = AlertText(n);
        plain += LittleEndian(1) + LittleEndian(static_cast<qint32>(text.size())) + text;
    }
    QByteArray compressed(static_cast<qsizetype>(compressBound(static_cast<uLong>(plain.size())) + 64), '\0');
    z_stream z{};
    deflateInit(&z, Z_DEFAULT_COMPRESSION);
    z.next_in = reinterpret_cast<Bytef*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(compressed.data());
    z.avail_out = static_cast<uInt>(compressed.size());
    deflate(&z, Z_SYNC_FLUSH);
    compressed.truncate(static_cast<qsizetype>(z.total_out));
    deflateEnd(&z);
    return compressed;
}

void BM_ReceiveAlertBurst(benchmark::State& state)
{
    const int alerts = static_cast<int>(state.range(0));
    const QByteArray burst = ServerBurst(alerts);
    qint64 delivered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto talk = std::make_unique<TTalkWithServer>();
        BurstConnection* connection = nullptr;
        talk->ConnectionFactory = [&](TTalkWithServer&) {
            auto made = std::make_unique<BurstConnection>();
            connection = made.get();
            return made;
        };
        talk->SendMessage(BuildMessage({"command", "listen_for_alerts"}), true,
                          [&](bool success, const QByteArray& text, const TMessageToServer&) {
                              delivered += success ? 1 : 0;
                              benchmark::DoNotOptimize(text.constData());
                          });
        talk->Connect();
        connection->Open();
        state.ResumeTiming();

        connection->Arrive(burst);

        state.PauseTiming();
        talk.reset();
        state.ResumeTiming();
    }
    if (delivered != static_cast<qint64>(alerts) * state.iterations())
        state.SkipWithError("not every alert was delivered");
    state.SetItemsProcessed(static_cast<int64_t>(alerts) * state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(burst.size()) * state.iterations());
}
BENCHMARK(BM_ReceiveAlertBurst)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000);

} // namespace
