// The whole receive path of the client at full speed: compressed server bytes
// arrive over loopback TCP from a local feed, are inflated, cut into frames,
// parsed, turned into rows and handed to the grids of the eight windows of
// the sample configuration, which are shown (offscreen) and repaint as Qt
// coalesces their updates. The feed writes as fast as the socket takes the
// bytes, so the server's generation rate plays no part in the figure.
//
// The alerts are made once, at setup, by the reference server's own market
// (compiled in below), one category per list style as the server serves them.
//
// Each stream also reports its floor: the CPU time of inflating the same
// compressed bytes and cutting their frames the cheapest way (one zlib call
// per read into a reused buffer, a walk over the frame headers), measured in
// the same run. floor_ratio is the client's CPU per alert over the floor's:
// what parsing, rows, grids and painting cost on top of getting the bytes in.
//
// BM_EndToEndFlood offers alerts of all eight windows at twice the rate the
// client handled the interleaved stream (or at a given rate), for a while,
// with the client's pings and watchdog running and the feed answering the
// pings in turn with the alerts, and reports how often each window
// repainted, how the process's memory moved, how long alerts took from the
// feed's write to the paint that shows them, and that the one conversation
// lasted and lost nothing.
//
// With BENCH_TLS=1 in the environment the feed serves TLS 1.3 and the client
// talks TLS to it (a self-signed certificate made by openssl at setup, pinned
// by its fingerprint): the same figures with encryption on the path.
//
// The ".../recording:1" runs record every alert into a file as the client's
// --record does (the recorder is one more receiver of the main connection
// and writes out on its timer, inside the timing); ".../recording:0" runs
// are the same without it.
#include "GuiTestParts.h"
#include "Shared/AlertRecorder.h"
#include "Zembra/AlertWindowUnit.h"
#include "Zembra/MainConnectionUnit.h"
#include "Zembra/RecordAndReplay.h"
#include "platform/core/IniFile.h"
#include "platform/core/TlsPolicy.h"
#include "grids/ListGridFamily.h"

#include "../tools/alertserver/MarketSimulator.cpp"
#include "../tools/alertserver/WireCodec.cpp"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int RecordedAlertsPerCategory = 4000;
// Each benchmark compresses the whole stream it will send before its timed
// loop, so that compressing costs the measurement nothing; one zlib stream
// cannot be replayed, so it covers every iteration.
constexpr int MixedAlertsPerIteration = 25000;
constexpr int MixedIterations = 6;
// Enough alerts that an iteration lasts about a tenth of a second, so that
// the client's own pacing of repaints, not the end of an iteration, decides
// how often the windows paint. Whole lists are fewer, larger alerts.
constexpr int SingleAlertsPerIteration = 100000;
constexpr int SinglePointsListAlertsPerIteration = 20000;
constexpr int SingleTopListAlertsPerIteration = 3000;
constexpr int SingleIterations = 5;
constexpr int SetupTimeoutMs = 10000;

bool WithTls() { return qEnvironmentVariableIntValue("BENCH_TLS") == 1; }

// Hands on a connection once its TLS handshake is done, when it serves TLS.
class TFeedListener : public QTcpServer {
public:
    std::optional<QSslConfiguration> Tls;

protected:
    void incomingConnection(qintptr handle) override
    {
        if (!Tls) {
            QTcpServer::incomingConnection(handle);
            return;
        }
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(handle);
        socket->setSslConfiguration(*Tls);
        connect(socket, &QSslSocket::encrypted, this, [this, socket] {
            addPendingConnection(socket);
            emit newConnection();
        });
        socket->startServerEncryption();
    }
};

// A self-signed certificate for 127.0.0.1 made by openssl in Folder; the
// server's configuration, and the fingerprint the client pins.
std::optional<QSslConfiguration> MakeServerTls(const QString& folder, QString& fingerprint)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                              "-keyout", "key.pem", "-out", "cert.pem", "-days", "2", "-subj", "/CN=bench",
                              "-addext", "subjectAltName=IP:127.0.0.1"});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return std::nullopt;
    QFile certificate(folder + "/cert.pem");
    QFile key(folder + "/key.pem");
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QSslCertificate leaf(certificate.readAll(), QSsl::Pem);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(leaf);
    configuration.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec, QSsl::Pem));
    fingerprint = TTlsPolicy::FingerprintOf(leaf);
    return configuration;
}

// Plays the server: answers the login and the pings, learns which request
// the alerts answer, and then sends whatever it is given.
class TFeedServer : public QObject {
public:
    void Listen(std::optional<QSslConfiguration> tls)
    {
        m_listener.Tls = std::move(tls);
        m_listener.listen(QHostAddress::LocalHost, 0);
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_listener.nextPendingConnection()) {
                m_socket = socket;
                connect(socket, &QTcpSocket::readyRead, this, [this] { Receive(); });
            }
        });
    }
    quint16 Port() const { return m_listener.serverPort(); }
    qint32 ListenId() const { return m_listenId; }
    void Send(const QByteArray& compressed)
    {
        if (OnSend)
            OnSend(compressed);
        m_socket->write(compressed);
    }
    // Bytes written but not yet taken by the kernel.
    qint64 BytesQueued() const { return m_socket->bytesToWrite(); }
    // Sees every byte of the stream, in order, before it goes.
    std::function<void(const QByteArray&)> OnSend;
    AlertServer::ZlibDeflater& Deflater() { return m_deflater; }
    // Once the stream ahead is recorded, an answer would land out of order in it.
    void StopAnswering() { m_answering = false; }
    // Between batches that end with a full flush, an answer that ends with
    // one too fits anywhere: it refers to nothing before it.
    void AnswerBetweenBatches()
    {
        m_answering = true;
        m_answerFlush = Z_FULL_FLUSH;
    }

private:
    void Receive()
    {
        QByteArray bytes = m_socket->readAll();
        if (!m_preambleDone) {
            m_plain += bytes;
            // The preamble is two plain lines; the compressed stream follows.
            const qsizetype second = m_plain.indexOf("\r\n", m_plain.indexOf("\r\n") + 2);
            if (second < 0)
                return;
            bytes = m_plain.mid(second + 2);
            m_preambleDone = true;
        }
        QByteArray plain;
        m_inflater.Inflate(bytes, plain);
        m_reader.Append(plain);
        QString error;
        QByteArray answers;
        while (const auto message = m_reader.Next(error)) {
            const QByteArray command = message->Value("command");
            if (command == "listen_for_alerts")
                m_listenId = message->MessageId();
            else if (command == "login")
                answers += AlertServer::EncodeFrame(message->MessageId(), "SESSION ID\r\nbench");
            else if (command == "ping")
                answers += AlertServer::EncodeFrame(message->MessageId(), {});
        }
        if (m_answering && !answers.isEmpty())
            Send(m_deflater.Compress(answers, m_answerFlush));
    }

    TFeedListener m_listener;
    QTcpSocket* m_socket = nullptr;
    bool m_preambleDone = false;
    QByteArray m_plain;
    AlertServer::ZlibInflater m_inflater;
    AlertServer::MessageReader m_reader;
    AlertServer::ZlibDeflater m_deflater;
    qint32 m_listenId = 0;
    bool m_answering = true;
    int m_answerFlush = Z_SYNC_FLUSH;
};

// Counts the paint events of one grid's viewport, and tells when one is done.
class TPaintCounter : public QObject {
public:
    qint64 Paints = 0;
    std::function<void()> OnPainted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || m_painting)
            return QObject::eventFilter(watched, event);
        ++Paints;
        if (!OnPainted)
            return false;
        // The grid paints through filters installed before this one: the
        // event goes on to them from here, so that the paint has ended when
        // OnPainted runs.
        m_painting = true;
        QCoreApplication::sendEvent(watched, event);
        m_painting = false;
        OnPainted();
        return true;
    }

private:
    bool m_painting = false;
};

// The delay from the feed's write of each alert to the end of the first
// paint of its window after the window took it: what a trader waits.
class TLatencyProbe {
public:
    explicit TLatencyProbe(size_t windows) : m_waiting(windows) { m_clock.start(); }

    // The feed has written alerts up to this count since the probe began.
    void Written(qint64 alertsSoFar) { m_writes.push_back({alertsSoFar, m_clock.nsecsElapsed()}); }
    // Alerts arrive in the order written, so the n-th delivered is the n-th written.
    void Delivered(size_t window)
    {
        const qint64 index = m_delivered++;
        while (!m_writes.empty() && m_writes.front().End <= index)
            m_writes.pop_front();
        if (!m_writes.empty())
            m_waiting[window].push_back(m_writes.front().At);
    }
    void Painted(size_t window)
    {
        const qint64 now = m_clock.nsecsElapsed();
        for (const qint64 written : m_waiting[window])
            m_milliseconds.push_back(double(now - written) / 1e6);
        m_waiting[window].clear();
    }
    qint64 Unpainted() const
    {
        qint64 count = 0;
        for (const auto& waiting : m_waiting)
            count += qint64(waiting.size());
        return count;
    }
    // The given fraction's latency in milliseconds (1 gives the largest).
    double Percentile(double fraction)
    {
        if (m_milliseconds.empty())
            return 0;
        const auto at = m_milliseconds.begin() +
                        std::min(std::ptrdiff_t(fraction * double(m_milliseconds.size())),
                                 std::ptrdiff_t(m_milliseconds.size()) - 1);
        std::nth_element(m_milliseconds.begin(), at, m_milliseconds.end());
        return *at;
    }
    size_t Count() const { return m_milliseconds.size(); }

private:
    struct TWrite {
        qint64 End; // alerts written up to and including this write
        qint64 At;  // nanoseconds since the probe began
    };
    QElapsedTimer m_clock;
    std::deque<TWrite> m_writes;
    qint64 m_delivered = 0;
    std::vector<std::vector<qint64>> m_waiting; // per window: write times of alerts not yet painted
    std::vector<double> m_milliseconds;
};

struct TWindowUnderTest {
    TAlertForm* Window = nullptr;
    std::unique_ptr<TPaintCounter> Counter;
};

// Alert payloads of one category as the server makes them.
std::vector<QByteArray> RecordAlerts(const QByteArray& category)
{
    AlertServer::AlertComposer composer(*AlertServer::ParseListStyle(QString::fromUtf8(category)), 7u);
    std::vector<QByteArray> payloads;
    for (int n = 0; n < RecordedAlertsPerCategory; ++n)
        payloads.push_back(category + "\r\n" + AlertServer::EncodeFields(composer.NextAlert()));
    return payloads;
}

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The floor: the server's stream inflated with one zlib call per read into a
// reused buffer, and its frames cut by walking their headers.
class TFloor {
public:
    TFloor() { inflateInit(&m_stream); }
    ~TFloor() { inflateEnd(&m_stream); }
    TFloor(const TFloor&) = delete;
    TFloor& operator=(const TFloor&) = delete;

    // Takes bytes of the stream; returns the number of frames completed.
    qint64 Take(const QByteArray& bytes) { return TakeWith(m_stream, m_carry, bytes); }

    // Thread CPU seconds of taking each read, at best of three runs from the
    // state before it; the reads are then taken for real, keeping the
    // stream in step. Counts the frames cut.
    std::vector<double> Measure(const std::vector<QByteArray>& reads, qint64& frames)
    {
        std::vector<double> seconds;
        frames = 0;
        for (const QByteArray& read : reads) {
            double best = 1e9;
            for (int run = 0; run < 3; ++run) {
                z_stream copy{};
                inflateCopy(&copy, &m_stream);
                QByteArray carry = m_carry;
                const double start = ThreadCpuSeconds();
                TakeWith(copy, carry, read);
                best = std::min(best, ThreadCpuSeconds() - start);
                inflateEnd(&copy);
            }
            seconds.push_back(best);
            frames += Take(read);
        }
        return seconds;
    }

private:
    qint64 TakeWith(z_stream& stream, QByteArray& carry, const QByteArray& bytes)
    {
        // The buffer: the incomplete frame carried over, then what inflates.
        qsizetype used = carry.size();
        if (m_buffer.size() < used + RoomPerCall)
            m_buffer.resize(used + RoomPerCall);
        std::copy(carry.cbegin(), carry.cend(), m_buffer.begin());
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
        stream.avail_in = uInt(bytes.size());
        for (;;) {
            stream.next_out = reinterpret_cast<Bytef*>(m_buffer.data() + used);
            stream.avail_out = uInt(m_buffer.size() - used);
            inflate(&stream, Z_SYNC_FLUSH);
            used = m_buffer.size() - stream.avail_out;
            if (stream.avail_out != 0)
                break;
            m_buffer.resize(m_buffer.size() * 2);
        }
        qint64 frames = 0;
        qsizetype at = 0;
        while (used - at >= 8) {
            const qint32 length = qFromLittleEndian<qint32>(m_buffer.constData() + at + 4);
            if (used - at - 8 < length)
                break;
            at += 8 + length;
            ++frames;
        }
        carry = QByteArray(m_buffer.constData() + at, used - at);
        return frames;
    }

    static constexpr qsizetype RoomPerCall = 4 << 20;
    z_stream m_stream{};
    QByteArray m_carry;
    QByteArray m_buffer;
};

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The client, its eight windows and the feed, made once for the process: the
// alert windows and the main connection live until the process ends.
struct TEndToEndRig {
    GuiTestParts Parts;
    QTemporaryDir Folder;
    TFeedServer Feed;
    // In step with the client's inflater: it has seen every byte sent.
    TFloor Floor;
    std::vector<TWindowUnderTest> Windows;
    // Per window, in the windows' order.
    std::vector<std::vector<QByteArray>> Payloads;
    std::vector<size_t> NextPayloadOf;
    qint64 Delivered = 0;
    QString Error;
    // Set while a run measures latency.
    TLatencyProbe* Probe = nullptr;
    // The client's, reading the configuration written below. Pings and the
    // watchdog are the timer's; this measures the data path only.
    std::unique_ptr<TMainConnection> Connection;
    std::vector<TSubscription> Receivers;

    TEndToEndRig()
    {
        QFile sample(QStringLiteral(TAVISK_SOURCE_DIR "/examples/Braxo.ini"));
        QFile config(Folder.filePath(ConfigFileName));
        if (!sample.open(QIODevice::ReadOnly) || !config.open(QIODevice::WriteOnly)) {
            Error = QStringLiteral("cannot copy the sample configuration");
            return;
        }
        QString fingerprint;
        std::optional<QSslConfiguration> tls;
        if (WithTls() && !(tls = MakeServerTls(Folder.path(), fingerprint))) {
            Error = QStringLiteral("openssl could not make the feed's certificate");
            return;
        }
        Feed.OnSend = [this](const QByteArray& bytes) { Floor.Take(bytes); };
        Feed.Listen(tls);
        QByteArray text = sample.readAll();
        QByteArray connection = "address=127.0.0.1:" + QByteArray::number(Feed.Port());
        if (tls)
            connection += "\ntls=1\ntls fingerprint=" + fingerprint.toLatin1();
        text.replace("address=127.0.0.1:9339", connection);
        config.write(text);
        config.close();
        QDir::setCurrent(Folder.path());
        TMainConnectionDependencies untimed;
        untimed.Timer = false;
        Connection = std::make_unique<TMainConnection>(ConnectionSettingsFromFile(QString(ConfigFileName)), untimed);
        OpenWindows();
        Receivers.push_back(Connection->RegisterAlertCallback([this](const QByteArray&) { ++Delivered; }));
        for (size_t i = 0; i < Windows.size(); ++i) {
            Receivers.push_back(Connection->RegisterAlertCallback(Windows[i].Window->Subscription(),
                                                                  [this, i](const QByteArray&) {
                                                                      if (Probe)
                                                                          Probe->Delivered(i);
                                                                  }));
            Windows[i].Counter->OnPainted = [this, i] {
                if (Probe)
                    Probe->Painted(i);
            };
        }
        Connection->SetUserName("bench");
        Connection->SetPassword("bench");
        if (!WaitUntil([this] { return Feed.ListenId() > 0; }, SetupTimeoutMs)) {
            Error = QStringLiteral("the client never asked for alerts");
            return;
        }
        // The login and first ping are answered by now: the client sends nothing more.
        WaitUntil([this] { return Connection->Status() == QLatin1String("Connected!"); }, SetupTimeoutMs);
        if (WithTls() && Connection->Encryption().Protocol.isEmpty())
            Error = QStringLiteral("the conversation is not encrypted");
        Feed.StopAnswering();
        // From here on the floor takes each stream as it is measured.
        Feed.OnSend = nullptr;
    }

    void OpenWindows()
    {
        const TIniFile ini(ConfigFileName);
        const int count = ini.ReadInteger("General", "window count", 0);
        for (int i = 0; i < count; ++i) {
            TWindowUnderTest item;
            item.Window = new TAlertForm(Parts.AlertWindowParts(*Connection));
            item.Window->LoadSettings(ini, "Alert Window " + QByteArray::number(i));
            item.Window->show();
            item.Counter = std::make_unique<TPaintCounter>();
            if (auto* area = qobject_cast<QAbstractScrollArea*>(item.Window->Grid()))
                area->viewport()->installEventFilter(item.Counter.get());
            Connection->AddCategory(item.Window->Subscription());
            Payloads.push_back(RecordAlerts(item.Window->Subscription()));
            NextPayloadOf.push_back(0);
            Windows.push_back(std::move(item));
        }
    }

    // The stream of the next iterations: the given windows' alerts taken in
    // turn, each its own sync-flushed burst as the server sends them.
    std::vector<QByteArray> RecordStream(const std::vector<size_t>& windows, int iterations, int alertsPerIteration)
    {
        if (FloorLost)
            return {};
        std::vector<QByteArray> chunks;
        size_t turn = 0;
        for (int i = 0; i < iterations; ++i) {
            QByteArray bytes;
            for (int n = 0; n < alertsPerIteration; ++n)
                bytes += Feed.Deflater().Compress(AlertServer::EncodeFrame(Feed.ListenId(), NextPayload(windows, turn)));
            chunks.push_back(bytes);
        }
        return chunks;
    }

    // Batches that can be sent again and again: each ends with a full flush,
    // after which the stream refers to nothing before it. The first element
    // is the flush that starts the first batch, to be sent once.
    std::vector<QByteArray> RecordRepeatableBatches(const std::vector<size_t>& windows, int batches, int alertsPerBatch)
    {
        std::vector<QByteArray> out{Feed.Deflater().Compress({}, Z_FULL_FLUSH)};
        size_t turn = 0;
        for (int b = 0; b < batches; ++b) {
            QByteArray bytes;
            for (int n = 0; n < alertsPerBatch; ++n)
                bytes += Feed.Deflater().Compress(AlertServer::EncodeFrame(Feed.ListenId(), NextPayload(windows, turn)),
                                                  n + 1 == alertsPerBatch ? Z_FULL_FLUSH : Z_SYNC_FLUSH);
            out.push_back(bytes);
        }
        // Sent more than once, these bytes are no longer the stream the floor follows.
        FloorLost = true;
        return out;
    }

    const QByteArray& NextPayload(const std::vector<size_t>& windows, size_t& turn)
    {
        const size_t window = windows[turn++ % windows.size()];
        const QByteArray& payload = Payloads[window][NextPayloadOf[window]];
        NextPayloadOf[window] = (NextPayloadOf[window] + 1) % Payloads[window].size();
        return payload;
    }

    bool FloorLost = false;
};

TEndToEndRig& Rig()
{
    static TEndToEndRig* const rig = new TEndToEndRig();
    return *rig;
}

// Recording into a fresh file while it lives, wired as the client wires it.
std::unique_ptr<TRecordAndReplay> StartRecording(TEndToEndRig& rig)
{
    static int runs = 0;
    auto session = std::make_unique<TRecordAndReplay>(*rig.Connection);
    QString error;
    const QString file = rig.Folder.filePath(QStringLiteral("bench-%1.tsv.gz").arg(++runs));
    session->Start({file, QString(), QString(), 1}, error);
    return session;
}

// Sends the recorded stream one chunk per iteration and waits until every
// alert of it has been handled; reports alerts and paints per second.
void RunStream(benchmark::State& state, const std::vector<size_t>& windows, int iterations, int alertsPerIteration,
               bool recording)
{
    TEndToEndRig& rig = Rig();
    if (!rig.Error.isEmpty()) {
        state.SkipWithError(rig.Error.toUtf8().constData());
        return;
    }
    if (rig.FloorLost) {
        state.SkipWithError("runs before the flood only: the flood's repeated bytes leave the floor behind");
        return;
    }
    const std::unique_ptr<TRecordAndReplay> recorder = recording ? StartRecording(rig) : nullptr;
    const std::vector<QByteArray> chunks = rig.RecordStream(windows, iterations, alertsPerIteration);
    qint64 floorFrames = 0;
    const std::vector<double> floorSeconds = rig.Floor.Measure(chunks, floorFrames);
    if (floorFrames != qint64(iterations) * alertsPerIteration) {
        state.SkipWithError("the floor cut another number of frames than was sent");
        return;
    }
    std::vector<qint64> paintsBefore;
    for (const TWindowUnderTest& item : rig.Windows)
        paintsBefore.push_back(item.Counter->Paints);
    qint64 alerts = 0;
    size_t next = 0;
    // Per iteration: the client's CPU seconds, and their ratio to the floor of the same bytes.
    std::vector<double> cpuSeconds;
    std::vector<double> ratios;
    for (auto _ : state) {
        const double cpuBefore = ThreadCpuSeconds();
        const qint64 target = rig.Delivered + alertsPerIteration;
        rig.Feed.Send(chunks[next]);
        if (!WaitUntil([&] { return rig.Delivered >= target; }, 120000)) {
            state.SkipWithError("alerts stopped arriving");
            return;
        }
        // The repaints the burst asked for happen inside the timing.
        QCoreApplication::processEvents();
        cpuSeconds.push_back(ThreadCpuSeconds() - cpuBefore);
        ratios.push_back(cpuSeconds.back() / floorSeconds[next]);
        ++next;
        alerts += alertsPerIteration;
    }
    // What the recorder still holds is part of the cost.
    if (recorder)
        for (const auto& file : recorder->Recorders())
            file->Flush();
    if (recorder && !recorder->RecordingProblem().isEmpty())
        state.SkipWithError(recorder->RecordingProblem().toUtf8().constData());
    state.counters["alerts/s"] = benchmark::Counter(double(alerts), benchmark::Counter::kIsRate);
    // On a shared machine the wall clock includes other processes' turns;
    // the thread's own CPU time per alert does not, and the median iteration
    // is the one least disturbed either way.
    state.counters["cpu us/alert"] = Median(cpuSeconds) * 1e6 / alertsPerIteration;
    state.counters["floor us/alert"] = Median(floorSeconds) * 1e6 / alertsPerIteration;
    state.counters["floor_ratio"] = Median(ratios);
    qint64 paints = 0;
    for (size_t i = 0; i < rig.Windows.size(); ++i) {
        const qint64 windowPaints = rig.Windows[i].Counter->Paints - paintsBefore[i];
        paints += windowPaints;
        if (windows.size() > 1)
            state.counters["paints/s " + rig.Windows[i].Window->Subscription().toStdString()] =
                benchmark::Counter(double(windowPaints), benchmark::Counter::kIsRate);
    }
    state.counters["paints/s per window"] =
        benchmark::Counter(double(paints) / double(rig.Windows.size()), benchmark::Counter::kIsRate);
}

// The eight categories of the sample configuration, interleaved.
void BM_EndToEndEightWindows(benchmark::State& state)
{
    std::vector<size_t> all(Rig().Windows.size());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    RunStream(state, all, MixedIterations, MixedAlertsPerIteration, state.range(0) != 0);
}
BENCHMARK(BM_EndToEndEightWindows)
    ->ArgName("recording")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(MixedIterations);

// One category at a time (the argument is the window's number in the sample
// configuration), still through all eight windows: where the time goes.
void BM_EndToEndOneCategory(benchmark::State& state)
{
    const size_t window = size_t(state.range(0));
    const TAlertForm& form = *Rig().Windows.at(window).Window;
    state.SetLabel(form.Subscription().toStdString());
    const int alerts = form.Style() == asQuentFull    ? SingleTopListAlertsPerIteration
                       : form.Style() == asPointsList ? SinglePointsListAlertsPerIteration
                                                      : SingleAlertsPerIteration;
    RunStream(state, {window}, SingleIterations, alerts, state.range(1) != 0);
}
BENCHMARK(BM_EndToEndOneCategory)
    ->ArgNames({"window", "recording"})
    ->ArgsProduct({benchmark::CreateDenseRange(0, 7, 1), {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(SingleIterations);

// The process's resident memory now, in megabytes.
double ResidentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

constexpr int FloodBatches = 64;
constexpr int FloodAlertsPerBatch = 64;
constexpr int FloodCalibrationBatches = 400;
constexpr int FeedTickMs = 5;
// What the feed lets Qt hold for its socket before it waits for the kernel.
constexpr qint64 FeedQueueBytes = 256 * 1024;
// The main connection's own timer interval: pings and the watchdog.
constexpr int ClientTickMs = 500;
// How long what the feed wrote may take to be handled once it stops.
constexpr int DrainTimeoutMs = 300000;

// The client's 500 ms timer, as the client runs it: pings go out, their
// answers come back behind the alerts, and the watchdog counts. Watches
// that the one conversation lasts and is never given up.
class TClientClock {
public:
    explicit TClientClock(TMainConnection& connection)
        : m_conversation(connection.Conversation()), m_statusWatch(connection.WatchStatus([this, &connection] {
              if (connection.Status() == QLatin1String("Disconnected."))
                  ++Disconnects;
          }))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, &connection] {
            connection.Tick();
            if (connection.Conversation() != m_conversation)
                ConversationReplaced = true;
        });
        m_timer.start(ClientTickMs);
    }
    ~TClientClock() { m_timer.stop(); }
    TClientClock(const TClientClock&) = delete;
    TClientClock& operator=(const TClientClock&) = delete;

    int Disconnects = 0;
    bool ConversationReplaced = false;

private:
    TTalkWithServer* const m_conversation;
    const TSubscription m_statusWatch;
    QTimer m_timer;
};

// Alerts offered at twice the rate the client handles them (first argument
// 0: all eight windows; 1: the six whose lists are bounded, as the Ferrik
// and Dravel lists keep every row by design and grow with every alert
// handled, flood or not), or at the second argument's rate when it is not 0:
// the client must keep painting every window and keep its memory while TCP
// holds the feed back, keep its one conversation and lose nothing. The
// latency counters give the delay from the feed's write of an alert to the
// end of the paint of its window that shows it, over every alert written;
// what TCP held back counts from its write too. BENCH_FLOOD_SECONDS sets how
// long the feed offers alerts (default 10); then what it wrote drains.
void BM_EndToEndFlood(benchmark::State& state)
{
    TEndToEndRig& rig = Rig();
    if (!rig.Error.isEmpty()) {
        state.SkipWithError(rig.Error.toUtf8().constData());
        return;
    }
    std::vector<size_t> windows;
    for (size_t i = 0; i < rig.Windows.size(); ++i) {
        const TAlertStyle style = rig.Windows[i].Window->Style();
        if (state.range(0) == 0 || (style != asFerrik && style != asDravel))
            windows.push_back(i);
    }
    const std::vector<QByteArray> batches = rig.RecordRepeatableBatches(windows, FloodBatches, FloodAlertsPerBatch);
    const int floodSeconds = qEnvironmentVariableIsSet("BENCH_FLOOD_SECONDS")
                                 ? qEnvironmentVariableIntValue("BENCH_FLOOD_SECONDS")
                                 : 10;
    rig.Feed.AnswerBetweenBatches();
    for (auto _ : state) {
        TClientClock clientClock(*rig.Connection);
        // What the client handles when it never waits for alerts.
        rig.Feed.Send(batches[0]);
        QElapsedTimer calibration;
        calibration.start();
        const qint64 calibrationTarget = rig.Delivered + qint64(FloodCalibrationBatches) * FloodAlertsPerBatch;
        // One write: Qt hands the kernel one written piece per turn of the loop.
        QByteArray burst;
        for (int b = 0; b < FloodCalibrationBatches; ++b)
            burst += batches[1 + b % FloodBatches];
        rig.Feed.Send(burst);
        if (!WaitUntil([&] { return rig.Delivered >= calibrationTarget; }, 120000)) {
            state.SkipWithError("alerts stopped arriving");
            return;
        }
        const double capacity = double(FloodCalibrationBatches) * FloodAlertsPerBatch / (calibration.elapsed() / 1000.0);
        const double offered = state.range(1) != 0 ? double(state.range(1)) : 2 * capacity;

        std::vector<qint64> paintsBefore;
        for (const TWindowUnderTest& item : rig.Windows)
            paintsBefore.push_back(item.Counter->Paints);
        const qint64 deliveredBefore = rig.Delivered;
        const double rssStart = ResidentMegabytes();
        double rssPeak = rssStart;
        double rssAtHalf = rssStart;
        qint64 sentAlerts = 0;
        int nextBatch = 0;
        TLatencyProbe probe(rig.Windows.size());
        rig.Probe = &probe;
        QElapsedTimer flood;
        flood.start();
        QTimer feed;
        QObject::connect(&feed, &QTimer::timeout, [&] {
            const double owed = offered * double(flood.elapsed()) / 1000.0;
            // One write per tick: Qt hands the kernel one written piece per turn of the loop.
            QByteArray burst;
            while (double(sentAlerts + FloodAlertsPerBatch) <= owed && rig.Feed.BytesQueued() + burst.size() < FeedQueueBytes) {
                burst += batches[1 + nextBatch++ % FloodBatches];
                sentAlerts += FloodAlertsPerBatch;
            }
            if (!burst.isEmpty()) {
                rig.Feed.Send(burst);
                probe.Written(sentAlerts);
            }
        });
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const double rss = ResidentMegabytes();
            rssPeak = std::max(rssPeak, rss);
            if (flood.elapsed() < floodSeconds * 500)
                rssAtHalf = rss;
        });
        feed.start(FeedTickMs);
        sampler.start(250);
        const double cpuBefore = ThreadCpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(floodSeconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        feed.stop();
        sampler.stop();
        const double seconds = flood.elapsed() / 1000.0;
        const double owedAtEnd = offered * seconds;
        const double handledPerSecond = double(rig.Delivered - deliveredBefore) / seconds;
        const double cpuShare = (ThreadCpuSeconds() - cpuBefore) / seconds;
        const double rssEnd = ResidentMegabytes();

        double fewestPaints = 1e9;
        double paintsPerWindow = 0;
        for (const size_t i : windows) {
            const double rate = double(rig.Windows[i].Counter->Paints - paintsBefore[i]) / seconds;
            fewestPaints = std::min(fewestPaints, rate);
            paintsPerWindow += rate / double(windows.size());
            state.counters["paints/s " + rig.Windows[i].Window->Subscription().toStdString()] = rate;
        }
        // Everything written is handled and painted, on the same conversation.
        QElapsedTimer drain;
        drain.start();
        WaitUntil([&] { return rig.Delivered - deliveredBefore >= sentAlerts; }, DrainTimeoutMs);
        WaitUntil([&] { return probe.Unpainted() == 0; }, 5000);
        rig.Probe = nullptr;
        const qint64 lost = sentAlerts - (rig.Delivered - deliveredBefore);
        state.counters["capacity alerts/s"] = capacity;
        state.counters["offered alerts/s"] = offered;
        state.counters["handled alerts/s"] = handledPerSecond;
        state.counters["held back alerts"] = owedAtEnd - double(sentAlerts);
        state.counters["cpu share"] = cpuShare;
        state.counters["paints/s fewest window"] = fewestPaints;
        state.counters["paints/s per window"] = paintsPerWindow;
        state.counters["rss start MB"] = rssStart;
        state.counters["rss half MB"] = rssAtHalf;
        state.counters["rss peak MB"] = rssPeak;
        state.counters["rss end MB"] = rssEnd;
        state.counters["drain s"] = drain.elapsed() / 1000.0;
        state.counters["latency p50 ms"] = probe.Percentile(0.5);
        state.counters["latency p99 ms"] = probe.Percentile(0.99);
        state.counters["latency max ms"] = probe.Percentile(1);
        state.counters["alerts written"] = double(sentAlerts);
        state.counters["alerts lost"] = double(lost);
        state.counters["alerts unpainted"] = double(probe.Unpainted());
        state.counters["disconnects"] = clientClock.Disconnects;
        if (lost != 0 || clientClock.Disconnects != 0 || clientClock.ConversationReplaced) {
            state.SkipWithError("the session did not last: alerts lost, \"Disconnected.\" or a new conversation");
            return;
        }
    }
}
BENCHMARK(BM_EndToEndFlood)
    ->ArgNames({"bounded", "rate"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 10000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace

// The recorder alone, without the windows: what recording adds to each
// alert of one category (the line into the buffer, compressing and writing
// it out), to set beside the end-to-end figures above.
void BM_RecordingOnly(benchmark::State& state)
{
    TEndToEndRig& rig = Rig();
    const size_t window = size_t(state.range(0));
    state.SetLabel(rig.Windows.at(window).Window->Subscription().toStdString());
    const std::vector<QByteArray>& payloads = rig.Payloads.at(window);
    static int runs = 0;
    auto recorder = TAlertRecorder::IntoFile(rig.Folder.filePath(QStringLiteral("only-%1.tsv.gz").arg(++runs)));
    size_t next = 0;
    qint64 bytes = 0;
    const double cpuBefore = ThreadCpuSeconds();
    for (auto _ : state) {
        const QByteArray& payload = payloads[next++ % payloads.size()];
        recorder->Record(payload);
        bytes += payload.size();
    }
    recorder->Flush();
    state.counters["cpu us/alert"] = (ThreadCpuSeconds() - cpuBefore) * 1e6 / double(state.iterations());
    state.counters["bytes/alert"] = double(bytes) / double(state.iterations());
}
BENCHMARK(BM_RecordingOnly)->ArgName("window")->DenseRange(0, 7)->MinTime(0.5);
