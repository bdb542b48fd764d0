#pragma once
// A read-only INI file with the Windows rules: "[section]" lines and
// "key=value" lines, section and key names compared without regard to letter
// case, names and values trimmed of surrounding blanks, the first of two equal
// keys in a section wins, a section named twice is one section, lines that are
// neither (comments, blank lines) are skipped, no inline comments, no line
// continuations: "tls=1 ; on" is the value "1 ; on". A missing or unreadable
// file is an empty one, and so is one that ReadIniFileText refuses. The file
// is read once, when the object is made; later changes are not seen.
#include <QByteArray>
#include <QHash>
#include <QString>

// No real configuration comes near this; a larger file is refused unread.
inline constexpr qint64 MaxIniFileBytes = 1024 * 1024;

// Reads a configuration file into text: only a regular file (a link to one
// is followed) of at most MaxIniFileBytes, owned by the user or by root and
// writable by its owner alone, since whoever can change it decides where the
// password goes. Empty when read, else why not, as a sentence naming the file.
// Never blocks: a FIFO or a device is refused before anything is read.
QString ReadIniFileText(const QString& fileName, QByteArray& text);

// One line as the reader sees it. The editor (IniEditor.h) classifies lines
// with the same function, so that the key it changes is the one read.
struct TIniLine {
    enum class TKind { Other, Section, Key };
    TKind Kind = TKind::Other;
    QByteArray Name;  // the section's or key's name, trimmed and lower-cased
    QByteArray Value; // a key's value, trimmed, one pair of quotes removed
};
TIniLine ParseIniLine(const QByteArray& line);

class TIniFile {
public:
    // Reads the file by the given name (relative names from the current directory).
    explicit TIniFile(const QString& fileName);
    // Parses INI text already in memory.
    static TIniFile FromText(const QByteArray& text);

    // The value as 8-bit text; the default when the section or key is missing.
    QByteArray ReadString(const QByteArray& section, const QByteArray& key,
                          const QByteArray& defaultValue = QByteArray()) const;
    // The value read as a decimal integer (a leading sign allowed); the default
    // when missing or not a number.
    int ReadInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const;
    bool SectionExists(const QByteArray& section) const;
    const QString& FileName() const { return m_fileName; }

private:
    TIniFile() = default;
    void Parse(const QByteArray& text);

    QString m_fileName;
    // lower-cased section -> lower-cased key -> value
    QHash<QByteArray, QHash<QByteArray, QByteArray>> m_sections;
};

// The configuration file's name.
inline constexpr char ConfigFileName[] = "Braxo.ini";

