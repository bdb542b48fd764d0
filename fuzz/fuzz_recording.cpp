// The recording reader and the repair of a recording, on files the target
// builds from the input: gzip members ended or torn (at a flush or at any
// byte), lines torn at the end, long lines, runs
// of line feeds that inflate far beyond their size, lines over many reads,
// and bytes that are no gzip at all. Checked against the text the target compressed: every step
// of the reader and of the repair stays within its bound; the lines read are
// exactly the complete ones (a prefix of them where a cut falls anywhere),
// the longer ones skipped and counted; a repair refuses damage, leaves a
// sound file alone, and otherwise keeps exactly the lines read, says what it
// could not keep, keeps the file's mode, and goes on appending to it.
//
// Each piece (cut at FF FE) is one member: its first byte holds flags, its
// second a size, the rest is text, sync-flushed at every NUL byte.
#include "FuzzSupport.h"
#include "Shared/AlertRecording.h"
#include "Shared/GzipAppender.h"
#include "Shared/RecordingRepair.h"
#include "platform/core/PrivateFiles.h"
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <zlib.h>

namespace {

enum TPieceFlag : uint8_t {
    Torn = 1,        // the member has no end; no member follows it
    CutAnywhere = 2, // torn at any byte, not just after a flush
    Bomb = 4,        // ends with (size & 3) × 2 KiB of line feeds
    LongRun = 8,     // ends with a run of up to 256 KiB without a line feed
    Raw = 16,        // the piece's bytes as they are, no gzip
};

// The most a step may inflate: its budget and one read chunk over.
constexpr qint64 StepBound = TAlertRecordingReader::StepBytes + 64 * 1024;

struct TBuiltFile {
    QByteArray Bytes;
    // The text the members hold up to where a reader can reach, and whether
    // it reaches exactly that (not a cut anywhere, no bytes that are no gzip).
    QByteArray Readable;
    bool Exact = true;
    bool EndsCleanly = true;
    // Bytes that are no gzip follow Readable: anything may come after it.
    bool RawFollows = false;
};

// One gzip member of the segments, sync-flushed after each; cut after
// segment CutAfter (or at byte CutAt) when torn.
QByteArray Member(const QList<QByteArray>& segments, bool torn, qsizetype cutAfter, int cutAtByte,
                  QByteArray& readable, bool& exact)
{
    z_stream stream{};
    deflateInit2(&stream, 1, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    QByteArray out;
    const auto deflateAll = [&](const QByteArray& in, int flush) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
        stream.avail_in = uInt(in.size());
        char chunk[65536];
        do {
            stream.next_out = reinterpret_cast<Bytef*>(chunk);
            stream.avail_out = sizeof chunk;
            deflate(&stream, flush);
            out.append(chunk, qsizetype(sizeof chunk - stream.avail_out));
        } while (stream.avail_out == 0);
    };
    // Cut anywhere, a member gives some prefix of its whole text.
    const bool anywhere = torn && cutAtByte >= 0;
    qsizetype kept = out.size();
    for (qsizetype i = 0; i < segments.size(); ++i) {
        deflateAll(segments[i], Z_SYNC_FLUSH);
        if (!torn || anywhere || i < cutAfter) {
            readable += segments[i];
            kept = out.size();
        }
    }
    if (!torn)
        deflateAll(QByteArray(), Z_FINISH);
    deflateEnd(&stream);
    if (!torn)
        return out;
    if (cutAtByte < 0)
        return out.left(kept);
    exact = false;
    return out.left(out.size() * cutAtByte / 256);
}

TBuiltFile Build(const QList<QByteArray>& pieces)
{
    TBuiltFile file;
    bool longRunMade = false;
    qsizetype bombBytes = 0;
    for (const QByteArray& piece : pieces) {
        const uint8_t flags = piece.size() > 0 ? uint8_t(piece[0]) : 0;
        const uint8_t size = piece.size() > 1 ? uint8_t(piece[1]) : 0;
        const QByteArray text = piece.mid(2);
        if (flags & Raw) {
            // Nothing after it is known: zlib may read it as the start of a member.
            file.Bytes += text;
            file.Exact = false;
            file.EndsCleanly = false;
            file.RawFollows = true;
            break;
        }
        QList<QByteArray> segments = text.split('\0');
        // A step takes at most 512 lines (each costs it 256 bytes at least):
        // a few thousand show the bound, and an input stays quick. The bound
        // on inflated bytes is the long run's to show.
        if ((flags & Bomb) && bombBytes < (8 << 10)) {
            bombBytes += (size & 3) * 2048;
            segments << QByteArray((size & 3) * 2048, '\n');
        }
        // Across many reads and steps; once an input, so that it stays quick.
        // The limit itself (16 MiB, a second an input here) is the unit
        // tests' to cross.
        if ((flags & LongRun) && !longRunMade) {
            longRunMade = true;
            segments << QByteArray((size & 31) * 8192 + size, 'x');
        }
        const bool torn = flags & Torn;
        const int cutAt = (flags & CutAnywhere) ? size : -1;
        const QByteArray member = Member(segments, torn, size % (segments.size() + 1), cutAt, file.Readable, file.Exact);
        file.Bytes += member;
        if (torn) {
            // Cut before its first byte, the member is not there at all.
            file.EndsCleanly = file.EndsCleanly && member.isEmpty();
            break;
        }
    }
    return file;
}

struct TReading {
    QByteArrayList Lines;
    qint64 Overlong = 0;
    bool Damaged = false;
    bool EndedCleanly = false;
};

// What a reader gets, a step at a time, each within its bound.
TReading ReadSteps(const QString& path)
{
    TReading reading;
    TAlertRecordingReader reader;
    if (!reader.Open(path))
        return reading;
    while (!reader.Finished()) {
        const qint64 before = reader.InflatedBytes();
        const std::optional<QByteArray> line = reader.StepLine();
        FUZZ_CHECK(reader.InflatedBytes() - before <= StepBound);
        if (line)
            reading.Lines << *line;
    }
    reading.Overlong = reader.MalformedLines();
    reading.Damaged = reader.Damaged();
    reading.EndedCleanly = reader.EndedCleanly();
    return reading;
}

// The complete lines of Text, those over the limit left out and counted
// (and a last, incomplete one over it counted too).
TReading Expected(const QByteArray& text)
{
    TReading expected;
    QByteArrayList lines = text.split('\n');
    const QByteArray tail = lines.takeLast();
    for (const QByteArray& line : lines) {
        if (line.size() > MaxRecordingLineBytes)
            ++expected.Overlong;
        else
            expected.Lines << line;
    }
    if (tail.size() > MaxRecordingLineBytes)
        ++expected.Overlong;
    return expected;
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void CheckRepair(const QString& path, const TReading& before)
{
    const QByteArray original = FileBytes(path);
    QString why;
    const int fd = OpenPrivateFileForAppending(path, why);
    FUZZ_CHECK(fd >= 0);
    TRecordingRepair repair(path, fd);
    while (true) {
        const qint64 inflated = repair.InflatedBytes();
        if (repair.Step() != TRecordingRepair::TOutcome::Pending)
            break;
        FUZZ_CHECK(repair.InflatedBytes() - inflated <= StepBound);
    }
    if (before.Damaged || (!original.isEmpty() && !original.startsWith("\x1f\x8b"))) {
        FUZZ_CHECK(repair.Outcome() == TRecordingRepair::TOutcome::Refused);
        FUZZ_CHECK(FileBytes(path) == original);
        return;
    }
    FUZZ_CHECK(repair.Outcome() == TRecordingRepair::TOutcome::Ready);
    FUZZ_CHECK(repair.Repaired() == !(before.EndedCleanly || original.isEmpty()));
    FUZZ_CHECK(repair.Report().contains(QLatin1String("could not be kept")) == (repair.Repaired() && before.Overlong > 0));
    if (!repair.Repaired())
        FUZZ_CHECK(FileBytes(path) == original);
    // The recorder goes on appending where the repair left off.
    const std::unique_ptr<TGzipAppender> writer = repair.TakeWriter();
    FUZZ_CHECK(writer && writer->Write("1\tz\tafter\n") && writer->Close());
    const TReading after = ReadSteps(path);
    FUZZ_CHECK(after.EndedCleanly);
    FUZZ_CHECK(after.Overlong == (repair.Repaired() ? 0 : before.Overlong));
    FUZZ_CHECK(after.Lines == before.Lines + QByteArrayList{"1\tz\tafter"});
    struct stat status {};
    FUZZ_CHECK(::stat(QFile::encodeName(path).constData(), &status) == 0 && (status.st_mode & 07777) == 0640);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Memory, not a disk: a repair syncs what it writes.
    static QTemporaryDir folder(QFileInfo::exists(QStringLiteral("/dev/shm")) ? QStringLiteral("/dev/shm/fuzz_recording-XXXXXX")
                                                                        : QString());
    const QString path = folder.filePath(QStringLiteral("recording.tsv.gz"));
    const TBuiltFile built = Build(FuzzSupport::Pieces(data, size));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(built.Bytes);
        FUZZ_CHECK(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    }
    const TReading reading = ReadSteps(path);
    const TReading expected = Expected(built.Readable);
    if (built.Exact) {
        FUZZ_CHECK(reading.Lines == expected.Lines);
        FUZZ_CHECK(reading.Overlong == expected.Overlong);
        FUZZ_CHECK(!reading.Damaged);
        FUZZ_CHECK(reading.EndedCleanly ==
                   (built.EndsCleanly && !built.Bytes.isEmpty() &&
                    (built.Readable.isEmpty() || built.Readable.endsWith('\n'))));
    } else if (!built.RawFollows) {
        FUZZ_CHECK(reading.Lines == expected.Lines.mid(0, reading.Lines.size()));
    } else {
        // Everything before the bytes that are no gzip comes out whole.
        FUZZ_CHECK(reading.Lines.mid(0, expected.Lines.size()) == expected.Lines);
    }
    CheckRepair(path, reading);
    return 0;
}
