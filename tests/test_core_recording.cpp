// Recording the alert stream and playing it back, without windows: the line
// format, appending, the day files, write errors, what a crash leaves behind,
// unreadable files, and the replay's pace.
#include "ReferenceServer.h"
#include "LocalMainConnection.h"
#include "TestEnvironment.h"
#include "Shared/AlertRecorder.h"
#include "Shared/AlertRecording.h"
#include "Shared/AlertReplay.h"
#include "base/DebugLog.h"
#include "Zembra/AlertParsing.h"
#include "Zembra/MainConnectionUnit.h"
#include "Zembra/RecordAndReplay.h"
#include "platform/core/IniFile.h"
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

using TestEnvironment::WaitFor;
using namespace std::chrono_literals;

namespace {

// What zcat would print: an oracle that does not use the reader under test.
QByteArray Unzipped(const QString& path)
{
    QByteArray text;
    gzFile file = gzopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return "<cannot open>";
    char chunk[4096];
    int got = 0;
    while ((got = gzread(file, chunk, sizeof chunk)) > 0)
        text.append(chunk, got);
    gzclose(file);
    return text;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

void WriteGzip(const QString& path, const QByteArray& text)
{
    gzFile file = gzopen(QFile::encodeName(path).constData(), "wb");
    ASSERT_NE(file, nullptr);
    gzwrite(file, text.constData(), unsigned(text.size()));
    gzclose(file);
}

QByteArrayList Payloads(TAlertRecordingReader& reader)
{
    QByteArrayList payloads;
    while (const auto alert = reader.Next())
        payloads << alert->Payload();
    return payloads;
}

QByteArrayList Payloads(const QString& path)
{
    TAlertRecordingReader reader;
    return reader.Open(path) ? Payloads(reader) : QByteArrayList();
}

QList<QPair<QByteArray, QByteArray>> DecodedFields(const QByteArray& fieldLine)
{
    QList<QPair<QByteArray, QByteArray>> fields;
    ForEachAlertField(fieldLine, [&](QByteArrayView name, QByteArrayView value) { fields.append({name.toByteArray(), value.toByteArray()}); });
    return fields;
}

qint64 UtcMs(int year, int month, int day, int hour, int minute, int second, int ms)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms), Qt::UTC).toMSecsSinceEpoch();
}

// Writes beyond Bytes fail with EFBIG while it lives, as on a full disk.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_signal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_signal);
    }

private:
    rlimit m_saved{};
    void (*m_signal)(int) = nullptr;
};

class RecordingTest : public ::testing::Test {
protected:

    TAlertRecorder::TClock Clock()
    {
        return [this] { return Now; };
    }
    QString Path(const QString& name) const { return QDir(Folder.path()).filePath(name); }
    int Logged(const QString& text) const { return int(DebugLines.filter(text).size()); }

    QTemporaryDir Folder;
    qint64 Now = UtcMs(2026, 1, 1, 0, 0, 0, 123);
    QStringList DebugLines;
    const TDebugSinkScope m_sink{[this](const QString& line) { DebugLines << line; }};
};

} // namespace

// ---------------------------------------------------------------------------
// The format

TEST_F(RecordingTest, LinesHoldTheReceiveTimeTheCategoryAndTheFieldLineAsReceived)
{
    const QString path = Path("session.tsv.gz");
    {
        auto recorder = TAlertRecorder::IntoFile(path, Clock());
        recorder->Record("strike\r\nsymbol=A%26B&last=1.5");
        Now += 7;
        recorder->Record("quent");                          // a text without a field line
        recorder->Record("ferrik\r\nsymbol=X\r\nignored");  // the windows read the first field line only
        recorder->Record("odd\r\nname=a\tb&note=c\nd");     // raw tab and line feed from a careless server
        recorder->Record("bad\tcategory\r\nx=1");           // no line can carry this category
        EXPECT_EQ(recorder->Lost(), 1);
    }
    EXPECT_EQ(Unzipped(path), "1767225600123\tstrike\tsymbol=A%26B&last=1.5\n"
                              "1767225600130\tquent\t\n"
                              "1767225600130\tferrik\tsymbol=X\n"
                              "1767225600130\todd\tname=a%09b&note=c%0Ad\n");
    EXPECT_EQ(Logged("category holds a tab or a line break"), 1);
    // The encoded bytes are the very fields the windows saw.
    EXPECT_EQ(DecodedFields("name=a%09b&note=c%0Ad"), DecodedFields("name=a\tb&note=c\nd"));

    // A second run appends to the file: a second gzip member, read on from the first.
    {
        auto recorder = TAlertRecorder::IntoFile(path, Clock());
        recorder->Record("strike\r\nsymbol=C");
    }
    TAlertRecordingReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.Error().toStdString();
    EXPECT_EQ(Payloads(reader), QByteArrayList({"strike\r\nsymbol=A%26B&last=1.5", "quent\r\n", "ferrik\r\nsymbol=X",
                                                "odd\r\nname=a%09b&note=c%0Ad", "strike\r\nsymbol=C"}));
    EXPECT_TRUE(reader.EndedCleanly());
    EXPECT_EQ(reader.MalformedLines(), 0);
}

TEST_F(RecordingTest, EachUtcDayHasItsFileAndARestartThatDayAppendsToIt)
{
    // Far from UTC, so that a file named by the local date would be wrong.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Pacific/Pago_Pago");
    tzset();
    const QString folder = Folder.path();
    const qint64 lastMomentOfMarch1 = UtcMs(2026, 3, 1, 23, 59, 59, 999);
    Now = lastMomentOfMarch1 - 400;
    {
        auto recorder = TAlertRecorder::IntoDayFiles(folder, Clock());
        EXPECT_EQ(recorder->CurrentFile(), folder + "/alerts-2026-03-01.tsv.gz");
        recorder->Record("a\r\nn=1");
        Now = lastMomentOfMarch1;
        recorder->Record("a\r\nn=2");
        Now = lastMomentOfMarch1 + 1;
        recorder->Record("a\r\nn=3");
        EXPECT_EQ(recorder->CurrentFile(), folder + "/alerts-2026-03-02.tsv.gz");
    }
    Now += 8 * 3'600'000;
    TAlertRecorder::IntoDayFiles(folder, Clock())->Record("a\r\nn=4");
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    tzset();

    EXPECT_EQ(Unzipped(folder + "/alerts-2026-03-01.tsv.gz"),
              QByteArray::number(lastMomentOfMarch1 - 400) + "\ta\tn=1\n" + QByteArray::number(lastMomentOfMarch1) +
                  "\ta\tn=2\n");
    EXPECT_EQ(Payloads(folder + "/alerts-2026-03-02.tsv.gz"), QByteArrayList({"a\r\nn=3", "a\r\nn=4"}));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2);

    // The configured folder: a relative one is beside the configuration file.
    TestEnvironment::WriteIni("[general]\nRecord Folder = recordings \n");
    EXPECT_EQ(ConfiguredRecordFolder(ConfigFileName), QDir(TestEnvironment::WorkDir()).filePath("recordings"));
    TestEnvironment::RemoveIni();
    EXPECT_EQ(ConfiguredRecordFolder(ConfigFileName), QString());
}

// ---------------------------------------------------------------------------
// Write errors

TEST_F(RecordingTest, AWriteErrorIsToldOnceAndAlertsStillReachTheOtherReceivers)
{
    const std::unique_ptr<TMainConnection> local = MakeLocalMainConnection();
    TMainConnection& connection = *local;
    TRecordAndReplay session(connection);
    QStringList problems;
    session.OnRecordingProblem = [&](const QString& text) { problems << text; };
    QString error;
    // A full disk, as the process's file size limit stands for it.
    auto full = std::make_unique<TFileSizeLimit>(0);
    ASSERT_TRUE(session.Start({Path("full.tsv.gz"), Path("gone"), QString(), 1}, error));
    // The missing folder is known at once; the full disk at the first write.
    EXPECT_TRUE(session.RecordingProblem().contains("No such file or directory")) << session.RecordingProblem().toStdString();
    int delivered = 0;
    const TSubscription receiver = connection.RegisterAlertCallback([&](const QByteArray&) { ++delivered; });
    for (int i = 0; i < 3; ++i) {
        connection.DeliverAlerts(true, "strike\r\nsymbol=X", TMessageToServer());
        for (const auto& recorder : session.Recorders())
            recorder->Flush();
    }
    full.reset();
    EXPECT_EQ(delivered, 3);
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].contains(std::strerror(EFBIG))) << problems[0].toStdString();
    EXPECT_EQ(Logged("Recording stopped"), 2) << DebugLines.join('\n').toStdString();
    for (const auto& recorder : session.Recorders())
        EXPECT_EQ(recorder->Lost(), 3);

    // A file that is not a recording is not appended to, nor touched.
    const QString notes = Path("notes.txt");
    WriteFile(notes, "my notes\n");
    auto intoNotes = TAlertRecorder::IntoFile(notes, Clock());
    intoNotes->Record("strike\r\nsymbol=X");
    intoNotes.reset();
    EXPECT_EQ(Unzipped(notes), "my notes\n");
    EXPECT_EQ(Logged("is not a gzip file, so it is not an alert recording. It is left as it is"), 1);

    // A failed day file stops that day only: the next UTC day records again.
    const QString days = Path("days");
    ASSERT_TRUE(QDir().mkpath(days));
    WriteFile(days + "/alerts-2026-01-01.tsv.gz", "my notes\n");
    auto daily = TAlertRecorder::IntoDayFiles(days, Clock());
    daily->Record("strike\r\nsymbol=X");
    EXPECT_FALSE(daily->Problem().isEmpty());
    Now = UtcMs(2026, 1, 2, 0, 0, 0, 0);
    daily->Record("strike\r\nsymbol=Y");
    EXPECT_EQ(daily->Problem(), "");
    daily.reset();
    EXPECT_EQ(Payloads(days + "/alerts-2026-01-02.tsv.gz"), QByteArrayList({"strike\r\nsymbol=Y"}));
}

// ---------------------------------------------------------------------------
// What a crash leaves behind

TEST_F(RecordingTest, EveryCutOfARecordingReadsBackAPrefixOfItsLines)
{
    const QString path = Path("whole.tsv.gz");
    {
        auto recorder = TAlertRecorder::IntoFile(path, Clock());
        for (int i = 0; i < 60; ++i) {
            Now += 37;
            recorder->Record("strike\r\nsymbol=S" + QByteArray::number(i) + "&last=" + QByteArray::number(i * 1.25));
            if (i % 7 == 6)
                recorder->Flush();
        }
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    const QByteArrayList all = Payloads(path);
    ASSERT_EQ(all.size(), 60);

    const QString cutPath = Path("cut.tsv.gz");
    for (qsizetype cut = 2; cut < whole.size(); ++cut) {
        WriteFile(cutPath, whole.left(cut));
        TAlertRecordingReader reader;
        ASSERT_TRUE(reader.Open(cutPath)) << cut;
        const QByteArrayList lines = Payloads(reader);
        ASSERT_LE(lines.size(), all.size()) << cut;
        ASSERT_EQ(lines, all.mid(0, lines.size())) << "cut at byte " << cut;
        ASSERT_FALSE(reader.EndedCleanly()) << cut;
        ASSERT_FALSE(reader.EndNote().isEmpty()) << cut;
        if (cut == whole.size() - 1) {
            EXPECT_EQ(lines.size(), all.size()) << "only the gzip trailer is missing";
        }
    }
}

#if defined(TAVISK_SERVER_BIN) && defined(TAVISK_RECORDING_CLIENT_BIN)
TEST_F(RecordingTest, AClientKilledMidStreamLeavesItsCompleteLinesAndTheNextRunGoesOn)
{
    ReferenceServerKit::ReferenceServer server(QStringLiteral(TAVISK_SERVER_BIN));
    ASSERT_TRUE(server.Start({"--rate", "100", "--seed", "5"}));
    const QString path = Path("crash.tsv.gz");
    QProcess client;
    client.start(QStringLiteral(TAVISK_RECORDING_CLIENT_BIN), {QString::fromUtf8(server.Address()), path, "strike", "quent"});
    ASSERT_TRUE(client.waitForStarted(10000));
    // Killed while alerts stream in, once several flushes have reached the disk.
    ASSERT_TRUE(WaitFor([&] { return Payloads(path).size() >= 40; }, 30s)) << client.readAllStandardError().toStdString();
    client.kill();
    ASSERT_TRUE(client.waitForFinished(10000));

    TAlertRecordingReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.Error().toStdString();
    const QByteArrayList recorded = Payloads(reader);
    EXPECT_FALSE(reader.EndedCleanly());
    EXPECT_TRUE(reader.EndNote().contains("middle of its compressed data")) << reader.EndNote().toStdString();
    EXPECT_EQ(reader.MalformedLines(), 0);
    // Exactly the first alerts the server sent, in order, none garbled.
    QByteArrayList sent;
    ASSERT_TRUE(WaitFor([&] { return server.Sent(1, 8).size() >= recorded.size(); }));
    for (const ReferenceServerKit::SentFrame& frame : server.Sent(1, 8))
        sent << frame.Payload;
    ASSERT_GE(recorded.size(), 40);
    EXPECT_EQ(recorded, sent.mid(0, recorded.size()));

    // The next run keeps every complete line and records on after them.
    TAlertRecorder::IntoFile(path, Clock())->Record("strike\r\nsymbol=AFTER");
    EXPECT_EQ(Logged("was cut short"), 1);
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(Payloads(reader), recorded + QByteArrayList{"strike\r\nsymbol=AFTER"});
    EXPECT_TRUE(reader.EndedCleanly());
}
#endif

TEST_F(RecordingTest, UnreadableFilesAndMalformedLinesAreToldClearly)
{
    TAlertRecordingReader reader;
    EXPECT_FALSE(reader.Open(Path("none.tsv.gz")));
    EXPECT_TRUE(reader.Error().contains("cannot be opened")) << reader.Error().toStdString();
    WriteFile(Path("empty.tsv.gz"), "");
    EXPECT_FALSE(reader.Open(Path("empty.tsv.gz")));
    EXPECT_TRUE(reader.Error().endsWith("is empty: it holds no alerts.")) << reader.Error().toStdString();
    EXPECT_FALSE(reader.Next()) << "a reader that could not open its file is at its end";
    WriteFile(Path("plain.tsv"), "1000\tstrike\tsymbol=A\n");
    EXPECT_FALSE(reader.Open(Path("plain.tsv")));
    EXPECT_TRUE(reader.Error().contains("is not a gzip file")) << reader.Error().toStdString();

    WriteGzip(Path("mixed.tsv.gz"), "1000\tstrike\tsymbol=A\n"
                                    "no tabs here\n"
                                    "1001\tstrike-only\n"
                                    "soon\tstrike\tsymbol=B\n"
                                    "1002\tstrike\tsymbol=C\textra\n"
                                    "1003\tstrike\tsymbol=D\r\n"
                                    "1004\tstrike\tsymbol=E");
    ASSERT_TRUE(reader.Open(Path("mixed.tsv.gz")));
    EXPECT_EQ(Payloads(reader), QByteArrayList({"strike\r\nsymbol=A", "strike\r\nsymbol=D"}));
    EXPECT_EQ(reader.MalformedLines(), 4);
    EXPECT_EQ(reader.MalformedNotes(),
              QStringList({"line 2: no tab; expected the time, the category and the field line separated by tabs",
                           "line 3: one tab only; expected the time, the category and the field line separated by tabs",
                           "line 4: the time is not a number of milliseconds",
                           "line 5: more than two tabs; a field line holds no tab"}));
    EXPECT_EQ(reader.EndNote(), "its last line is incomplete and is left out");
}

// ---------------------------------------------------------------------------
// Replay

class ReplayTest : public RecordingTest {
protected:
    std::unique_ptr<TAlertReplay> Replay(const QString& path, double speed)
    {
        auto reader = std::make_unique<TAlertRecordingReader>();
        EXPECT_TRUE(reader->Open(path)) << reader->Error().toStdString();
        auto replay = std::make_unique<TAlertReplay>(std::move(reader), speed);
        replay->SetClock([this] { return Monotonic; });
        replay->OnAlert = [this](const TRecordedAlert& alert) { Got << alert.FieldLine; };
        return replay;
    }
    static QString LocalTime(qint64 ms)
    {
        return QDateTime::fromMSecsSinceEpoch(ms).toString("yyyy-MM-dd HH:mm:ss");
    }
    qint64 Monotonic = 0;
    QByteArrayList Got;
};

TEST_F(ReplayTest, AlertsComeAtTheRecordedPaceTimesTheSpeedAndPausingCostsNoAlert)
{
    const QString path = Path("paced.tsv.gz");
    const qint64 base = Now;
    {
        auto recorder = TAlertRecorder::IntoFile(path, Clock());
        for (const auto& [offset, payload] : std::initializer_list<std::pair<qint64, QByteArray>>{
                 {0, "a\r\nn=1"}, {1000, "a\r\nn=2"}, {1000, "b\r\nn=3"}, {400, "a\r\nn=4"}, {4000, "a\r\nn=5"}}) {
            Now = base + offset;
            recorder->Record(payload);
        }
    }
    auto replay = Replay(path, 2);
    replay->Start();
    replay->DeliverDue();
    EXPECT_EQ(Got, QByteArrayList{"n=1"});
    Monotonic = 499;
    replay->DeliverDue();
    EXPECT_EQ(Got.size(), 1);
    Monotonic = 500;
    replay->DeliverDue();
    // n=4 was stamped before n=3 (the clock was set back): it follows at once.
    EXPECT_EQ(Got, QByteArrayList({"n=1", "n=2", "n=3", "n=4"}));
    EXPECT_EQ(replay->StatusText(), "Replay: " + LocalTime(base + 400));

    Monotonic = 600;
    replay->Pause();
    EXPECT_EQ(replay->StatusText(), "Replay: " + LocalTime(base + 400) + " (paused)");
    Monotonic = 10000;
    replay->DeliverDue();
    EXPECT_EQ(Got.size(), 4);
    // Due 1800 ms after n=4 at half the pace, plus the 9400 ms paused.
    replay->Resume();
    Monotonic = 11699;
    replay->DeliverDue();
    EXPECT_EQ(Got.size(), 4);
    Monotonic = 11700;
    replay->DeliverDue();
    EXPECT_EQ(Got.size(), 5);
    EXPECT_TRUE(replay->Finished());
    EXPECT_EQ(replay->StatusText(), "Replay: " + LocalTime(base + 4000) + " (end of recording)");
}

TEST_F(ReplayTest, SpeedZeroPlaysAtOnceSkippingMalformedLinesAndALoopStartsAgain)
{
    const QString path = Path("fast.tsv.gz");
    WriteGzip(path, "1000\ta\tn=1\nbroken line\n999000\ta\tn=2\n");
    auto once = Replay(path, 0);
    once->Start();
    for (int turn = 0; turn < 100 && !once->Finished(); ++turn)
        once->DeliverDue();
    EXPECT_EQ(Got, QByteArrayList({"n=1", "n=2"}));
    EXPECT_EQ(once->StatusText(), "Replay: " + LocalTime(999000) + " (end of recording; 1 malformed line skipped)");
    EXPECT_TRUE(once->Summary().contains("line 2: no tab")) << once->Summary().toStdString();

    Got.clear();
    auto looping = Replay(path, 0);
    looping->SetLooping(true);
    looping->Start();
    for (int turn = 0; turn < 100 && Got.size() < 5; ++turn)
        looping->DeliverDue();
    EXPECT_EQ(Got.mid(0, 5), QByteArrayList({"n=1", "n=2", "n=1", "n=2", "n=1"}));
    EXPECT_FALSE(looping->Finished());
}

// ---------------------------------------------------------------------------
// The recorder's faults: a second recorder of one file, files that are not
// what their name says, lines over the length limit, and files made to
// inflate far beyond their size.

class RecorderFaultTest : public ReplayTest {
protected:
    static mode_t Mode(const QString& path)
    {
        struct stat status {};
        ::lstat(QFile::encodeName(path).constData(), &status);
        return status.st_mode & 07777;
    }
    // Without its gzip trailer, as a crash leaves it.
    static void WriteCutShort(const QString& path, const QByteArray& text)
    {
        WriteGzip(path, text);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.resize(file.size() - 8);
    }
    // A few kilobytes of gzip that inflate to Bytes line feeds.
    static void WriteBomb(const QString& path, qsizetype bytes) { WriteGzip(path, QByteArray(bytes, '\n')); }
};

TEST_F(RecorderFaultTest, ASecondRecorderOfAFileRecordsNothingIntoItAndSaysItIsInUse)
{
    const QString path = Path("shared.tsv.gz");
    auto first = TAlertRecorder::IntoFile(path, Clock());
    first->Record("a\r\nn=A1");
    first->Record("a\r\nn=A2");
    first->Flush();
    auto second = TAlertRecorder::IntoFile(path, Clock());
    first->Record("a\r\nn=A3");
    second->Record("b\r\nn=B1");
    first->Record("a\r\nn=A4");
    first->Flush();
    EXPECT_EQ(second->Problem(), path + " is in use: another client is recording into it; nothing is recorded into it");
    EXPECT_EQ(Logged("is in use"), 1);
    second.reset();
    first.reset();
    EXPECT_EQ(Payloads(path), QByteArrayList({"a\r\nn=A1", "a\r\nn=A2", "a\r\nn=A3", "a\r\nn=A4"}));
    // The lock goes with its recorder.
    TAlertRecorder::IntoFile(path, Clock())->Record("a\r\nn=A5");
    EXPECT_EQ(Payloads(path).size(), 5);
}

TEST_F(RecorderFaultTest, RecordingsArePrivateRegularFilesNeverWrittenThroughALink)
{
    const QString path = Path("new.tsv.gz");
    TAlertRecorder::IntoFile(path, Clock())->Record("a\r\nn=1");
    EXPECT_EQ(Mode(path), 0600u);

    // A repair keeps the mode the trader gave the file.
    const QString shared = Path("shared.tsv.gz");
    WriteCutShort(shared, "1000\ta\tn=1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0640), 0);
    TAlertRecorder::IntoFile(shared, Clock())->Record("a\r\nn=2");
    EXPECT_EQ(Logged("was cut short"), 1);
    EXPECT_EQ(Mode(shared), 0640u);
    EXPECT_EQ(Payloads(shared), QByteArrayList({"a\r\nn=1", "a\r\nn=2"}));
    EXPECT_FALSE(QFileInfo::exists(shared + ".repairing"));

    // A link is not written through: what it points to stays as it was.
    const QString target = Path("target.txt");
    WriteFile(target, "precious\n");
    ASSERT_TRUE(QFile::link(target, Path("link.tsv.gz")));
    TAlertRecorder::IntoFile(Path("link.tsv.gz"), Clock())->Record("a\r\nn=1");
    EXPECT_EQ(Unzipped(target), "precious\n");
    EXPECT_EQ(Logged("is a symbolic link"), 1);

    // A pipe named as today's file neither hangs the recorder nor a replay.
    const QString pipe = Path(DayFileName(Now));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const auto intoPipe = TAlertRecorder::IntoDayFiles(Folder.path(), Clock());
    EXPECT_EQ(intoPipe->Problem(), pipe + " is not a regular file; nothing is recorded into it");
    TAlertRecordingReader reader;
    EXPECT_FALSE(reader.Open(pipe));
    EXPECT_EQ(reader.Error(), pipe + " is not a regular file.");
}

TEST_F(RecorderFaultTest, WhatTheRecorderWritesTheReaderReadsAndARepairSaysWhatItCouldNotKeep)
{
    const QByteArray stamp = QByteArray::number(Now) + "\tbig\t";
    const QByteArray longest = "big\r\n" + QByteArray(MaxRecordingLineBytes - stamp.size(), 'x');
    const QString path = Path("long.tsv.gz");
    {
        auto recorder = TAlertRecorder::IntoFile(path, Clock());
        recorder->Record(longest);
        recorder->Record(longest + 'x');
        recorder->Record(longest + 'x');
        EXPECT_EQ(recorder->Lost(), 2);
    }
    // Compared by its size: sixteen megabytes in a failure message help nobody.
    const QByteArrayList recorded = Payloads(path);
    ASSERT_EQ(recorded.size(), 1);
    EXPECT_EQ(recorded[0].size(), longest.size());
    EXPECT_EQ(Logged("its line would be longer than 16777216 bytes"), 1);

    // A file cut short with a longer line than that (not of a recorder's making).
    const QString cut = Path("cut.tsv.gz");
    WriteCutShort(cut, "1000\ta\tn=1\n1001\ta\t" + QByteArray(MaxRecordingLineBytes, 'y') + "\n1002\ta\tn=3\n");
    auto recorder = TAlertRecorder::IntoFile(cut, Clock());
    ASSERT_TRUE(WaitFor([&] { return !recorder->Opening(); }, 60s));
    recorder.reset();
    EXPECT_TRUE(Unzipped(cut) == "1000\ta\tn=1\n1002\ta\tn=3\n");
    EXPECT_EQ(Logged("its 2 complete lines are kept and the recording goes on after them; 1 line could not be kept "
                     "(line 2: longer than 16777216 bytes)."),
              1)
        << DebugLines.join('\n').toStdString();
}

TEST_F(RecorderFaultTest, AFileThatInflatesFarBeyondItsSizeIsReadABoundedStepAtATime)
{
    const QString bomb = Path("bomb.tsv.gz");
    WriteBomb(bomb, 64 << 20);
    TAlertRecordingReader reader;
    ASSERT_TRUE(reader.Open(bomb));
    EXPECT_FALSE(reader.Step());
    EXPECT_FALSE(reader.Finished());
    EXPECT_LE(reader.InflatedBytes(), TAlertRecordingReader::StepBytes + 64 * 1024);
    // A replay reads nothing before the event loop turns: the windows show first.
    {
        const auto replay = Replay(bomb, 0);
        replay->Start();
        EXPECT_EQ(replay->Reader().InflatedBytes(), 0);
    }

    // Today's file is checked over the turns of the event loop, and what
    // arrives meanwhile is written once it is.
    const QString day = Path("day.tsv.gz");
    WriteCutShort(day, QByteArray(1 << 19, '\n'));
    auto recorder = TAlertRecorder::IntoFile(day, Clock());
    EXPECT_TRUE(recorder->Opening());
    recorder->Record("a\r\nn=1");
    ASSERT_TRUE(WaitFor([&] { return !recorder->Opening(); }, 60s));
    recorder.reset();
    ASSERT_TRUE(reader.Open(day));
    EXPECT_EQ(Payloads(reader), QByteArrayList{"a\r\nn=1"});
    EXPECT_EQ(reader.MalformedLines(), 1 << 19);
}

#if defined(TAVISK_CLIENT_BIN)
namespace {

bool HoldsOpen(qint64 pid, const QString& path)
{
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& descriptor : descriptors.entryInfoList(QDir::Files | QDir::System))
        if (descriptor.symLinkTarget() == path)
            return true;
    return false;
}

} // namespace

TEST_F(RecorderFaultTest, ATerminationSignalEndsTheClientWithinASecondWhileItReadsABomb)
{
    // 97 kB of gzip holding 100 MB of line feeds.
    const QString bomb = Path("bomb.tsv.gz");
    WriteBomb(bomb, 100'000'000);
    ASSERT_TRUE(QDir(Folder.path()).mkpath("home/work"));
    WriteFile(Path("home/work/Braxo.ini"), "[General]\nwindow count=1\n[Alert Window 0]\nsubscription=bomb\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", Path("home"));
    environment.insert("XDG_CONFIG_HOME", Path("home/config"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    for (const QStringList& arguments : {QStringList{"--replay", bomb, "--speed", "0"}, QStringList{"--record", bomb}}) {
        QProcess client;
        client.setProcessEnvironment(environment);
        client.setWorkingDirectory(Path("home/work"));
        client.start(TAVISK_CLIENT_BIN, arguments);
        ASSERT_TRUE(client.waitForStarted(10000));
        // Open once the client handles the signal itself: the handler comes first.
        ASSERT_TRUE(WaitFor([&] { return HoldsOpen(client.processId(), bomb); }, 60s)) << arguments[0].toStdString();
        QElapsedTimer ending;
        ending.start();
        client.terminate();
        ASSERT_TRUE(client.waitForFinished(120000));
        EXPECT_LT(ending.elapsed(), 1000) << arguments[0].toStdString();
        EXPECT_EQ(client.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(client.exitCode(), 0) << client.readAllStandardError().toStdString();
    }
}
#endif
