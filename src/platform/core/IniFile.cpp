#include "platform/core/IniFile.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Shown(const QString& path) { return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()); }

// Closes the descriptor however the reading ends.
class TReadOnlyFile {
public:
    explicit TReadOnlyFile(const QString& path)
        // Not blocking: opening a FIFO would otherwise wait for a writer.
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC))
    {
    }
    ~TReadOnlyFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TReadOnlyFile(const TReadOnlyFile&) = delete;
    TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;
    int Descriptor() const { return m_fd; }

private:
    int m_fd;
};

const QString TooLarge = QStringLiteral("is larger than 1 MiB, far more than any configuration holds");

QString OwnerName(const QString& path, uid_t uid)
{
    const QString name = QFileInfo(path).owner();
    return name.isEmpty() ? QString::number(uid) : name;
}

// Why the opened file is not taken, judged on what was opened (so a link
// swapped meanwhile changes nothing); the end of a sentence, or empty.
QString Refusal(const QString& path, const struct stat& info)
{
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("is a folder, not a file");
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("is not a regular file");
    if (info.st_uid != 0 && info.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user (%1); only a file of yours or of root is used")
            .arg(OwnerName(path, info.st_uid));
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("can be changed by other users; make it writable by you alone (chmod go-w %1)")
            .arg(Shown(path));
    if (info.st_size > MaxIniFileBytes)
        return TooLarge;
    return QString();
}

// Reads at most MaxIniFileBytes; false when there is more (the file grew).
bool ReadAtMostTheLimit(int fd, QByteArray& text)
{
    text.resize(MaxIniFileBytes + 1);
    qsizetype filled = 0;
    while (filled < text.size()) {
        const ssize_t got = ::read(fd, text.data() + filled, size_t(text.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += got;
    }
    text.resize(filled);
    return filled <= MaxIniFileBytes;
}

// Windows editors save INI files as UTF-16 (or UTF-32) with a byte-order
// mark; such a file gives the same 8-bit text as one saved plainly. Text
// without a mark is taken as it is, and a UTF-8 mark is dropped.
QByteArray EightBitText(const QByteArray& text)
{
    const std::optional<QStringConverter::Encoding> encoding = QStringConverter::encodingForData(text);
    if (!encoding)
        return text;
    if (*encoding == QStringConverter::Utf8)
        return text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
    QStringDecoder decoder(*encoding);
    return QString(decoder(text)).toLocal8Bit();
}

}

QString ReadIniFileText(const QString& fileName, QByteArray& text)
{
    text.clear();
    const QString file = QStringLiteral("The configuration file %1 ").arg(Shown(fileName));
    const TReadOnlyFile opened(fileName);
    if (opened.Descriptor() < 0) {
        const int error = errno;
        return error == ENOENT ? file + QStringLiteral("does not exist.")
                               : file + QStringLiteral("cannot be read: %1.").arg(QString::fromLocal8Bit(std::strerror(error)));
    }
    struct stat info {};
    if (::fstat(opened.Descriptor(), &info) != 0)
        return file + QStringLiteral("cannot be read: %1.").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (const QString refusal = Refusal(fileName, info); !refusal.isEmpty())
        return file + refusal + u'.';
    if (!ReadAtMostTheLimit(opened.Descriptor(), text)) {
        text.clear();
        return file + TooLarge + u'.';
    }
    return QString();
}

TIniFile::TIniFile(const QString& fileName) : m_fileName(fileName)
{
    QByteArray text;
    if (ReadIniFileText(fileName, text).isEmpty())
        Parse(text);
}

TIniFile TIniFile::FromText(const QByteArray& text)
{
    TIniFile ini;
    ini.Parse(text);
    return ini;
}

TIniLine ParseIniLine(const QByteArray& text)
{
    const QByteArray line = text.trimmed(); // also drops the CR of CR LF endings
    if (line.isEmpty() || line.startsWith(';'))
        return {};
    if (line.startsWith('[')) {
        const qsizetype close = line.indexOf(']');
        return {TIniLine::TKind::Section, line.mid(1, close < 0 ? -1 : close - 1).trimmed().toLower(), {}};
    }
    const qsizetype eq = line.indexOf('=');
    const QByteArray key = eq <= 0 ? QByteArray() : line.left(eq).trimmed().toLower();
    if (key.isEmpty())
        return {};
    QByteArray value = line.mid(eq + 1).trimmed();
    // Windows strips one pair of matching quotes around a value.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return {TIniLine::TKind::Key, key, value};
}

void TIniFile::Parse(const QByteArray& text)
{
    QHash<QByteArray, QByteArray>* current = nullptr;
    for (const QByteArray& line : EightBitText(text).split('\n')) {
        const TIniLine parsed = ParseIniLine(line);
        if (parsed.Kind == TIniLine::TKind::Section)
            current = &m_sections[parsed.Name];
        else if (parsed.Kind == TIniLine::TKind::Key && current && !current->contains(parsed.Name))
            current->insert(parsed.Name, parsed.Value);
    }
}

QByteArray TIniFile::ReadString(const QByteArray& section, const QByteArray& key,
                                const QByteArray& defaultValue) const
{
    const auto s = m_sections.constFind(section.trimmed().toLower());
    if (s == m_sections.cend())
        return defaultValue;
    const auto v = s->constFind(key.trimmed().toLower());
    return v == s->cend() ? defaultValue : *v;
}

int TIniFile::ReadInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const
{
    bool ok = false;
    const int value = ReadString(section, key).toInt(&ok, 10);
    return ok ? value : defaultValue;
}

bool TIniFile::SectionExists(const QByteArray& section) const
{
    return m_sections.contains(section.trimmed().toLower());
}
