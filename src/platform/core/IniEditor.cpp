#include "platform/core/IniEditor.h"
#include "platform/core/PrivateFiles.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

const QByteArray Utf8Mark("\xEF\xBB\xBF");

QStringList SplitKeepingLineBreaks(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype end = text.indexOf(u'\n', start);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        lines.append(text.mid(start, next - start));
        start = next;
    }
    return lines;
}

// The reader trims values and removes one pair of quotes: a value that would
// lose something that way is written inside a pair of quotes of its own.
QByteArray StoredForm(const QByteArray& value)
{
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    return quoted || value.trimmed() != value ? '"' + value + '"' : value;
}

QString WhyNameIsRefused(const QByteArray& section, const QByteArray& key, const QByteArray& value)
{
    const auto breaksLine = [](const QByteArray& text) { return text.contains('\n') || text.contains('\r'); };
    const QString name = QString::fromLocal8Bit(key.trimmed());
    if (section.trimmed().isEmpty() || breaksLine(section) || section.contains(']'))
        return QStringLiteral("The section name \"%1\" cannot be written").arg(QString::fromLocal8Bit(section));
    const TIniLine keyLine = ParseIniLine(key + '=');
    if (breaksLine(key) || key.contains('=') || keyLine.Kind != TIniLine::TKind::Key)
        return QStringLiteral("The key name \"%1\" cannot be written").arg(name);
    if (breaksLine(value))
        return QStringLiteral("The value of %1 cannot hold a line break").arg(name);
    return QString();
}

QString LineBreakOf(const QString& line)
{
    if (line.endsWith(QStringLiteral("\r\n")))
        return QStringLiteral("\r\n");
    return line.endsWith(u'\n') ? QStringLiteral("\n") : QString();
}

QString Shown(const QString& path) { return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()); }

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

bool WriteAll(int fd, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t done = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        written += done;
    }
    return true;
}

// The file to replace: a link's target, so that the link stays a link.
QString RealPath(const QString& path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? QFileInfo(path).absoluteFilePath() : real;
}

// Why the user may not change the file, or make one beside it; empty if he may.
QString WhyNotWritable(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo::exists(path) && ::access(QFile::encodeName(path).constData(), W_OK) != 0)
        return QStringLiteral("cannot be changed by you (%1)").arg(SystemError(errno));
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("cannot be saved: its folder %1 does not let you make files (%2)")
            .arg(Shown(folder), SystemError(errno));
    return QString();
}

// A new file at temporary, locked, with the mode and owner of path when path
// exists, private otherwise; -1 with why set when it cannot be made.
int CreateTemporaryBeside(const QString& path, const QString& temporary, QString& why)
{
    if (!QFileInfo::exists(path)) {
        ::unlink(QFile::encodeName(temporary).constData());
        return OpenPrivateFileForAppending(temporary, why);
    }
    const int original = OpenRegularFileForReading(path, why);
    if (original < 0)
        return -1;
    const int fd = CreateReplacementFile(temporary, original, why);
    ::close(original);
    return fd;
}

} // namespace

TIniEditor::TIniEditor(const QByteArray& fileBytes) : m_encoding(QStringConverter::encodingForData(fileBytes))
{
    if (!m_encoding || *m_encoding == QStringConverter::Utf8) {
        // Latin-1 maps each byte to one character and back, whatever the bytes.
        m_encoding.reset();
        m_prefix = fileBytes.startsWith(Utf8Mark) ? Utf8Mark : QByteArray();
        m_lines = SplitKeepingLineBreaks(QString::fromLatin1(fileBytes.mid(m_prefix.size())));
        return;
    }
    QStringDecoder decoder(*m_encoding);
    m_lines = SplitKeepingLineBreaks(decoder(fileBytes));
    if (Bytes() != fileBytes) {
        m_problem = QStringLiteral("is not valid %1 text").arg(QString::fromLatin1(QStringConverter::nameForEncoding(*m_encoding)));
        m_encoding.reset();
        m_prefix.clear();
        m_lines = SplitKeepingLineBreaks(QString::fromLatin1(fileBytes));
    }
}

TIniLine TIniEditor::Parsed(qsizetype line) const
{
    return ParseIniLine(m_encoding ? m_lines[line].toLocal8Bit() : m_lines[line].toLatin1());
}

QString TIniEditor::Text(const QByteArray& eightBit) const
{
    return m_encoding ? QString::fromLocal8Bit(eightBit) : QString::fromLatin1(eightBit);
}

// The line break of the line `after` or, if it has none (the last line), of
// the nearest line before it: the file's own habit there.
QString TIniEditor::LineEnding(qsizetype after) const
{
    for (qsizetype i = after; i >= 0; --i)
        if (const QString ending = LineBreakOf(m_lines[i]); !ending.isEmpty())
            return ending;
    return QStringLiteral("\n");
}

TIniEditor::TFoundKey TIniEditor::Find(const QByteArray& section, const QByteArray& key) const
{
    const QByteArray wantedSection = section.trimmed().toLower();
    const QByteArray wantedKey = key.trimmed().toLower();
    TFoundKey found;
    bool inSection = false;
    bool firstBlockOver = false;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const TIniLine line = Parsed(i);
        if (line.Kind == TIniLine::TKind::Section) {
            firstBlockOver = firstBlockOver || inSection;
            inSection = line.Name == wantedSection;
            if (inSection && found.LastKeyOfSection < 0)
                found.LastKeyOfSection = i;
        } else if (inSection && line.Kind == TIniLine::TKind::Key) {
            if (!firstBlockOver)
                found.LastKeyOfSection = i;
            if (found.Line < 0 && line.Name == wantedKey)
                found.Line = i;
        }
    }
    return found;
}

QString TIniEditor::SetValue(const QByteArray& section, const QByteArray& key, const QByteArray& value)
{
    if (!m_problem.isEmpty())
        return QStringLiteral("The file ") + m_problem;
    if (const QString why = WhyNameIsRefused(section, key, value); !why.isEmpty())
        return why;
    const QString stored = Text(StoredForm(value));
    const TFoundKey found = Find(section, key);
    if (found.Line >= 0) {
        QString& line = m_lines[found.Line];
        qsizetype valueStart = line.indexOf(u'=') + 1;
        while (valueStart < line.size() && (line[valueStart] == u' ' || line[valueStart] == u'\t'))
            ++valueStart;
        line = line.left(valueStart) + stored + LineBreakOf(line);
        return QString();
    }
    const QString newKey = Text(key.trimmed()) + u'=' + stored;
    if (found.LastKeyOfSection >= 0) {
        const QString ending = LineEnding(found.LastKeyOfSection);
        if (LineBreakOf(m_lines[found.LastKeyOfSection]).isEmpty())
            m_lines[found.LastKeyOfSection] += ending;
        m_lines.insert(found.LastKeyOfSection + 1, newKey + ending);
        return QString();
    }
    const QString ending = LineEnding(m_lines.size() - 1);
    if (!m_lines.isEmpty()) {
        if (LineBreakOf(m_lines.last()).isEmpty())
            m_lines.last() += ending;
        m_lines.append(ending);
    }
    m_lines.append(u'[' + Text(section.trimmed()) + u']' + ending);
    m_lines.append(newKey + ending);
    return QString();
}

bool TIniEditor::RemoveKey(const QByteArray& section, const QByteArray& key)
{
    if (!m_problem.isEmpty())
        return false;
    bool removed = false;
    while (true) {
        const TFoundKey found = Find(section, key);
        if (found.Line < 0)
            return removed;
        m_lines.removeAt(found.Line);
        removed = true;
    }
}

QByteArray TIniEditor::Bytes() const
{
    const QString text = m_lines.join(QString());
    if (!m_encoding)
        return m_prefix + text.toLatin1();
    QStringEncoder encoder(*m_encoding, QStringConverter::Flag::WriteBom);
    return encoder(text);
}

TSaveResult SaveFileReplacing(const QString& path, const QByteArray& bytes)
{
    const QString target = RealPath(path);
    const QString file = QStringLiteral("The file %1 ").arg(Shown(path));
    // A per-user copy may be the first file of its folder.
    if (const QString folder = QFileInfo(target).absolutePath(); !QDir().mkpath(folder))
        return {TSaveOutcome::NotWritable, file + QStringLiteral("cannot be saved: its folder %1 cannot be made.").arg(Shown(folder))};
    if (const QString why = WhyNotWritable(target); !why.isEmpty())
        return {TSaveOutcome::NotWritable, file + why + u'.'};
    // The process id keeps two clients saving at once off each other's file.
    const QString temporary = target + QStringLiteral(".saving-%1").arg(::getpid());
    QString why;
    const int fd = CreateTemporaryBeside(target, temporary, why);
    if (fd < 0)
        return {TSaveOutcome::Failed, QStringLiteral("The new copy of %1 %2.").arg(Shown(path), why)};
    bool saved = WriteAll(fd, bytes);
    if (!saved)
        why = QStringLiteral("cannot be written: ") + SystemError(errno);
    saved = saved && ReplaceBySyncedFile(fd, temporary, target, why);
    ::close(fd);
    if (saved)
        return {TSaveOutcome::Saved, QString()};
    ::unlink(QFile::encodeName(temporary).constData());
    return {TSaveOutcome::Failed, QStringLiteral("The new copy of %1 %2; the file is unchanged.").arg(Shown(path), why)};
}
