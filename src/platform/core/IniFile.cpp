#include "platform/core/IniFile.h"
#include <QFile>
#include <QStringDecoder>

namespace {

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

QString& ConfigPathSetting()
{
    static QString path = QString::fromLatin1(ConfigFileName);
    return path;
}
}

QString ConfigFilePath() { return ConfigPathSetting(); }

void SetConfigFilePath(const QString& path) { ConfigPathSetting() = path; }

TIniFile::TIniFile(const QString& fileName) : m_fileName(fileName)
{
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly))
        Parse(file.readAll());
}

TIniFile TIniFile::FromText(const QByteArray& text)
{
    TIniFile ini;
    ini.Parse(text);
    return ini;
}

void TIniFile::Parse(const QByteArray& text)
{
    const QByteArray body = EightBitText(text);
    QHash<QByteArray, QByteArray>* current = nullptr;
    for (QByteArray line : body.split('\n')) {
        line = line.trimmed(); // also drops the CR of CR LF endings
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            const QByteArray name = line.mid(1, close < 0 ? -1 : close - 1).trimmed().toLower();
            current = &m_sections[name];
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!current || eq <= 0)
            continue;
        const QByteArray key = line.left(eq).trimmed().toLower();
        if (key.isEmpty() || current->contains(key))
            continue;
        QByteArray value = line.mid(eq + 1).trimmed();
        // Windows strips one pair of matching quotes around a value.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        current->insert(key, value);
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
